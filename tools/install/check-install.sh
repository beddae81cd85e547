#!/bin/sh
# Installs a build into a scratch folder and checks what a person's system receives.
# usage: check-install.sh BUILD-DIR SCRATCH-DIR
set -eu
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" > /dev/null
for file in bin/quorvel bin/quorvel-score bin/quorvel-launch share/applications/quorvel.desktop \
            share/icons/hicolor/128x128/apps/quorvel.png share/quorvel/demo/init; do
    [ -e "$prefix/$file" ] || { echo "missing: $file"; exit 1; }
done
[ -d "$prefix/share/quorvel/demo/歌曲/单曲" ] || { echo "missing: the demo library"; exit 1; }
# The launcher makes the song library from the demo and starts the program there.
QUORVEL_LIBRARY="$prefix/library" "$prefix/bin/quorvel-launch" --help 2> /dev/null
[ -d "$prefix/library/歌曲/串烧歌曲" ] || { echo "the launcher made no song library"; exit 1; }
# The installed scorer reads the installed demo library.
"$prefix/bin/quorvel-score" check --library "$prefix/share/quorvel/demo" 纸船与月光
echo "installation complete"

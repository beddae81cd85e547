// Folding text for the search box, so that a search is blind to letter case and accents: "Café",
// "CAFE" and "cafe" fold alike, "Ärzte" is found by "arzte", Cyrillic letters fold to lower case,
// and Chinese, Japanese and Korean text is unchanged (kana keep their voicing marks).
#pragma once

#include <QString>
#include <QStringList>

#include "library/songentry.h"

namespace library {

// Compatibility decomposition (NFKD: full-width letters become plain ones), without the
// non-spacing marks (accents) except the kana voicing marks, recomposed (NFC), case-folded.
QString FoldForSearch(const QString& text);

// What the search box matches an entry by: "artist title" for an UltraStar song that has a title,
// else its shown name; folded.
QString SearchKey(const SongEntry& entry);

// The words typed into the search box, folded; empty when nothing but spaces was typed.
QStringList SearchWords(const QString& typed);

// Whether every word occurs in the folded key (no words: everything matches). O(words × key).
bool MatchesWords(const QString& key, const QStringList& words);

}  // namespace library

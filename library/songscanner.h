// One scan of the library's folders: every root searched recursively for songs, synchronously on
// the calling thread (CSongLibrary runs it on its worker). A folder is
// - a native song when it holds a file "断点": listed by its folder name, not searched further;
// - an UltraStar song when it holds ".txt" files (and no "断点"): one entry for each ".txt" that
//   reads as UltraStar, or looks like one (its first line that is not blank is a "#NAME:" header)
//   but cannot be read, listed then with its problem. Folders holding UltraStar songs are searched
//   further (a collection's folders may be nested in any way). A folder whose ".txt" files are
//   none of that but that holds an audio file is listed once, with its problem.
// Only the header part of a ".txt" is read (never more than kHeaderLimit bytes), through
// platform::CInputFile: a FIFO or a device is never opened for reading, a file over the song
// reader's limit (16 MiB) is a problem. A ".txt" whose size and modification time are those the
// cache remembers is not read again. Symbolic links are followed, each folder is entered once
// (a link loop ends), hidden folders (".name") are skipped, and nesting ends at kDeepest levels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "library/libraryroot.h"
#include "library/songcache.h"
#include "library/songentry.h"

namespace library {

class CSongScanner {
public:
    struct Result {
        std::vector<SongEntry> entries;  // sorted (Sort)
        CSongCache::Files files;         // every ".txt" looked at, as it read
        bool bComplete = true;           // false when cancelled
        int nFolders = 0;                // folders entered
        int nFilesRead = 0;              // ".txt" files read (not taken from the cache)
    };

    // previous: the cache of the last scan (may be empty). cancelled: polled between folders;
    // once it returns true the scan ends early with bComplete false.
    explicit CSongScanner(const CSongCache& previous, std::function<bool()> cancelled = {})
        : m_previous(previous), m_cancelled(std::move(cancelled)) {}

    Result Scan(const std::vector<LibraryRoot>& roots);

    // What a ".txt" reads as, from its header part (for the file at path, of the given size).
    static TextFileRecord ReadTextFile(const std::string& path);

    // Sorts entries as the lists show them: by name as a Chinese reader orders names (Chinese
    // names by pinyin, then the others alphabetically, letter case and accents aside), then by
    // folder.
    static void Sort(std::vector<SongEntry>& entries);

    static constexpr int kDeepest = 32;               // folder levels below a root
    static constexpr int64_t kHeaderLimit = 1 << 20;  // bytes read for a file's headers

private:
    const CSongCache& m_previous;
    std::function<bool()> m_cancelled;
};

}  // namespace library

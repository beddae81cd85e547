// The song library: the folders searched for songs (the bundled library's "歌曲/单曲" and
// "歌曲/串烧歌曲", and the folders the user added), a scan of them on a worker thread of its own
// (never on the caller's), the entries found and the scan cache in the user's data folder.
//
// The worker loads the cache once, before its first scan, and publishes the cached entries at
// once when they were scanned for the same folders; every scan then publishes what it found.
// Requests do not pile up: one made while a scan runs makes one more scan after it, and a change
// of the folders abandons a scan of the old ones. The entries are shared immutable vectors; the
// changed handler runs on the worker thread after each change, and whoever shows the entries
// posts to its own thread from there.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library/libraryroot.h"
#include "library/songentry.h"

namespace library {

class CSongLibrary {
public:
    // cachePath: the cache file ("" keeps no cache).
    explicit CSongLibrary(std::string cachePath = DefaultCachePath());
    ~CSongLibrary();  // Stop
    CSongLibrary(const CSongLibrary&) = delete;
    CSongLibrary& operator=(const CSongLibrary&) = delete;

    // "songlibrary.cache" in the user's data folder (QStandardPaths::AppDataLocation); "" when
    // there is none.
    static std::string DefaultCachePath();

    // Runs on the worker thread after the entries changed. Set it before the first scan.
    void SetChangedHandler(std::function<void()> changed);

    // The folders to search, in order; a scan of them follows.
    void SetRoots(std::vector<LibraryRoot> roots);
    std::vector<LibraryRoot> Roots() const;
    // Asks for a scan of the folders (songs added, removed or changed are then noticed).
    void Rescan();

    struct Snapshot {
        std::shared_ptr<const std::vector<SongEntry>> entries;  // sorted; never null
        unsigned nGeneration = 0;  // counts the changes published so far
        bool bIdle = true;         // no scan runs and none is asked for
    };
    Snapshot Current() const;
    // The entries now: the last scan's, or the cache's before the first scan ends.
    std::shared_ptr<const std::vector<SongEntry>> Entries() const { return Current().entries; }
    // Scans finished (complete) since construction.
    unsigned FinishedScans() const;

    // Ends the worker: a scan running stops between two folders. No handler runs afterwards.
    void Stop();

private:
    void StartWorker();  // with m_mutex held
    void Run();
    void Publish(std::vector<SongEntry> entries);

    const std::string m_strCachePath;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::function<void()> m_changed;
    std::vector<LibraryRoot> m_roots;
    std::shared_ptr<const std::vector<SongEntry>> m_entries;
    unsigned m_nGeneration = 0;
    unsigned m_nFinished = 0;
    bool m_bRequest = false;   // a scan is asked for
    bool m_bScanning = false;  // the worker is loading the cache or scanning
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRestart{false};  // the folders changed: a scan running is abandoned
    std::thread m_worker;
};

}  // namespace library

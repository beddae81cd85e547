#include "library/songlibrary.h"

#include <QStandardPaths>
#include <QString>

#include <filesystem>
#include <system_error>
#include <utility>

#include "library/musiccheck.h"
#include "library/songcache.h"
#include "library/songscanner.h"

namespace library {

CSongLibrary::CSongLibrary(std::string cachePath)
    : m_strCachePath(std::move(cachePath)),
      m_entries(std::make_shared<const std::vector<SongEntry>>()) {}

CSongLibrary::~CSongLibrary() { Stop(); }

std::string CSongLibrary::DefaultCachePath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty()) return {};
    return (folder + QStringLiteral("/songlibrary.cache")).toStdString();
}

void CSongLibrary::SetChangedHandler(std::function<void()> changed) {
    std::lock_guard lock(m_mutex);
    m_changed = std::move(changed);
}

void CSongLibrary::SetRoots(std::vector<LibraryRoot> roots) {
    {
        std::lock_guard lock(m_mutex);
        m_roots = std::move(roots);
        if (m_bStop) return;
        m_bRequest = true;
        m_bRestart = true;
        StartWorker();
    }
    m_wake.notify_one();
}

std::vector<LibraryRoot> CSongLibrary::Roots() const {
    std::lock_guard lock(m_mutex);
    return m_roots;
}

void CSongLibrary::Rescan() {
    {
        std::lock_guard lock(m_mutex);
        if (m_bStop) return;
        m_bRequest = true;
        StartWorker();
    }
    m_wake.notify_one();
}

CSongLibrary::Snapshot CSongLibrary::Current() const {
    std::lock_guard lock(m_mutex);
    return {m_entries, m_nGeneration, !m_bRequest && !m_bScanning};
}

unsigned CSongLibrary::FinishedScans() const {
    std::lock_guard lock(m_mutex);
    return m_nFinished;
}

void CSongLibrary::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
        m_bRequest = false;
    }
    m_wake.notify_one();
    if (m_worker.joinable()) m_worker.join();
}

void CSongLibrary::StartWorker() {
    if (!m_worker.joinable()) m_worker = std::thread([this] { Run(); });
}

void CSongLibrary::Publish(std::vector<SongEntry> entries) {
    std::function<void()> changed;
    {
        std::lock_guard lock(m_mutex);
        if (*m_entries == entries) return;
        m_entries = std::make_shared<const std::vector<SongEntry>>(std::move(entries));
        ++m_nGeneration;
        changed = m_changed;
    }
    if (changed) changed();
}

void CSongLibrary::Run() {
    // Only this thread touches the cache.
    CSongCache cache(m_strCachePath);
    bool cacheLoaded = false;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || m_bRequest; });
        if (m_bStop) return;
        m_bRequest = false;
        m_bRestart = false;
        m_bScanning = true;
        const std::vector<LibraryRoot> roots = m_roots;
        lock.unlock();

        // The cache knows the folders by their absolute paths: the bundled library's relative
        // ones name other folders in another working directory.
        std::vector<LibraryRoot> resolved = roots;
        for (LibraryRoot& root : resolved) {
            std::error_code error;
            const std::filesystem::path absolute = std::filesystem::absolute(root.strPath, error);
            if (!error) root.strPath = absolute.lexically_normal().string();
        }
        if (!cacheLoaded) {
            cacheLoaded = true;
            // What the last run found shows at once, while the scan checks it.
            if (!m_strCachePath.empty() && cache.Load() && cache.Roots() == resolved)
                Publish(cache.Entries());
        }
        const auto cancelled = [this] { return m_bStop || m_bRestart; };
        CSongScanner scanner(cache, cancelled);
        CSongScanner::Result result = scanner.Scan(roots);
        // The songs' music: what earlier looks found shows with the list at once, the songs not
        // looked at yet follow.
        CMusicCheck musicCheck(cache, cancelled);
        CSongCache::Music music;
        if (result.bComplete)
            result.bComplete = musicCheck.Check(result.entries, CMusicCheck::Pass::Kept, music);
        if (result.bComplete) {
            Publish(result.entries);
            result.bComplete = musicCheck.Check(result.entries, CMusicCheck::Pass::All, music);
        }
        if (result.bComplete) {
            const bool changed = resolved != cache.Roots() || result.entries != cache.Entries() ||
                                 result.files != cache.TextFiles() || music != cache.MusicRecords();
            cache.Set(std::move(resolved), result.entries, std::move(result.files));
            cache.SetMusic(std::move(music));
            if (changed && !m_strCachePath.empty()) cache.Save();
            Publish(std::move(result.entries));
        }

        lock.lock();
        if (result.bComplete) ++m_nFinished;
        m_bScanning = false;
    }
}

}  // namespace library

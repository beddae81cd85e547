// Song pictures for the song list: each decoded on a thread of its own, fitted into a small
// square as it is read (QImageReader's scaled size, so a large JPEG is never decoded whole), and
// kept in a cache of the pictures used last. The thread that made the loader (the window's) only
// looks in the cache and asks; it never opens a file. A picture that is missing, is not a regular
// file, is too large or does not decode is known as missing and shows the default art.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

class CCoverLoader : public QObject {
public:
    explicit CCoverLoader(QObject* parent = nullptr, std::size_t cacheBytes = kCacheBytes);
    ~CCoverLoader() override;  // the decoding thread ends; nothing is reported afterwards
    CCoverLoader(const CCoverLoader&) = delete;
    CCoverLoader& operator=(const CCoverLoader&) = delete;

    enum class State { Ready, Pending, Missing };
    // The picture of the file at path fitted into side × side pixels (premultiplied ARGB): Ready
    // with it from the cache; Pending while it is decoded (asked for once; the ready handler
    // follows); Missing when path is empty or the file gives no picture. Only on the loader's
    // thread.
    State Find(const QString& path, int side, QImage& image);
    // Runs on the loader's thread when a picture asked for is decoded or found missing.
    void SetReadyHandler(std::function<void(const QString& path, int side)> ready) {
        m_ready = std::move(ready);
    }
    // Runs on the decoding thread before each decode (for tests).
    void SetDecodeHook(std::function<void()> hook);

    // The picture as Find gives it, or the default art when there is none yet (Pending, Missing).
    QImage PictureOrDefault(const QString& path, int side);
    // The default art: a note on the stage's purple, side × side pixels (made once per size).
    static QImage DefaultArt(int side);
    // The decode itself, on any thread: the file's picture fitted into side × side; a null image
    // when the file cannot be read (not a regular file, over kLargestFile) or decoded.
    static QImage Decode(const std::string& path, int side);

    // Pictures decoded so far (for tests and the benchmarks).
    int Decoded() const { return m_nDecoded; }

    static constexpr std::size_t kCacheBytes = 24 << 20;
    static constexpr std::size_t kMostQueued = 256;  // older requests are dropped (asked again)
    static constexpr int64_t kLargestFile = 16 << 20;
    static constexpr int64_t kMostPixels = 40'000'000;  // of the picture in the file
    static constexpr int kNiceness = 10;                // of the decoding thread

private:
    using Key = std::pair<QString, int>;
    struct Cached {
        QImage image;  // null: missing
        std::list<Key>::iterator use;
    };

    void Run();
    // On the loader's thread: a decode's result into the cache, and the handler told.
    void Deliver(const Key& key, const QImage& image);
    static std::size_t Cost(const QImage& image);

    // The loader's thread only.
    std::map<Key, Cached> m_cache;
    std::list<Key> m_uses;  // the most recently used first
    std::size_t m_nCacheBytes = 0;
    const std::size_t m_nMostBytes;
    std::set<Key> m_pending;  // asked for, not delivered yet
    std::function<void(const QString&, int)> m_ready;
    int m_nDecoded = 0;

    // Shared with the decoding thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Key> m_queue;  // the newest last: taken first (the rows just scrolled to)
    std::function<void()> m_decodeHook;
    bool m_bStop = false;
    std::thread m_worker;
};

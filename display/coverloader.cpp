#include "display/coverloader.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QLinearGradient>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "platform/filebytes.h"

CCoverLoader::CCoverLoader(QObject* parent, std::size_t cacheBytes)
    : QObject(parent), m_nMostBytes(cacheBytes), m_worker([this] { Run(); }) {}

CCoverLoader::~CCoverLoader() {
    {
        const std::lock_guard lock(m_mutex);
        m_bStop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_worker.join();
    // What the thread posted and did not run yet goes with this object.
}

void CCoverLoader::SetDecodeHook(std::function<void()> hook) {
    const std::lock_guard lock(m_mutex);
    m_decodeHook = std::move(hook);
}

CCoverLoader::State CCoverLoader::Find(const QString& path, int side, QImage& image) {
    image = QImage();
    if (path.isEmpty() || side <= 0) return State::Missing;
    Key key{path, side};
    if (const auto found = m_cache.find(key); found != m_cache.end()) {
        m_uses.splice(m_uses.begin(), m_uses, found->second.use);
        image = found->second.image;
        return image.isNull() ? State::Missing : State::Ready;
    }
    if (m_pending.insert(key).second) {
        {
            const std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(key));
            if (m_queue.size() > kMostQueued) {
                // Rows long scrolled past: asked for again should they show again.
                m_pending.erase(m_queue.front());
                m_queue.pop_front();
            }
        }
        m_wake.notify_one();
    }
    return State::Pending;
}

QImage CCoverLoader::PictureOrDefault(const QString& path, int side) {
    QImage image;
    return Find(path, side, image) == State::Ready ? image : DefaultArt(side);
}

void CCoverLoader::Run() {
    // Below the window's thread: on a busy machine a frame of the list comes before a picture.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kNiceness);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
        if (m_bStop) return;
        const Key key = std::move(m_queue.back());
        m_queue.pop_back();
        const std::function<void()> hook = m_decodeHook;
        lock.unlock();
        if (hook) hook();
        const QImage image = Decode(key.first.toStdString(), key.second);
        QMetaObject::invokeMethod(
            this, [this, key, image] { Deliver(key, image); }, Qt::QueuedConnection);
        lock.lock();
    }
}

void CCoverLoader::Deliver(const Key& key, const QImage& image) {
    m_pending.erase(key);
    ++m_nDecoded;
    if (m_cache.find(key) == m_cache.end()) {
        m_uses.push_front(key);
        m_cache.emplace(key, Cached{image, m_uses.begin()});
        m_nCacheBytes += Cost(image);
        // The pictures used longest ago leave first; the one just come stays.
        while (m_nCacheBytes > m_nMostBytes && m_uses.size() > 1) {
            const auto oldest = m_cache.find(m_uses.back());
            m_nCacheBytes -= Cost(oldest->second.image);
            m_cache.erase(oldest);
            m_uses.pop_back();
        }
    }
    if (m_ready) m_ready(key.first, key.second);
}

std::size_t CCoverLoader::Cost(const QImage& image) {
    return 64 + static_cast<std::size_t>(std::max<qsizetype>(image.sizeInBytes(), 0));
}

QImage CCoverLoader::Decode(const std::string& path, int side) {
    std::string bytes, problem;
    // Never blocking (a FIFO or device in the picture's place is refused), never too large.
    if (side <= 0 || !platform::ReadFileBytes(path, bytes, problem, kLargestFile)) return {};
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() ||
        static_cast<int64_t>(size.width()) * size.height() > kMostPixels)
        return {};
    reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull()) return {};
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

QImage CCoverLoader::DefaultArt(int side) {
    static std::mutex mutex;
    static std::map<int, QImage> made;
    const std::lock_guard lock(mutex);
    side = std::max(side, 1);
    if (const auto found = made.find(side); found != made.end()) return found->second;
    QImage art(side, side, QImage::Format_ARGB32_Premultiplied);
    art.fill(Qt::transparent);
    QPainter painter(&art);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = side;
    QLinearGradient ground(0, 0, s, s);
    ground.setColorAt(0, QColor(0x4b, 0x1f, 0x86));  // the stage's purple to its indigo
    ground.setColorAt(1, QColor(0x1c, 0x0f, 0x48));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ground);
    painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.12, s * 0.12);
    // Two quavers joined by a beam, in gold.
    const QColor gold(0xff, 0xc2, 0x3d);
    painter.setBrush(gold);
    const double head = s * 0.17, stem = s * 0.06;
    const QPointF left(s * 0.34, s * 0.70), right(s * 0.68, s * 0.62);
    for (const QPointF& centre : {left, right}) {
        painter.save();
        painter.translate(centre);
        painter.rotate(-20);
        painter.drawEllipse(QPointF(0, 0), head * 0.62, head * 0.45);
        painter.restore();
    }
    const double top = s * 0.24;
    painter.drawRect(
        QRectF(left.x() + head * 0.5, top + s * 0.06, stem, left.y() - top - s * 0.06));
    painter.drawRect(
        QRectF(right.x() + head * 0.5, top - s * 0.02, stem, right.y() - top + s * 0.02));
    QPainterPath beam;
    beam.moveTo(left.x() + head * 0.5, top + s * 0.06);
    beam.lineTo(right.x() + head * 0.5 + stem, top - s * 0.02);
    beam.lineTo(right.x() + head * 0.5 + stem, top + s * 0.10);
    beam.lineTo(left.x() + head * 0.5, top + s * 0.18);
    beam.closeSubpath();
    painter.drawPath(beam);
    painter.end();
    made.emplace(side, art);
    return art;
}

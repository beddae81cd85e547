#include "controls/pictureex.h"

#include <QApplication>
#include <QByteArray>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <span>
#include <system_error>

#include "controls/gifparser.h"
#include "platform/inputfile.h"
#include "platform/messages.h"
#include "res/resources.h"

namespace {

const QColor kWhite(0xFF, 0xFF, 0xFF);
constexpr auto kStopWait = std::chrono::milliseconds(5000);
// The largest buffer made, in bytes (32 bits a pixel): as much as the decoder itself allows.
constexpr long long kMaxBufferBytes = 256LL * 1024 * 1024;

// The frame's own rectangle out of what the decoder made of its single-frame GIF: the decoder
// draws the frame onto the whole logical screen. Pixels outside what it made stay transparent.
QImage FramePicture(const QImage& decoded, const controls::GifFrameSlice& slice) {
    if (slice.nWidth <= 0 || slice.nHeight <= 0) return QImage();
    QImage picture(slice.nWidth, slice.nHeight, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) return picture;
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), decoded,
                      QRect(slice.nLeft, slice.nTop, slice.nWidth, slice.nHeight));
    return picture;
}

std::string Format(const char* pattern, const std::string& value) {
    const int length = std::snprintf(nullptr, 0, pattern, value.c_str());
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, value.c_str());
    return text;
}

}  // namespace

// What the animation thread works on. The control and the thread each hold it; when the thread
// does not stop in time the control lets go of it and the thread keeps it until it ends.
struct CPictureEx::Animation {
    std::mutex mutex;
    std::condition_variable wake;  // the exit event, and the thread's end
    bool bExitEvent = false;       // the exit event is signalled (manual reset)
    bool bFinished = false;        // the thread has left its loop
    std::atomic<bool> bExitThread{false};
    std::atomic<bool> bPlaying{false};
    CPictureEx* pOwner = nullptr;  // where repaints go; null once the control has let go

    QImage buffer;  // Format_RGB32 of the picture size
    QImage savedBackground;
    QColor background = kWhite;
    std::vector<GifFrame> frames;
    size_t nCurrentFrame = 0;

    // The rules of the animation; each takes the lock.
    bool Compose() {
        std::lock_guard lock(mutex);
        if (nCurrentFrame >= frames.size() || buffer.isNull()) return false;
        const GifFrame& frame = frames[nCurrentFrame];
        if (frame.picture.isNull()) return false;
        if (frame.nDisposal == 3)
            savedBackground = buffer.copy(frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight);
        QPainter painter(&buffer);
        painter.drawImage(QRect(frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight),
                          frame.picture);
        return true;
    }

    void Dispose() {
        std::lock_guard lock(mutex);
        if (nCurrentFrame >= frames.size() || buffer.isNull()) return;
        const GifFrame& frame = frames[nCurrentFrame];
        if (frame.nDisposal == 2) {
            QPainter(&buffer).fillRect(frame.nLeft, frame.nTop, frame.nWidth, frame.nHeight,
                                       background);
        } else if (frame.nDisposal == 3 && !savedBackground.isNull()) {
            QPainter painter(&buffer);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(QPoint(frame.nLeft, frame.nTop), savedBackground);
            savedBackground = QImage();
        }
    }

    void Advance() {
        std::lock_guard lock(mutex);
        if (frames.empty()) return;
        if (++nCurrentFrame >= frames.size()) {
            nCurrentFrame = 0;
            if (!buffer.isNull()) buffer.fill(background);
        }
    }

    int CurrentWaitMs() {
        std::lock_guard lock(mutex);
        return nCurrentFrame < frames.size() ? FrameWaitMs(frames[nCurrentFrame].nDelay) : 100;
    }

    // A repaint of the control, posted to its thread; it is dropped if the control goes first.
    void Invalidate() {
        std::lock_guard lock(mutex);
        if (CPictureEx* owner = pOwner)
            QMetaObject::invokeMethod(
                owner, [owner] { owner->update(); }, Qt::QueuedConnection);
    }
};

CPictureEx::CPictureEx(QWidget* parent)
    : QWidget(parent), m_pAnimation(std::make_shared<Animation>()) {
    m_pAnimation->pOwner = this;
}

CPictureEx::~CPictureEx() { Reset(); }

int CPictureEx::FrameWaitMs(uint32_t nDelay) {
    if (nDelay == controls::kGifNoDelay || nDelay < 5) return 100;
    return static_cast<int>(nDelay) * 10;
}

bool CPictureEx::Load(int nResourceId, const char* szResourceType) {
    return LoadResource(nResourceId, szResourceType, std::to_string(nResourceId));
}

bool CPictureEx::LoadResource(int nResourceId, const char* szResourceType,
                              const std::string& name) {
    Reset();
    QByteArray bytes;
    if (szResourceType && qstricmp(szResourceType, "GIF") == 0) bytes = res::LoadGif(nResourceId);
    if (bytes.isEmpty()) {
        platform::Trace(Format("Load (resource): Error loading resource %s\n", name));
        return false;
    }
    std::vector<uint8_t> copy;
    try {
        copy.assign(bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
        platform::Trace("Load (resource): Error allocating memory\n");
        return false;
    }
    return Load(copy.data(), copy.size());
}

bool CPictureEx::Load(const char* szResourceName, const char* szResourceType) {
    const std::string name = szResourceName ? szResourceName : "";
    const char* digits = name.c_str() + (name.starts_with('#') ? 1 : 0);
    char* end = nullptr;
    const long id = std::strtol(digits, &end, 10);
    if (*digits >= '0' && *digits <= '9' && *end == '\0' && id <= INT32_MAX)
        return LoadResource(static_cast<int>(id), szResourceType, name);
    Reset();
    platform::Trace(Format("Load (resource): Error loading resource %s\n", name));
    return false;
}

bool CPictureEx::Load(const std::string& strFileName) {
    Reset();
    // Opened without blocking and only as a regular file, read up to the picture limit: a FIFO,
    // a device or a huge file is refused instead of hanging or filling memory.
    platform::CInputFile file;
    using Problem = platform::CInputFile::Problem;
    if (!file.Open(strFileName) && file.GetProblem() != Problem::Folder) {
        const std::string why = file.GetProblem() == Problem::Missing
                                    ? std::string()
                                    : ": " + file.ProblemText(platform::TextLanguage::English);
        platform::Trace(Format("Load (file): Error opening file %s\n", strFileName + why));
        return false;
    }
    std::string bytes;
    bool readError = file.GetProblem() == Problem::Folder;
    try {
        if (!readError && !file.ReadAll(bytes, platform::kPictureFileLimit)) {
            if (file.GetProblem() == Problem::TooLarge) {
                platform::Trace(
                    Format("Load (file): The file %s\n",
                           strFileName + " " + file.ProblemText(platform::TextLanguage::English)));
                return false;
            }
            readError = true;
        }
    } catch (const std::bad_alloc&) {
        platform::Trace("Load (file): Error allocating memory\n");
        return false;
    }
    if (readError) {
        platform::Trace(
            Format("Load (file): An exception occured while reading the file %s\n", strFileName));
        return false;
    }
    static const uint8_t kNothing = 0;
    return Load(bytes.empty() ? &kNothing : reinterpret_cast<const uint8_t*>(bytes.data()),
                bytes.size());
}

bool CPictureEx::Load(const void* pData, size_t nSize) {
    Reset();
    if (!pData) {
        platform::Trace("Load: Error locking memory\n");
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(pData);
    bool loaded;
    if (nSize < 3 || std::memcmp(bytes, "GIF", 3) != 0) {
        loaded = LoadStill(bytes, nSize);
        m_PictureSize = m_StillPicture.size();
    } else {
        m_bIsGIF = true;
        loaded = LoadFrames(bytes, nSize);
    }
    if (loaded && PrepareBuffer(m_PictureSize.width(), m_PictureSize.height())) return true;
    Reset();  // a failed load leaves the control empty
    return false;
}

bool CPictureEx::LoadStill(const uint8_t* pData, size_t nSize) {
    if (nSize > static_cast<size_t>(INT32_MAX)) return false;
    m_StillPicture = QImage::fromData(QByteArray::fromRawData(reinterpret_cast<const char*>(pData),
                                                              static_cast<qsizetype>(nSize)));
    // Kept premultiplied, the form that is quickest to draw.
    if (!m_StillPicture.isNull())
        m_StillPicture = m_StillPicture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return !m_StillPicture.isNull();
}

bool CPictureEx::LoadFrames(const uint8_t* pData, size_t nSize) {
    controls::CGifParser parser(std::span(pData, nSize));
    m_PictureSize = QSize(parser.ScreenWidth(), parser.ScreenHeight());
    const int blocks = parser.CountGraphicBlocks();
    if (blocks == 0) return false;
    if (blocks == 1) return LoadStill(pData, nSize);

    std::vector<GifFrame> frames;
    controls::GifFrameSlice slice;
    for (int i = 0; i < blocks && parser.NextFrame(slice); ++i) {
        const std::vector<uint8_t> single = parser.BuildFrameGif(slice);
        if (single.size() > static_cast<size_t>(INT32_MAX)) continue;
        const QImage decoded = QImage::fromData(single.data(), static_cast<int>(single.size()));
        if (decoded.isNull()) continue;  // left out of the animation
        frames.push_back(GifFrame{FramePicture(decoded, slice), slice.nWidth, slice.nHeight,
                                  slice.nLeft, slice.nTop, slice.nDelay, slice.nDisposal});
    }
    if (frames.empty()) return false;
    std::lock_guard lock(m_pAnimation->mutex);
    m_pAnimation->frames = std::move(frames);
    return true;
}

bool CPictureEx::PrepareBuffer(int nWidth, int nHeight) {
    resize(nWidth, nHeight);
    if (nWidth <= 0 || nHeight <= 0 || 4LL * nWidth * nHeight > kMaxBufferBytes) return false;
    QImage buffer(nWidth, nHeight, QImage::Format_RGB32);
    if (buffer.isNull()) return false;
    buffer.fill(QApplication::palette("QMenu").color(QPalette::Window));
    {
        std::lock_guard lock(m_pAnimation->mutex);
        m_pAnimation->buffer = std::move(buffer);
        m_pAnimation->background = palette().color(QPalette::Button);
    }
    m_bBufferReady = true;
    return true;
}

void CPictureEx::Draw() {
    if (!m_bBufferReady) {
        platform::Trace(
            "Call one of the CPictureEx::Load() member functions before calling Draw()\n");
        return;
    }
    if (IsAnimatedGIF()) {
        if (m_Thread.joinable()) return;  // already playing
        try {
            m_Thread = std::thread(RunAnimation, m_pAnimation);
        } catch (const std::system_error&) {
            platform::Trace("Draw: Couldn't start a GIF animation thread\n");
        }
        return;
    }
    if (m_StillPicture.isNull()) return;
    {
        std::lock_guard lock(m_pAnimation->mutex);
        QPainter(&m_pAnimation->buffer)
            .drawImage(QRect(QPoint(0, 0), m_PictureSize), m_StillPicture);
    }
    update();
}

void CPictureEx::RunAnimation(const std::shared_ptr<Animation>& animation) {
    Animation& a = *animation;
    a.bPlaying = true;
    a.Dispose();  // as if the current frame had just been shown
    while (!a.bExitThread) {
        if (a.Compose()) a.Invalidate();
        if (a.bExitThread) break;
        const auto wait = std::chrono::milliseconds(a.CurrentWaitMs());
        {
            std::unique_lock lock(a.mutex);
            a.wake.wait_for(lock, wait, [&a] { return a.bExitEvent; });
        }
        if (a.bExitThread) break;
        a.Dispose();
        a.Advance();
    }
    a.bPlaying = false;
    {
        std::lock_guard lock(a.mutex);
        a.bFinished = true;
    }
    a.wake.notify_all();
}

void CPictureEx::StopAnimation() {
    Animation& a = *m_pAnimation;
    a.bPlaying = false;
    a.bExitThread = true;
    {
        std::lock_guard lock(a.mutex);
        a.bExitEvent = true;
    }
    a.wake.notify_all();
    if (m_Thread.joinable()) {
        bool finished;
        {
            std::unique_lock lock(a.mutex);
            finished = a.wake.wait_for(lock, kStopWait, [&a] { return a.bFinished; });
        }
        if (finished) {
            m_Thread.join();
        } else {
            // The thread keeps its block until it ends; the control goes on with a copy.
            auto copy = std::make_shared<Animation>();
            {
                std::lock_guard lock(a.mutex);
                a.pOwner = nullptr;
                copy->buffer = a.buffer.copy();
                copy->background = a.background;
                copy->frames = a.frames;
                copy->nCurrentFrame = a.nCurrentFrame;
            }
            copy->pOwner = this;
            m_Thread.detach();
            m_pAnimation = std::move(copy);
            return;
        }
    }
    std::lock_guard lock(a.mutex);
    a.bExitEvent = false;
    a.bFinished = false;
    a.bExitThread = false;
}

void CPictureEx::Reset() {
    StopAnimation();
    {
        Animation& a = *m_pAnimation;
        std::lock_guard lock(a.mutex);
        a.frames.clear();
        a.buffer = QImage();
        a.savedBackground = QImage();
        a.background = kWhite;
        a.nCurrentFrame = 0;
    }
    m_StillPicture = QImage();
    m_rcPaint = QRect();
    m_PictureSize = QSize();
    m_bIsGIF = false;
    m_bBufferReady = false;
}

void CPictureEx::SetBkColor(const QColor& color) {
    std::lock_guard lock(m_pAnimation->mutex);
    m_pAnimation->background = color;
    if (m_bBufferReady) m_pAnimation->buffer.fill(color);
}

QColor CPictureEx::GetBkColor() const {
    std::lock_guard lock(m_pAnimation->mutex);
    return m_pAnimation->background;
}

void CPictureEx::SetPaintRect(const QRect& rect) { m_rcPaint = rect; }

bool CPictureEx::IsAnimatedGIF() const { return m_bIsGIF && GetFrameCount() > 1; }

bool CPictureEx::IsPlaying() const { return m_pAnimation->bPlaying; }

int CPictureEx::GetFrameCount() const {
    std::lock_guard lock(m_pAnimation->mutex);
    return static_cast<int>(m_pAnimation->frames.size());
}

CPictureEx::GifFrame CPictureEx::GetFrame(int index) const {
    std::lock_guard lock(m_pAnimation->mutex);
    const auto& frames = m_pAnimation->frames;
    return index >= 0 && static_cast<size_t>(index) < frames.size()
               ? frames[static_cast<size_t>(index)]
               : GifFrame{};
}

int CPictureEx::GetCurrentFrame() const {
    std::lock_guard lock(m_pAnimation->mutex);
    return static_cast<int>(m_pAnimation->nCurrentFrame);
}

int CPictureEx::GetFrameWaitMs(int index) const { return FrameWaitMs(GetFrame(index).nDelay); }

QImage CPictureEx::GetBuffer() const {
    std::lock_guard lock(m_pAnimation->mutex);
    return m_pAnimation->buffer.copy();
}

void CPictureEx::ComposeCurrentFrame() {
    if (m_pAnimation->Compose()) update();
}

void CPictureEx::DisposeCurrentFrame() { m_pAnimation->Dispose(); }

void CPictureEx::AdvanceFrame() { m_pAnimation->Advance(); }

void CPictureEx::paintEvent(QPaintEvent*) {
    if (!m_bBufferReady) return;
    QPainter painter(this);
    std::lock_guard lock(m_pAnimation->mutex);
    if (m_rcPaint.width() < 1)
        painter.drawImage(QPoint(0, 0), m_pAnimation->buffer);
    else
        painter.drawImage(QPoint(0, 0), m_pAnimation->buffer,
                          QRect(m_rcPaint.topLeft(), m_rcPaint.size()));
}

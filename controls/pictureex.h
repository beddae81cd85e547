// A static picture control that plays animated GIFs. It parses the GIF block structure itself
// (controls/gifparser.h), cuts the file into one single-frame GIF per frame and hands each to the
// picture decoder (QImage::fromData); a still picture or any other image goes to the decoder
// whole. An animated GIF plays in a worker thread of the control that composes the frames into
// an off-screen buffer with their disposal methods; painting copies the buffer to the window.
//
// Everything the animation thread touches (the buffer, the saved background, the frames, the
// current frame, the background colour) lives in one shared block guarded by a mutex, so that a
// paint never reads a half-drawn buffer and a thread that does not stop in time keeps what it
// uses. The thread's repaints are posted to the control's own thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CPictureEx : public QWidget {
public:
    // One frame of an animated GIF, in file order.
    struct GifFrame {
        QImage picture;  // the frame's own width × height, transparent where the GIF says so
        int nWidth = 0;
        int nHeight = 0;
        int nLeft = 0;
        int nTop = 0;
        uint32_t nDelay =
            0;              // hundredths of a second; all ones without a graphic control extension
        int nDisposal = 0;  // 0 to 7
    };

    explicit CPictureEx(QWidget* parent = nullptr);
    ~CPictureEx() override;
    CPictureEx(const CPictureEx&) = delete;
    CPictureEx& operator=(const CPictureEx&) = delete;

    // A resource of the program: type "GIF" finds the animated GIFs by id (res::LoadGif). The
    // name form takes "#237" or "237".
    bool Load(int nResourceId, const char* szResourceType);
    bool Load(const char* szResourceName, const char* szResourceType);
    // A whole file.
    bool Load(const std::string& strFileName);
    // A block of bytes, which need not outlive the call; true when a picture was decoded and the
    // buffer made.
    bool Load(const void* pData, size_t nSize);

    // Starts the animation of an animated GIF, or renders a still picture once.
    void Draw();
    // Ends the animation thread; waits for it at most 5 s.
    void StopAnimation();
    // Stops the animation and releases everything Load made.
    void Reset();

    // The background colour; when the buffer is ready, the whole buffer is filled with it.
    void SetBkColor(const QColor& color);
    void SetBackground(const QColor& color) { SetBkColor(color); }
    QColor GetBkColor() const;

    // The part of the picture that painting shows, from its top-left corner; an empty rectangle
    // (width < 1) shows the whole picture.
    void SetPaintRect(const QRect& rect);
    QRect GetPaintRect() const { return m_rcPaint; }

    QSize GetSize() const { return m_PictureSize; }
    bool IsGIF() const { return m_bIsGIF; }
    bool IsAnimatedGIF() const;
    bool IsPlaying() const;
    int GetFrameCount() const;
    bool IsBufferReady() const { return m_bBufferReady; }
    bool HasStillPicture() const { return !m_StillPicture.isNull(); }
    bool HasAnimationThread() const { return m_Thread.joinable(); }

    GifFrame GetFrame(int index) const;
    int GetCurrentFrame() const;
    // A copy of the off-screen buffer, taken under the lock; null when there is none.
    QImage GetBuffer() const;

    // The animation's steps, which the thread runs in a loop; with no thread running they step
    // the composition by hand. Compose renders the current frame into the buffer (saving the
    // area under it first for disposal 3) and asks for a repaint; Dispose applies the current
    // frame's disposal; Advance moves to the next frame, and after the last one goes back to
    // frame 0 with the buffer filled with the background colour.
    void ComposeCurrentFrame();
    void DisposeCurrentFrame();
    void AdvanceFrame();

    // How long a frame stays, in ms: delay × 10 from a delay of 5 up, else (and without a graphic
    // control extension) 100.
    static int FrameWaitMs(uint32_t nDelay);
    int GetFrameWaitMs(int index) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Animation;

    bool LoadResource(int nResourceId, const char* szResourceType, const std::string& name);
    bool LoadStill(const uint8_t* pData, size_t nSize);
    bool LoadFrames(const uint8_t* pData, size_t nSize);
    bool PrepareBuffer(int nWidth, int nHeight);
    // The thread keeps its own copy of the pointer: the animation lives as long as it runs.
    static void RunAnimation(const std::shared_ptr<Animation>& animation);

    std::shared_ptr<Animation> m_pAnimation;
    std::thread m_Thread;
    QImage m_StillPicture;
    QSize m_PictureSize;
    QRect m_rcPaint;
    bool m_bIsGIF = false;
    bool m_bBufferReady = false;
};

// The part of a decoder's music that a playback span plays: from its first frame to the frame
// after its last, faded in linearly after the start and out before the end. The gain at frame j
// of a span of n frames with fades of f frames is min(1, j / f, (n − j) / f): 0 at the span's
// first frame, 1 from frame f on, and falling to 0 at the frame after the last. A span of a
// lower volume scales every sample by its gain on top of that.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/audiodecoder.h"
#include "platform/player.h"

namespace platform {

// A span in frames at one rate.
struct FrameSpan {
    int64_t nStart = 0;  // the first frame played
    int64_t nEnd = -1;   // the frame after the last one played; -1: the music's end
    int64_t nFade = 0;   // the frames of each ramp; 0: none
    double dGain = 1.0;  // every sample scaled by it, 0 to 1
};

// The span in frames at rate Hz of a music musicFrames frames long: each time in milliseconds
// becomes the frame that sounds at it (rounded down). The span ends at the music's end when it
// would end later; with neither an end nor a fade it is left open (-1), so that the whole music
// plays as the decoder gives it.
FrameSpan SpanFrames(const AudioSpan& span, long rate, int64_t musicFrames);

class CAudioSpanReader {
public:
    // Takes over an open decoder and goes to frame `from` of the span (0: its first frame), exact
    // to the frame. False with the decoder's problem in error when it could not get there. Music
    // started inside the span rises from silence over kSeekRampMs, so that it does not start with
    // a click; the span's own fades go on as if it had played from its start.
    bool Start(std::unique_ptr<CAudioDecoder> decoder, const FrameSpan& span, std::string& error,
               int64_t from = 0);
    // As CAudioDecoder::Read, within the span and with its fades.
    int Read(int16_t* out, int frames);
    // Why Read gave 0: empty at the end of the span or of the music.
    std::string Problem() const;
    const CAudioDecoder* Decoder() const { return m_pDecoder.get(); }
    void Close();

    // The rise after a start inside the span: 10 ms.
    static constexpr int kSeekRampMs = 10;

private:
    std::unique_ptr<CAudioDecoder> m_pDecoder;
    FrameSpan m_span;
    int64_t m_nRead = 0;  // frames of the span before the next one given out
    int64_t m_nFrom = 0;  // where reading started in the span
    int64_t m_nRamp = 1;  // frames of the rise after a start inside the span
};

}  // namespace platform

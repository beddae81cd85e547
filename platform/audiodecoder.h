// A decoder of the accompaniment's audio: a file in one of the formats songs come in, read as
// 16-bit interleaved samples from the first frame of the music to the last.
//
// Frames are counted from the first frame of the music as the format defines it: an encoder's
// delay and padding that the file records (LAME's gapless record in an MP3, Opus's pre-skip, an
// MP4's edit list) are not part of it.
//
// OpenAudioDecoder picks the decoder: a file named .mp3 goes through libmpg123 (exact gapless
// length after a scan, ID3 tags skipped); everything else, and an .mp3 that libmpg123 refuses,
// through FFmpeg (OGG Vorbis, Opus, FLAC, M4A/AAC, WAV, and the sound track of a film).
//
// Every file is opened through CInputFile: never blocking, regular files only. A decoder is used
// by one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class CAudioDecoder {
public:
    virtual ~CAudioDecoder() = default;

    // Opens the file. rate 0: the output is the file's own sample rate and channel count;
    // otherwise 16-bit at rate Hz with channels channels (resampled and remixed as needed).
    // False with the problem, in Chinese, in error; nothing stays open then.
    virtual bool Open(const std::string& path, long rate, int channels, std::string& error) = 0;
    // Decodes up to frames frames (frames × Channels() samples) into out: the count decoded, 0
    // at the end of the music or once decoding has failed (Problem() then says why).
    virtual int Read(int16_t* out, int frames) = 0;
    // Goes to the frame so that the next Read starts exactly there: seeks where the format can,
    // then drops decoded frames up to it. A frame past the end leaves nothing to read. False
    // (Problem() says why) when it failed; the decoder then has nothing more to give.
    virtual bool Seek(int64_t frame) = 0;
    // The exact length of the music in output frames (rescaled from the file's rate when the
    // output is resampled), or -1 with the problem, in Chinese, in error. It may read the whole
    // file; call it before reading: reading then starts from the first frame.
    virtual int64_t Length(std::string& error) = 0;
    // Length, unless counting would go on past the deadline: then kTooLongToCount, with nothing
    // in error and reading still from the first frame. A format whose length is found quickly
    // ignores the deadline.
    static constexpr int64_t kTooLongToCount = -2;
    virtual int64_t LengthBefore(std::chrono::steady_clock::time_point /*deadline*/,
                                 std::string& error) {
        return Length(error);
    }
    // The container's own idea of the length in output frames (a header's duration, a bit
    // rate's estimate), without reading further; -1 when it has none.
    virtual int64_t EstimatedLength() const { return -1; }
    virtual long Rate() const = 0;     // output frames per second
    virtual int Channels() const = 0;  // output samples per frame
    // Why Read gave 0 or Seek failed, for a trace line (English); empty at the end of the music.
    virtual std::string Problem() const = 0;
    virtual void Close() = 0;
};

// Opens the file with the decoder that fits it (see above); null with the problem, in Chinese,
// in error. For a .mp3 that neither decoder can read, the problem is libmpg123's.
std::unique_ptr<CAudioDecoder> OpenAudioDecoder(const std::string& path, long rate, int channels,
                                                std::string& error);

// The exact length of the music in milliseconds (frames at the file's own rate, rounded to the
// nearest millisecond), or -1 with the problem, in Chinese, in error. Quick where the container
// records the exact length (WAV, FLAC, OGG, MP4/M4A); otherwise the file is decoded to count.
int AudioLengthMs(const std::string& path, std::string& error);

// What a look at a music file found: its length, exact or the container's estimate where counting
// it exactly would have taken longer than the time allowed, or why it cannot be played.
struct MusicProbe {
    int nLengthMs = -1;  // -1 when it cannot be played
    bool bExact = false;
    std::string strProblem;  // in Chinese; empty when it can be played

    bool operator==(const MusicProbe&) const = default;
};
// Opens the file as the player does and finds its length within budget (see LengthBefore); past
// it the container's estimate is taken, and a file with none is counted to the end anyway.
MusicProbe ProbeMusic(const std::string& path, std::chrono::milliseconds budget);
inline constexpr std::chrono::milliseconds kLengthBudget{2000};

// Opens a file of the accompaniment for reading through CInputFile: the descriptor (the caller
// closes it), or -1 with the problem, in Chinese, in error. A missing file, a folder, a FIFO, a
// device, an unreadable or an empty file is refused at once.
int OpenAudioFile(const std::string& path, std::string& error);

}  // namespace platform

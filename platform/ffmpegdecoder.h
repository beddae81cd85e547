// Audio of every other format through FFmpeg: libavformat takes the file apart (OGG, FLAC, WAV,
// MP4/M4A, Matroska/WebM, …), libavcodec decodes its first audio stream (in a film, the sound
// track), libswresample turns it into 16-bit interleaved samples at the rate and channel count
// asked for.
//
// FFmpeg reads the file through a descriptor that OpenAudioFile opened and checked (a regular
// file, never blocking), never by its name: no name is taken for a protocol ("concat:",
// "http:"), no check-then-open race, and a demuxer that would open another file or address
// (a playlist, a reference to outside media) is refused.
//
// Where the container records the exact length (WAV, FLAC, OGG, MP4/M4A with the sample rate as
// its time base), Length() is that and decoding stops there (an AAC encoder's padding is cut).
// Opus elsewhere (WebM, Matroska) is counted by its packets' own sample counts, without decoding;
// anything else is decoded to count. Seeks go by the container's index to 200 ms before the frame
// and drop decoded frames up to it. Where timestamps are coarser than a sample (Matroska's
// milliseconds) or missing, Opus goes by its packets' counts again, and anything else is decoded
// from the start, so a seek is always exact to the frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audiodecoder.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwrContext;

namespace platform {

class CFFmpegDecoder final : public CAudioDecoder {
public:
    CFFmpegDecoder() = default;
    ~CFFmpegDecoder() override;  // Close
    CFFmpegDecoder(const CFFmpegDecoder&) = delete;
    CFFmpegDecoder& operator=(const CFFmpegDecoder&) = delete;

    bool Open(const std::string& path, long rate, int channels, std::string& error) override;
    int Read(int16_t* out, int frames) override;
    bool Seek(int64_t frame) override;
    int64_t Length(std::string& error) override;
    int64_t LengthBefore(std::chrono::steady_clock::time_point deadline,
                         std::string& error) override;
    int64_t EstimatedLength() const override;
    long Rate() const override { return m_nRate; }
    int Channels() const override { return m_nChannels; }
    std::string Problem() const override { return m_problem; }
    void Close() override;

private:
    bool Fail(std::string& error, std::string problem);
    // Decodes the next frame of the stream into m_pFrame and marks the part of it that belongs
    // to the music (m_nFrameFrom to m_nFrameTo); false at the end or on an error (m_problem).
    bool DecodeFrame();
    // Marks the part of m_pFrame, whose first sample is the start-th of the music, that is
    // neither before the seek's frame nor past the known length; false when nothing is left.
    bool MarkFrame(int64_t start);
    // Converts the marked part of m_pFrame (or, with none, what the resampler still holds) into
    // m_converted.
    bool Convert(bool flush);
    // (Re)makes the resampler for m_pFrame's format.
    bool MakeConverter();
    // Opens the file again at its start, for a seek that the container cannot make exactly.
    bool Rewind();
    int64_t InputToOutput(int64_t samples) const;
    // Opus where the container records neither the exact length nor exact times (Matroska and
    // WebM count milliseconds): the packets give both by their own sample counts, without
    // decoding. Counts what a packet sent to the decoder holds and has trimmed off.
    void CountPacket(const AVPacket& packet);
    // The music's length in samples from the packets' counts, reading from where Open stopped.
    int64_t CountOpusPackets();
    // Goes to the packet that sounds at least preroll samples before target, by the packets'
    // counts, and decodes from there; false when the file cannot be opened again.
    bool SeekByOpusPackets(int64_t target, int64_t preroll);

    std::string m_path;
    long m_nAskedRate = 0;
    int m_nAskedChannels = 0;

    int m_fd = -1;
    AVIOContext* m_pIo = nullptr;
    AVFormatContext* m_pFormat = nullptr;
    AVCodecContext* m_pCodec = nullptr;
    SwrContext* m_pSwr = nullptr;
    AVPacket* m_pPacket = nullptr;
    AVFrame* m_pFrame = nullptr;
    int m_nStream = -1;

    // --- the decoded side, in the file's samples ---
    long m_nInRate = 0;
    int64_t m_nFirstPts = INT64_MIN;  // the timestamp of the music's first sample; MIN: none
    int64_t m_nKnownLength = -1;      // the container's exact length in samples; -1: unknown
    int64_t m_nPosition = 0;          // samples decoded so far, counted from the music's start
    int64_t m_nSkipTo = 0;            // samples before this one are dropped (a seek)
    bool m_bNeedPts = false;          // the next frame sets m_nPosition from its timestamp
    bool m_bSeekMissed = false;       // it had none, or came after the frame sought
    bool m_bFresh = false;            // nothing read since Open
    bool m_bFrameReady = false;       // m_pFrame holds a decoded frame not yet converted
    int m_nFrameFrom = 0;             // the part of m_pFrame that is music
    int m_nFrameTo = 0;
    bool m_bEndOfFile = false;  // every packet went to the decoder
    bool m_bOpus = false;
    int64_t m_nPreSkip = 0;               // Opus: the samples that come before the music
    int64_t m_nSentSamples = 0;           // Opus: the samples of the packets sent to the decoder
    int64_t m_nTrimmedSamples = 0;        // Opus: the padding trimmed off their ends
    bool m_bPacketPending = false;        // m_pPacket is read but not yet sent to the decoder
    std::string m_readProblem;            // why the packets ended before the file did
    std::vector<const uint8_t*> m_input;  // the marked part of m_pFrame, per plane
    int m_nConverterFormat = -1;
    int m_nConverterRate = 0;
    int m_nConverterChannels = 0;

    // --- the output side ---
    long m_nRate = 0;
    int m_nChannels = 0;
    std::vector<int16_t> m_converted;  // converted samples not yet read
    std::size_t m_nConvertedRead = 0;
    bool m_bDone = false;
    std::string m_problem;
};

}  // namespace platform

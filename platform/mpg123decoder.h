// An MP3 file decoded by libmpg123: gapless (the encoder's delay and padding that LAME records in
// the file are left out), ID3v2 tags skipped unread, the exact length after a scan of the whole
// file, and seeks exact to the frame.
#pragma once

#include <cstdint>
#include <string>

#include "platform/audiodecoder.h"

struct mpg123_handle_struct;

namespace platform {

class CMpg123Decoder final : public CAudioDecoder {
public:
    CMpg123Decoder() = default;
    ~CMpg123Decoder() override;  // Close
    CMpg123Decoder(const CMpg123Decoder&) = delete;
    CMpg123Decoder& operator=(const CMpg123Decoder&) = delete;

    // With a rate, libmpg123 resamples to it (and mixes to the channel count).
    bool Open(const std::string& path, long rate, int channels, std::string& error) override;
    int Read(int16_t* out, int frames) override;
    bool Seek(int64_t frame) override;
    // Scans the whole file (the position is kept).
    int64_t Length(std::string& error) override;
    int64_t LengthBefore(std::chrono::steady_clock::time_point deadline,
                         std::string& error) override;
    int64_t EstimatedLength() const override;
    long Rate() const override { return m_nRate; }
    int Channels() const override { return m_nChannels; }
    std::string Problem() const override { return m_problem; }
    void Close() override;

    // Whether the last Open failed on what the file holds (no MPEG audio in it), as opposed to
    // the file itself (missing, empty, not a regular file).
    bool RefusedTheContent() const { return m_bRefusedTheContent; }

private:
    bool Fail(std::string& error, std::string problem);
    // Stops reading for good, keeping why for Problem().
    void Stop(std::string problem);

    int m_fd = -1;
    mpg123_handle_struct* m_pHandle = nullptr;
    long m_nRate = 0;
    int m_nChannels = 0;
    bool m_bDone = false;  // the music is over, or decoding failed
    bool m_bRefusedTheContent = false;
    std::string m_problem;
};

}  // namespace platform

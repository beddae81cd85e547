#include "platform/mpg123decoder.h"

#include <mpg123.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <utility>

namespace platform {
namespace {

void InitialiseMpg123() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });  // needed by libmpg123 before 1.27 only
}

constexpr char kNoMpegAudio[] = "不是 MP3 文件，找不到可以解码的音频";
constexpr int64_t kSeekPrerollFrames = int64_t(4) * 1152;  // four MPEG frames, the longest kind

}  // namespace

CMpg123Decoder::~CMpg123Decoder() { Close(); }

bool CMpg123Decoder::Open(const std::string& path, long rate, int channels, std::string& error) {
    Close();
    InitialiseMpg123();
    m_bRefusedTheContent = false;
    m_fd = OpenAudioFile(path, error);
    if (m_fd < 0) return false;
    m_bRefusedTheContent = true;  // from here on, the problems are the contents'
    int code = MPG123_OK;
    m_pHandle = mpg123_new(nullptr, &code);
    if (!m_pHandle)
        return Fail(error, std::string("解码器无法启动（") + mpg123_plain_strerror(code) + "）");
    // Gapless: the delay and padding the encoder recorded are not part of the music.
    // ID3v2 tags are skipped unread (a seek), never parsed into memory, whatever they claim.
    mpg123_param(m_pHandle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_SKIP_ID3V2, 0);
    mpg123_format_none(m_pHandle);
    if (rate > 0) {
        mpg123_format(m_pHandle, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO,
                      MPG123_ENC_SIGNED_16);
    } else {
        const long* rates = nullptr;
        std::size_t count = 0;
        mpg123_rates(&rates, &count);
        for (std::size_t i = 0; i < count; ++i)
            mpg123_format(m_pHandle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (mpg123_open_fd(m_pHandle, m_fd) != MPG123_OK)
        return Fail(error, std::string("无法读取（") + mpg123_strerror(m_pHandle) + "）");
    int encoding = 0;
    if (mpg123_getformat(m_pHandle, &m_nRate, &m_nChannels, &encoding) != MPG123_OK ||
        m_nRate <= 0 || m_nChannels <= 0)
        return Fail(error, kNoMpegAudio);
    if ((rate > 0 && (m_nRate != rate || m_nChannels != channels)) ||
        encoding != MPG123_ENC_SIGNED_16)
        return Fail(error, "解码器给不出所需的格式");
    return true;
}

int CMpg123Decoder::Read(int16_t* out, int frames) {
    if (!m_pHandle || m_bDone || frames <= 0) return 0;
    const std::size_t frameBytes = std::size_t(m_nChannels) * sizeof(int16_t);
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    std::size_t filled = 0;
    const std::size_t wanted = std::size_t(frames) * frameBytes;
    while (filled < wanted) {
        std::size_t done = 0;
        const int result = mpg123_read(m_pHandle, bytes + filled, wanted - filled, &done);
        filled += done;
        if (result == MPG123_OK || result == MPG123_NEW_FORMAT) continue;
        if (result == MPG123_DONE)
            Stop({});
        else
            Stop(mpg123_strerror(m_pHandle));
        break;
    }
    return int(filled / frameBytes);
}

bool CMpg123Decoder::Seek(int64_t frame) {
    if (!m_pHandle) return false;
    m_bDone = false;
    m_problem.clear();
    // libmpg123 lands on the frame asked for, but the frames that come first after a seek have
    // not settled (the synthesis and the bit reservoir start empty): it seeks to a while before,
    // and the frames up to the one asked for are read and dropped.
    const int64_t preroll = std::max<int64_t>(kSeekPrerollFrames, m_nRate / 5);
    const off_t landed =
        mpg123_seek(m_pHandle, off_t(std::max<int64_t>(0, frame - preroll)), SEEK_SET);
    if (landed < 0) {
        Stop(std::string("seek failed: ") + mpg123_strerror(m_pHandle));
        return false;
    }
    int64_t position = landed;
    if (position > frame) {
        Stop("the seek went past the frame asked for");
        return false;
    }
    int16_t scratch[4096];
    const int chunk = int(sizeof scratch / sizeof scratch[0]) / m_nChannels;
    while (position < frame) {
        const int got = Read(scratch, int(std::min<int64_t>(chunk, frame - position)));
        if (got == 0) return m_problem.empty();  // the music ended first: nothing left to read
        position += got;
    }
    return true;
}

int64_t CMpg123Decoder::Length(std::string& error) {
    if (!m_pHandle) {
        error = kNoMpegAudio;
        return -1;
    }
    if (mpg123_scan(m_pHandle) != MPG123_OK) {
        Fail(error, std::string("读取失败（") + mpg123_strerror(m_pHandle) + "）");
        return -1;
    }
    const off_t samples = mpg123_length(m_pHandle);
    if (samples <= 0) {
        Fail(error, kNoMpegAudio);
        return -1;
    }
    return samples;
}

int64_t CMpg123Decoder::LengthBefore(std::chrono::steady_clock::time_point deadline,
                                     std::string& error) {
    // The scan reads every frame header of the file and cannot stop halfway: with no time left
    // it is not begun.
    if (std::chrono::steady_clock::now() >= deadline) return kTooLongToCount;
    return Length(error);
}

int64_t CMpg123Decoder::EstimatedLength() const {
    // Before a scan, libmpg123 estimates from the stream's header (a Xing or Info record, else
    // the file's size and the first frame's bit rate).
    if (!m_pHandle) return -1;
    const off_t samples = mpg123_length(m_pHandle);
    return samples > 0 ? int64_t(samples) : -1;
}

void CMpg123Decoder::Close() {
    if (m_pHandle) {
        mpg123_close(m_pHandle);
        mpg123_delete(m_pHandle);
        m_pHandle = nullptr;
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_bDone = false;
    m_problem.clear();
}

bool CMpg123Decoder::Fail(std::string& error, std::string problem) {
    error = std::move(problem);
    Close();
    return false;
}

void CMpg123Decoder::Stop(std::string problem) {
    m_bDone = true;
    m_problem = std::move(problem);
}

}  // namespace platform

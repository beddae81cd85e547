#include "platform/ffmpegdecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libswresample/swresample.h>
}
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace platform {
namespace {

constexpr char kNotAudio[] = "不是音频文件，找不到可以解码的音频";
constexpr int kIoBufferBytes = 64 * 1024;
// Decoding after a seek starts this long before the frame sought, so that the decoder has
// settled (overlapping transforms, Opus's pre-roll) by then.
constexpr int kSeekPrerollDivisor = 5;  // a fifth of a second

// The demuxers music may come through (FFmpeg's names): sound files and films.
constexpr char kSoundContainers[] =
    "wav,w64,aiff,au,caf,flac,ogg,mp3,aac,ac3,eac3,dts,truehd,mlp,ape,wv,tta,tak,mpc,mpc8,amr,"
    "dsf,mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,asf,avi,flv,mpeg,mpegts,mpegvideo,rm";
// A sample rate and channel count any sound file of music has.
constexpr int kLowestRate = 4000, kHighestRate = 384000, kMostChannels = 8;

// Containers whose length, in samples of the stream's own time base, is exact.
constexpr const char* kExactLengthFormats[] = {"wav", "flac", "ogg", "mov,mp4,m4a,3gp,3g2,mj2"};

void QuietFFmpeg() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// FFmpeg's reads and seeks of the file, on the descriptor (opaque points at it).
int ReadFile(void* opaque, uint8_t* buffer, int size) {
    const int fd = *static_cast<const int*>(opaque);
    for (;;) {
        const ssize_t got = ::read(fd, buffer, std::size_t(size));
        if (got > 0) return int(got);
        if (got == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
    const int fd = *static_cast<const int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(fd, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
    }
    const off_t position = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}

// A demuxer never opens anything beside the file: no playlist entries, no outside references.
int RefuseToOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// The samples (at 48 kHz) an Opus packet decodes to, from its table of contents (RFC 6716,
// 3.1): the frame size its configuration gives times its frame count; 0 when it is malformed.
int OpusPacketSamples(const uint8_t* data, int size) {
    if (size < 1) return 0;
    const int configuration = data[0] >> 3;
    static constexpr int kSilk[] = {480, 960, 1920, 2880};  // 10, 20, 40, 60 ms
    static constexpr int kCelt[] = {120, 240, 480, 960};    // 2.5, 5, 10, 20 ms
    const int frame = configuration < 12   ? kSilk[configuration & 3]
                      : configuration < 16 ? (configuration & 1 ? 960 : 480)
                                           : kCelt[configuration & 3];
    const int code = data[0] & 3;
    if (code == 3 && size < 2) return 0;
    const int frames = code == 0 ? 1 : code < 3 ? 2 : data[1] & 0x3F;
    return frame * frames;
}

}  // namespace

CFFmpegDecoder::~CFFmpegDecoder() { Close(); }

bool CFFmpegDecoder::Open(const std::string& path, long rate, int channels, std::string& error) {
    Close();
    QuietFFmpeg();
    m_path = path;
    m_nAskedRate = rate;
    m_nAskedChannels = channels;
    m_fd = OpenAudioFile(path, error);
    if (m_fd < 0) return false;

    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (buffer)
        m_pIo = avio_alloc_context(buffer, kIoBufferBytes, 0, &m_fd, &ReadFile, nullptr, &SeekFile);
    if (!m_pIo) {
        av_free(buffer);
        return Fail(error, "内存不足");
    }
    m_pFormat = avformat_alloc_context();
    if (!m_pFormat) return Fail(error, "内存不足");
    m_pFormat->pb = m_pIo;
    m_pFormat->flags |= AVFMT_FLAG_CUSTOM_IO;
    m_pFormat->io_open = &RefuseToOpen;
    // Music is a local file of sound: only the containers of sound and films are read, never a
    // session description, a playlist or a list of other files, and no protocol reaches out.
    m_pFormat->format_whitelist = av_strdup(kSoundContainers);
    m_pFormat->protocol_whitelist = av_strdup("file");
    if (!m_pFormat->format_whitelist || !m_pFormat->protocol_whitelist)
        return Fail(error, "内存不足");
    // The name only helps to recognise the format by its extension; it is never opened.
    if (avformat_open_input(&m_pFormat, path.c_str(), nullptr, nullptr) < 0) {
        m_pFormat = nullptr;  // freed by FFmpeg
        return Fail(error, kNotAudio);
    }

    // The first audio stream that FFmpeg can decode. The stream list in the header is enough
    // for most containers; the others are probed (which decodes a little of every stream).
    const AVCodec* codec = nullptr;
    auto findAudio = [this, &codec] {
        for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
            const AVCodecParameters* parameters = m_pFormat->streams[i]->codecpar;
            if (parameters->codec_type != AVMEDIA_TYPE_AUDIO) continue;
            codec = avcodec_find_decoder(parameters->codec_id);
            if (codec) return int(i);
        }
        return -1;
    };
    auto keepOnlyTheMusic = [this] {
        for (unsigned i = 0; i < m_pFormat->nb_streams; ++i)
            if (int(i) != m_nStream) m_pFormat->streams[i]->discard = AVDISCARD_ALL;
    };
    m_nStream = findAudio();
    // Matroska's header gives an Opus stream's recording rate, not the decoded one, and the
    // demuxer would count the padding it trims off the last packet in that rate.
    const bool matroska = !std::strcmp(m_pFormat->iformat->name, "matroska,webm");
    if (m_nStream < 0 || (m_pFormat->ctx_flags & AVFMTCTX_NOHEADER) || matroska) {
        if (m_nStream >= 0) keepOnlyTheMusic();
        if (avformat_find_stream_info(m_pFormat, nullptr) >= 0) m_nStream = findAudio();
    }
    if (m_nStream < 0) return Fail(error, kNotAudio);
    keepOnlyTheMusic();
    const AVStream* stream = m_pFormat->streams[m_nStream];

    m_pCodec = avcodec_alloc_context3(codec);
    if (!m_pCodec) return Fail(error, "内存不足");
    int result = avcodec_parameters_to_context(m_pCodec, stream->codecpar);
    m_pCodec->pkt_timebase = stream->time_base;
    m_pCodec->thread_count = 1;
    if (result >= 0) result = avcodec_open2(m_pCodec, codec, nullptr);
    if (result < 0) return Fail(error, "解码器无法启动（" + ErrorText(result) + "）");
    const AVCodecParameters& parameters = *stream->codecpar;
    if (parameters.codec_id == AV_CODEC_ID_OPUS && parameters.extradata_size >= 12 &&
        !std::memcmp(parameters.extradata, "OpusHead", 8)) {
        m_bOpus = true;
        m_nPreSkip = AV_RL16(parameters.extradata + 10);
    }
    m_pPacket = av_packet_alloc();
    m_pFrame = av_frame_alloc();
    if (!m_pPacket || !m_pFrame) return Fail(error, "内存不足");

    // The first frame tells the true rate and channels, and when the music begins.
    if (!DecodeFrame()) return Fail(error, kNotAudio);
    m_bFrameReady = true;
    m_nInRate = m_pFrame->sample_rate;
    if (m_nInRate < kLowestRate || m_nInRate > kHighestRate)
        return Fail(error, "采样率 " + std::to_string(m_nInRate) + " Hz 超出范围（" +
                               std::to_string(kLowestRate) + " 到 " + std::to_string(kHighestRate) +
                               " Hz）");
    if (m_pFrame->ch_layout.nb_channels > kMostChannels)
        return Fail(error, "声道数 " + std::to_string(m_pFrame->ch_layout.nb_channels) + " 超过 " +
                               std::to_string(kMostChannels));
    const int64_t pts = m_pFrame->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE) m_nFirstPts = pts;
    m_nRate = rate > 0 ? rate : m_nInRate;
    m_nChannels = channels > 0 ? channels : m_pFrame->ch_layout.nb_channels;
    if (m_nInRate <= 0 || m_nChannels <= 0) return Fail(error, kNotAudio);
    if (!MakeConverter()) return Fail(error, "解码器给不出所需的格式");

    const char* format = m_pFormat->iformat->name;
    const bool exact =
        std::any_of(std::begin(kExactLengthFormats), std::end(kExactLengthFormats),
                    [format](const char* name) { return !std::strcmp(format, name); });
    if (exact && stream->duration != AV_NOPTS_VALUE && stream->time_base.num == 1 &&
        stream->time_base.den == m_nInRate) {
        // An Ogg stream's last granule position counts Opus's pre-skip, which is not music.
        const bool ogg = !std::strcmp(format, "ogg");
        const int64_t length =
            stream->duration - (ogg ? int64_t(stream->codecpar->initial_padding) : 0);
        if (length > 0) m_nKnownLength = length;
        if (!MarkFrame(0)) return Fail(error, kNotAudio);
    }
    m_bFresh = true;
    return true;
}

bool CFFmpegDecoder::DecodeFrame() {
    for (;;) {
        int result = avcodec_receive_frame(m_pCodec, m_pFrame);
        if (result == AVERROR(EAGAIN) && !m_bEndOfFile) {
            result = m_bPacketPending ? 0 : av_read_frame(m_pFormat, m_pPacket);
            m_bPacketPending = false;
            if (result < 0) {
                // The end of the file, or of what can be read of it: what the decoder holds
                // still comes out.
                if (result != AVERROR_EOF) m_readProblem = "reading failed: " + ErrorText(result);
                m_bEndOfFile = true;
                avcodec_send_packet(m_pCodec, nullptr);
                continue;
            }
            if (m_pPacket->stream_index == m_nStream) {
                CountPacket(*m_pPacket);
                result = avcodec_send_packet(m_pCodec, m_pPacket);
                // A damaged packet is left out, as any player does; the decoder goes on.
                if (result < 0 && result != AVERROR_INVALIDDATA && result != AVERROR(EAGAIN)) {
                    av_packet_unref(m_pPacket);
                    m_problem = "decoding failed: " + ErrorText(result);
                    return false;
                }
            }
            av_packet_unref(m_pPacket);
            continue;
        }
        if (result == AVERROR_EOF || result == AVERROR(EAGAIN)) {
            m_problem = m_readProblem;
            return false;
        }
        if (result == AVERROR_INVALIDDATA) continue;
        if (result < 0) {
            m_problem = "decoding failed: " + ErrorText(result);
            return false;
        }
        if (m_pFrame->nb_samples <= 0) continue;
        if (m_bNeedPts) {
            // The first frame after a seek: where it stands in the music, by its timestamp.
            m_bNeedPts = false;
            const int64_t pts = m_pFrame->best_effort_timestamp;
            const AVRational timeBase = m_pFormat->streams[m_nStream]->time_base;
            if (pts != AV_NOPTS_VALUE)
                m_nPosition =
                    av_rescale_q(pts - m_nFirstPts, timeBase, AVRational{1, m_pFrame->sample_rate});
            if (pts == AV_NOPTS_VALUE || m_nPosition > m_nSkipTo) {
                m_bSeekMissed = true;
                return false;
            }
        }
        const int64_t start = m_nPosition;
        m_nPosition += m_pFrame->nb_samples;
        if (MarkFrame(start)) return true;
        if (m_nKnownLength >= 0 && start >= m_nKnownLength) return false;  // past the music
    }
}

bool CFFmpegDecoder::MarkFrame(int64_t start) {
    const int64_t count = m_pFrame->nb_samples;
    int64_t to = count;
    if (m_nKnownLength >= 0) to = std::clamp<int64_t>(m_nKnownLength - start, 0, count);
    const int64_t from = std::clamp<int64_t>(m_nSkipTo - start, 0, count);
    m_nFrameFrom = int(from);
    m_nFrameTo = int(to);
    return from < to;
}

bool CFFmpegDecoder::MakeConverter() {
    swr_free(&m_pSwr);
    const AVFrame& frame = *m_pFrame;
    const int inChannels = frame.ch_layout.nb_channels;
    AVChannelLayout in{};
    AVChannelLayout out{};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, inChannels);
    else
        av_channel_layout_copy(&in, &frame.ch_layout);
    if (m_nAskedChannels > 0 || inChannels != m_nChannels)
        av_channel_layout_default(&out, m_nChannels);
    else
        av_channel_layout_copy(&out, &in);
    const int result =
        swr_alloc_set_opts2(&m_pSwr, &out, AV_SAMPLE_FMT_S16, int(m_nRate), &in,
                            AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (result < 0 || swr_init(m_pSwr) < 0) {
        swr_free(&m_pSwr);
        return false;
    }
    m_nConverterFormat = frame.format;
    m_nConverterRate = frame.sample_rate;
    m_nConverterChannels = inChannels;
    return true;
}

bool CFFmpegDecoder::Convert(bool flush) {
    int count = 0;
    const uint8_t** input = nullptr;
    if (!flush) {
        const AVFrame& frame = *m_pFrame;
        if (frame.format != m_nConverterFormat || frame.sample_rate != m_nConverterRate ||
            frame.ch_layout.nb_channels != m_nConverterChannels) {
            if (!MakeConverter()) return false;
        }
        const auto format = AVSampleFormat(frame.format);
        const int bytes = av_get_bytes_per_sample(format);
        const bool planar = av_sample_fmt_is_planar(format);
        const int planes = planar ? frame.ch_layout.nb_channels : 1;
        const std::size_t skip = std::size_t(m_nFrameFrom) * std::size_t(bytes) *
                                 (planar ? 1 : frame.ch_layout.nb_channels);
        m_input.resize(std::size_t(planes));
        for (int i = 0; i < planes; ++i) m_input[std::size_t(i)] = frame.extended_data[i] + skip;
        input = m_input.data();
        count = m_nFrameTo - m_nFrameFrom;
    } else if (!m_pSwr) {
        return true;
    }
    const int room = swr_get_out_samples(m_pSwr, count);
    if (room <= 0) return true;
    m_converted.resize(std::size_t(room) * std::size_t(m_nChannels));
    auto* output = reinterpret_cast<uint8_t*>(m_converted.data());
    const int got = swr_convert(m_pSwr, &output, room, input, count);
    if (got < 0) {
        m_converted.clear();
        return false;
    }
    m_converted.resize(std::size_t(got) * std::size_t(m_nChannels));
    m_nConvertedRead = 0;
    return true;
}

int CFFmpegDecoder::Read(int16_t* out, int frames) {
    if (!m_pFormat || frames <= 0) return 0;
    m_bFresh = false;
    const std::size_t channels = std::size_t(m_nChannels);
    int done = 0;
    while (done < frames) {
        const std::size_t waiting = (m_converted.size() - m_nConvertedRead) / channels;
        if (waiting > 0) {
            const std::size_t n = std::min<std::size_t>(waiting, std::size_t(frames - done));
            std::copy_n(m_converted.data() + m_nConvertedRead, n * channels,
                        out + std::size_t(done) * channels);
            m_nConvertedRead += n * channels;
            done += int(n);
            continue;
        }
        m_converted.clear();
        m_nConvertedRead = 0;
        if (m_bDone) break;
        if (!m_bFrameReady && !DecodeFrame()) {
            // The end (or a failure): what the resampler still holds comes last.
            if (m_problem.empty() && !Convert(true)) m_problem = "converting the samples failed";
            m_bDone = true;
            continue;
        }
        m_bFrameReady = false;
        if (!Convert(false)) {
            m_problem = "converting the samples failed";
            m_bDone = true;
        }
    }
    return done;
}

bool CFFmpegDecoder::Seek(int64_t frame) {
    if (!m_pFormat) return false;
    m_bFresh = false;
    const int64_t target =
        m_nRate == m_nInRate ? frame : av_rescale_rnd(frame, m_nInRate, m_nRate, AV_ROUND_DOWN);
    const AVStream* stream = m_pFormat->streams[m_nStream];
    const int64_t preroll =
        std::max<int64_t>(stream->codecpar->seek_preroll, m_nInRate / kSeekPrerollDivisor);
    // The container's timestamps place a decoded frame exactly only when they are no coarser
    // than a sample.
    const bool exactTimes = m_nFirstPts != INT64_MIN && m_pIo->seekable &&
                            int64_t(stream->time_base.num) * m_nInRate <= stream->time_base.den;
    m_converted.clear();
    m_nConvertedRead = 0;
    m_bDone = false;
    m_problem.clear();
    m_readProblem.clear();
    if (exactTimes && target > preroll) {
        const int64_t time =
            m_nFirstPts +
            av_rescale_q(target - preroll, AVRational{1, int(m_nInRate)}, stream->time_base);
        if (av_seek_frame(m_pFormat, m_nStream, time, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(m_pCodec);
            m_nConverterFormat = -1;  // the resampler starts anew
            m_bEndOfFile = false;
            m_bFrameReady = false;
            m_bNeedPts = true;
            m_bSeekMissed = false;
            m_nSkipTo = target;
            if (DecodeFrame()) {
                m_bFrameReady = true;
                return true;
            }
            if (!m_bSeekMissed) {
                m_bDone = true;  // past the end, or a failure
                return m_problem.empty();
            }
        }
    }
    if (m_bOpus && target > preroll) return SeekByOpusPackets(target, preroll);
    // From the start, dropping what comes before the frame.
    if (!Rewind()) return false;
    m_bFresh = false;
    m_nSkipTo = target;
    const int64_t start = m_nPosition - m_pFrame->nb_samples;
    if (MarkFrame(start)) return true;
    m_bFrameReady = false;
    return true;
}

void CFFmpegDecoder::CountPacket(const AVPacket& packet) {
    if (!m_bOpus) return;
    m_nSentSamples += OpusPacketSamples(packet.data, packet.size);
    std::size_t size = 0;
    const uint8_t* skip = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (skip && size >= 8) m_nTrimmedSamples += AV_RL32(skip + 4);
}

int64_t CFFmpegDecoder::CountOpusPackets() {
    if (m_bPacketPending && m_pPacket->stream_index == m_nStream) CountPacket(*m_pPacket);
    av_packet_unref(m_pPacket);
    m_bPacketPending = false;
    while (av_read_frame(m_pFormat, m_pPacket) >= 0) {
        if (m_pPacket->stream_index == m_nStream) CountPacket(*m_pPacket);
        av_packet_unref(m_pPacket);
    }
    return m_nSentSamples - m_nPreSkip - m_nTrimmedSamples;
}

bool CFFmpegDecoder::SeekByOpusPackets(int64_t target, int64_t preroll) {
    if (!Rewind()) return false;
    m_bFresh = false;
    // The frame Open decoded is dropped, and so are the packets up to the one that sounds at
    // the pre-roll's start: the decoder then goes on from there, settled by the frame sought.
    m_bFrameReady = false;
    for (;;) {
        if (av_read_frame(m_pFormat, m_pPacket) < 0) {
            m_bDone = true;  // past the end: nothing to read
            return true;
        }
        if (m_pPacket->stream_index != m_nStream) {
            av_packet_unref(m_pPacket);
            continue;
        }
        const int samples = OpusPacketSamples(m_pPacket->data, m_pPacket->size);
        if (m_nSentSamples + samples - m_nPreSkip > target - preroll) break;
        m_nSentSamples += samples;
        av_packet_unref(m_pPacket);
    }
    m_bPacketPending = true;
    // The decoder starts afresh there, as at the start of a stream but without the pre-skip:
    // its first frame is the pending packet's first sample on.
    avcodec_flush_buffers(m_pCodec);
    m_nPosition = m_nSentSamples - m_nPreSkip;
    m_nSkipTo = target;
    m_nConverterFormat = -1;
    return true;
}

bool CFFmpegDecoder::Rewind() {
    const std::string path = m_path;
    std::string error;
    if (Open(path, m_nAskedRate, m_nAskedChannels, error)) return true;
    m_problem = "the file could not be opened again: " + error;
    m_bDone = true;
    return false;
}

int64_t CFFmpegDecoder::Length(std::string& error) {
    return LengthBefore(std::chrono::steady_clock::time_point::max(), error);
}

int64_t CFFmpegDecoder::LengthBefore(std::chrono::steady_clock::time_point deadline,
                                     std::string& error) {
    if (!m_pFormat) {
        error = kNotAudio;
        return -1;
    }
    if (m_nKnownLength >= 0) return InputToOutput(m_nKnownLength);
    if (!m_bFresh && !Rewind()) {
        error = "读取失败（" + m_problem + "）";
        return -1;
    }
    if (m_bOpus) {
        const int64_t samples = CountOpusPackets();
        if (!Rewind()) {
            error = "读取失败（" + m_problem + "）";
            return -1;
        }
        if (samples <= 0) {
            Fail(error, kNotAudio);
            return -1;
        }
        return InputToOutput(samples);
    }
    // Decoded to count, without conversion; the clock is looked at every few frames.
    if (std::chrono::steady_clock::now() >= deadline) return kTooLongToCount;
    int64_t count = m_bFrameReady ? m_nFrameTo - m_nFrameFrom : 0;
    m_bFrameReady = false;
    for (int frames = 1; DecodeFrame(); ++frames) {
        count += m_nFrameTo - m_nFrameFrom;
        if (frames % 64 == 0 && std::chrono::steady_clock::now() > deadline) {
            if (!Rewind()) {
                error = "读取失败（" + m_problem + "）";
                return -1;
            }
            return kTooLongToCount;
        }
    }
    if (!m_problem.empty()) {
        Fail(error, "读取失败（" + m_problem + "）");
        return -1;
    }
    if (count <= 0) {
        Fail(error, kNotAudio);
        return -1;
    }
    if (!Rewind()) {
        error = "读取失败（" + m_problem + "）";
        return -1;
    }
    return InputToOutput(count);
}

int64_t CFFmpegDecoder::EstimatedLength() const {
    if (!m_pFormat || m_nStream < 0 || m_nInRate <= 0) return -1;
    if (m_nKnownLength >= 0) return InputToOutput(m_nKnownLength);
    const AVStream* stream = m_pFormat->streams[m_nStream];
    int64_t samples = -1;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        samples = av_rescale_q(stream->duration, stream->time_base, AVRational{1, int(m_nInRate)});
    else if (m_pFormat->duration != AV_NOPTS_VALUE && m_pFormat->duration > 0)
        samples = av_rescale(m_pFormat->duration, m_nInRate, AV_TIME_BASE);
    return samples > 0 ? InputToOutput(samples) : -1;
}

int64_t CFFmpegDecoder::InputToOutput(int64_t samples) const {
    return m_nRate == m_nInRate ? samples
                                : av_rescale_rnd(samples, m_nRate, m_nInRate, AV_ROUND_NEAR_INF);
}

void CFFmpegDecoder::Close() {
    swr_free(&m_pSwr);
    av_frame_free(&m_pFrame);
    av_packet_free(&m_pPacket);
    avcodec_free_context(&m_pCodec);
    avformat_close_input(&m_pFormat);
    if (m_pIo) {
        av_freep(&m_pIo->buffer);
        avio_context_free(&m_pIo);
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_nStream = -1;
    m_nInRate = 0;
    m_nFirstPts = INT64_MIN;
    m_nKnownLength = -1;
    m_nPosition = 0;
    m_nSkipTo = 0;
    m_bNeedPts = false;
    m_bSeekMissed = false;
    m_bFresh = false;
    m_bFrameReady = false;
    m_nFrameFrom = 0;
    m_nFrameTo = 0;
    m_bEndOfFile = false;
    m_bOpus = false;
    m_nPreSkip = 0;
    m_nSentSamples = 0;
    m_nTrimmedSamples = 0;
    m_bPacketPending = false;
    m_readProblem.clear();
    m_nConverterFormat = -1;
    m_nConverterRate = 0;
    m_nConverterChannels = 0;
    m_nRate = 0;
    m_nChannels = 0;
    m_converted.clear();
    m_nConvertedRead = 0;
    m_bDone = false;
    m_problem.clear();
}

bool CFFmpegDecoder::Fail(std::string& error, std::string problem) {
    error = std::move(problem);
    Close();
    return false;
}

}  // namespace platform

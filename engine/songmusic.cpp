#include "engine/songmusic.h"

#include <cmath>
#include <cstdio>

#include "engine/songloader.h"

namespace engine {
namespace {

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}  // namespace

platform::AudioSpan MusicSpan(const SongInfo& info) {
    platform::AudioSpan span;
    span.nStartMs = info.nAudioStartMs;
    span.nEndMs = info.nAudioEndMs;
    span.nFadeMs = info.nFadeMs;
    return span;
}

int LastLineEndMs(const CSong& song) {
    if (song.Points() < 2) return -1;
    return int(std::lround(double(song.End(song.Points() - 2)) * 1000));
}

std::string MusicProblem(const platform::MusicProbe& probe, const platform::AudioSpan& span,
                         int lastLineEndMs) {
    if (!probe.strProblem.empty()) return probe.strProblem;
    if (probe.nLengthMs < 0) return "无法读出长度";
    if (probe.nLengthMs > kLongestMusicMs)
        return "文件自称长 " + Seconds(probe.nLengthMs / 3'600'000.0) + " 小时，不是真的长度";
    const int played = platform::SpanLengthMs(span, probe.nLengthMs);
    const int slack = probe.bExact ? 0 : kEstimateSlackMs;
    if (lastLineEndMs >= 0 && played + slack < lastLineEndMs)
        return "伴奏长 " + Seconds(played / 1000.0) + " 秒，最后一句在 " +
               Seconds(lastLineEndMs / 1000.0) + " 秒才结束";
    return {};
}

bool SongPreviewMusic(const std::string& path, platform::PreviewMusic& music) {
    Problem problem;
    const auto song = LoadSong(path, {}, &problem);
    if (!song || song->Info().strAudio.empty()) return false;
    music.strAudio = song->Info().strAudio;
    music.nStartMs = song->Info().nPreviewStartMs;
    return true;
}

}  // namespace engine

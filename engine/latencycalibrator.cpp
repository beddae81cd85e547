#include "engine/latencycalibrator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "engine/singingengine.h"
#include "platform/capturedevice.h"

namespace engine {
namespace {

constexpr double kMinOnsetRms = 32768.0 * 0.0031622776601683794;  // −50 dBFS
constexpr int kFrameMs = 5;
constexpr int kHistoryFrames = 4;  // the 20 ms an onset's frame is compared with
constexpr double kJump = 3.0;
constexpr double kFloorFactor = 4.0;
constexpr double kPeakFraction = 0.05;

// The offsets onset − click of the clicks matched around offset, each onset used once.
std::vector<int> Match(std::span<const int> clickMs, std::span<const int> onsetMs, int offset) {
    std::vector<bool> used(onsetMs.size(), false);
    std::vector<int> offsets;
    for (int click : clickMs) {
        int best = -1;
        int bestDistance = kOnsetMatchMs + 1;
        for (std::size_t i = 0; i < onsetMs.size(); ++i) {
            const int distance = std::abs(onsetMs[i] - click - offset);
            if (!used[i] && distance < bestDistance) {
                best = int(i);
                bestDistance = distance;
            }
        }
        if (best >= 0) {
            used[std::size_t(best)] = true;
            offsets.push_back(onsetMs[std::size_t(best)] - click);
        }
    }
    return offsets;
}

int LowerMedian(std::vector<int> values) {
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) / 2];
}

}  // namespace

ClickTrack MakeClickTrack(int rate) {
    ClickTrack track;
    rate = std::clamp(rate, 8000, 192000);
    track.nRate = rate;
    const int lengthMs = kClickLeadInMs + (kCalibrationClicks - 1) * kClickSpacingMs + kClickTailMs;
    track.samples.assign(std::size_t(int64_t(lengthMs) * rate / 1000), 0);
    const int burst = rate * 15 / 1000;
    for (int i = 0; i < kCalibrationClicks; ++i) {
        const int ms = kClickLeadInMs + i * kClickSpacingMs;
        track.clickMs.push_back(ms);
        const int64_t start = int64_t(ms) * rate / 1000;
        for (int n = 0; n < burst; ++n) {
            const double t = double(n) / rate;
            // A cosine starts at its peak: the click is at full strength on its first sample.
            const double value =
                0.7 * std::cos(2 * std::numbers::pi * 1000.0 * t) * std::exp(-t / 0.005);
            track.samples[std::size_t(start + n)] = int16_t(std::lround(32767.0 * value));
        }
    }
    return track;
}

std::vector<int> FindOnsets(const int16_t* samples, int count, int rate) {
    std::vector<int> onsets;
    if (!samples || count < 1 || rate < 200) return onsets;
    const int frame = rate * kFrameMs / 1000;
    const int frames = count / frame;
    if (frames < 1) return onsets;
    std::vector<double> level(std::size_t(frames), 0.0);
    for (int f = 0; f < frames; ++f) {
        double energy = 0;
        for (int i = f * frame; i < (f + 1) * frame; ++i) energy += double(samples[i]) * samples[i];
        level[std::size_t(f)] = std::sqrt(energy / frame);
    }
    std::vector<double> sorted = level;
    const auto fifth = sorted.begin() + std::ptrdiff_t(sorted.size() / 5);
    std::nth_element(sorted.begin(), fifth, sorted.end());
    const double floor = std::max(*fifth, 1.0);
    const double loudest = *std::max_element(level.begin(), level.end());
    const double threshold =
        std::max({kFloorFactor * floor, kPeakFraction * loudest, kMinOnsetRms});

    const int64_t refractory = int64_t(rate) * kOnsetRefractoryMs / 1000;
    int64_t last = -refractory - 1;
    for (int f = 0; f < frames; ++f) {
        if (level[std::size_t(f)] < threshold) continue;
        double before = 0;
        const int first = std::max(0, f - kHistoryFrames);
        for (int g = first; g < f; ++g) before += level[std::size_t(g)];
        if (f > first) before /= f - first;
        if (level[std::size_t(f)] < kJump * before) continue;
        // The rise's first sample that reaches the threshold, from the frame before on.
        int onset = f * frame;
        for (int i = std::max(0, f - 1) * frame; i < (f + 1) * frame; ++i)
            if (std::abs(int(samples[i])) >= threshold) {
                onset = i;
                break;
            }
        if (onset - last <= refractory) continue;
        onsets.push_back(onset);
        last = onset;
    }
    return onsets;
}

LatencyEstimate EstimateLatency(std::span<const int> clickMs, std::span<const int> onsetMs) {
    LatencyEstimate estimate;
    int bestCount = 0;
    int bestOffset = 0;
    for (int click : clickMs)
        for (int onset : onsetMs) {
            const int offset = onset - click;
            if (offset < -kOnsetMatchMs || offset > kMaxLatencyMs + kOnsetMatchMs) continue;
            int count = 0;
            for (int c : clickMs)
                count += std::any_of(onsetMs.begin(), onsetMs.end(), [&](int o) {
                    return std::abs(o - c - offset) <= kOnsetMatchMs;
                });
            if (count > bestCount || (count == bestCount && offset < bestOffset)) {
                bestCount = count;
                bestOffset = offset;
            }
        }
    if (bestCount == 0) return estimate;
    // Centred on the median of a first match, so that the window covers the whole spread.
    const std::vector<int> first = Match(clickMs, onsetMs, bestOffset);
    std::vector<int> offsets = Match(clickMs, onsetMs, LowerMedian(first));
    if (offsets.size() < first.size()) offsets = first;
    estimate.nFound = int(offsets.size());
    estimate.nLatencyMs = std::clamp(LowerMedian(offsets), 0, kMaxLatencyMs);
    return estimate;
}

CLatencyCalibrator::CLatencyCalibrator(std::vector<int> clickMs, int rate)
    : m_clickMs(std::move(clickMs)), m_nRate(rate) {}

void CLatencyCalibrator::AddBuffer(const int16_t* samples, int count, int32_t clockMs) {
    if (!samples || count <= 0) return;
    m_samples.insert(m_samples.end(), samples, samples + count);
    m_buffers.push_back({int(m_samples.size()), clockMs, clockMs != platform::kNoClockStamp});
}

bool CLatencyCalibrator::HasEnough() const {
    if (m_clickMs.empty()) return true;
    // The last stamped buffer tells how far the recording has come.
    const auto last = std::find_if(m_buffers.rbegin(), m_buffers.rend(),
                                   [](const Buffer& b) { return b.bStamped; });
    return last != m_buffers.rend() && last->nClockMs >= m_clickMs.back() + kMaxLatencyMs + 200;
}

std::vector<int> CLatencyCalibrator::OnsetTimesMs() const {
    std::vector<int> times;
    if (m_nRate <= 0) return times;
    for (int onset : FindOnsets(m_samples.data(), int(m_samples.size()), m_nRate)) {
        const auto buffer =
            std::upper_bound(m_buffers.begin(), m_buffers.end(), onset,
                             [](int index, const Buffer& b) { return index < b.nEnd; });
        if (buffer == m_buffers.end() || !buffer->bStamped) continue;
        times.push_back(int(buffer->nClockMs - int64_t(buffer->nEnd - onset) * 1000 / m_nRate));
    }
    return times;
}

LatencyEstimate CLatencyCalibrator::Estimate() const {
    return EstimateLatency(m_clickMs, OnsetTimesMs());
}

}  // namespace engine

// Measuring the microphone latency L from clicks played through the accompaniment's output and
// the onsets (claps, a sung "ta", or the clicks themselves over a loopback) found in what the
// microphone recorded meanwhile.
//
// The clicks are played on the accompaniment's clock: click i sounds when that clock reads
// clickMs[i]. Every capture buffer carries the clock's reading when the device handed it back
// (its stamp), exactly as in a singing session. A sample d ms before the end of its buffer is
// therefore taken to have been played at stamp − d; an onset's offset from its click is the L that
// would make the session judge the onset against the click. L is the median of those offsets.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace engine {

inline constexpr int kCalibrationClicks = 8;     // clicks in a calibration
inline constexpr int kClickSpacingMs = 750;      // from one click to the next
inline constexpr int kClickLeadInMs = 1000;      // silence before the first click
inline constexpr int kClickTailMs = 1500;        // silence after the last click
inline constexpr int kMinCalibrationOnsets = 5;  // onsets needed for a new L
inline constexpr int kOnsetMatchMs = 80;         // an onset's distance from its click's offset
inline constexpr int kOnsetRefractoryMs = 250;   // no second onset within this after one

// A click track: mono 16-bit samples at rate Hz, click i starting at clickMs[i] ms.
struct ClickTrack {
    int nRate = 0;
    std::vector<int16_t> samples;
    std::vector<int> clickMs;
    int LengthMs() const { return nRate > 0 ? int(int64_t(samples.size()) * 1000 / nRate) : 0; }
};

// kCalibrationClicks clicks kClickSpacingMs apart after kClickLeadInMs of silence, and
// kClickTailMs of silence after the last. Each click is a 1 kHz tone burst of 15 ms that starts
// at full strength on the click's first sample and dies away. rate: 8000..192000 Hz.
ClickTrack MakeClickTrack(int rate);

// The onsets in samples[0..count) at rate Hz, as sample indices in increasing order: points where
// the level in 5 ms frames jumps to at least three times its mean over the 20 ms before and above
// a threshold (four times the noise floor, the 20th percentile of the frame levels; a twentieth of
// the loudest frame; and −50 dBFS, whichever is highest), refined to the first sample of that rise
// whose magnitude reaches the threshold. Onsets closer than kOnsetRefractoryMs to the previous one
// are dropped. O(count). Empty for count < 1 or rate < 200.
std::vector<int> FindOnsets(const int16_t* samples, int count, int rate);

// The result of matching onsets to clicks.
struct LatencyEstimate {
    int nLatencyMs = 0;  // the median offset onset − click, held in 0..kMaxLatencyMs
    int nFound = 0;      // clicks with an onset of their own
    bool Enough() const { return nFound >= kMinCalibrationOnsets; }
};

// Matches onsets to clicks (both in ms on the same clock): the common offset is the one, between
// −kOnsetMatchMs and kMaxLatencyMs + kOnsetMatchMs, that the most clicks have an onset within
// kOnsetMatchMs of (the smallest such offset on a tie, since clicks repeat); each click then takes
// the onset nearest to click + offset within kOnsetMatchMs, each onset serving one click. The
// estimate is the median of the matched offsets (the lower middle one for an even count), with
// nFound 0 and nLatencyMs 0 when nothing matched.
LatencyEstimate EstimateLatency(std::span<const int> clickMs, std::span<const int> onsetMs);

// Collects a calibration's recording buffer by buffer and estimates L from it.
class CLatencyCalibrator {
public:
    // clickMs: when each click sounds on the accompaniment's clock; rate: the recording's rate.
    CLatencyCalibrator(std::vector<int> clickMs, int rate);

    // One buffer's first channel and its stamp (the clock when the device handed it back;
    // platform::kNoClockStamp when it had none: its onsets are not used).
    void AddBuffer(const int16_t* samples, int count, int32_t clockMs);
    // Whether the recording reaches far enough past the last click for the slowest microphone.
    bool HasEnough() const;
    // The onsets found so far, on the clock (ms), and L from them.
    std::vector<int> OnsetTimesMs() const;
    LatencyEstimate Estimate() const;

private:
    struct Buffer {
        int nEnd = 0;  // index past its last sample in m_samples
        int32_t nClockMs = 0;
        bool bStamped = false;
    };
    std::vector<int> m_clickMs;
    int m_nRate;
    std::vector<int16_t> m_samples;
    std::vector<Buffer> m_buffers;
};

}  // namespace engine

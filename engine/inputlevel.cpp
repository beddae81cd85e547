#include "engine/inputlevel.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/pitchtracker.h"

namespace engine {

float LevelDbfs(const int16_t* samples, int count) {
    if (!samples || count < 1) return kSilenceDbfs;
    double energy = 0;
    for (int i = 0; i < count; ++i) energy += double(samples[i]) * samples[i];
    if (energy <= 0) return kSilenceDbfs;
    const double rms = std::sqrt(energy / count);
    return std::max(kSilenceDbfs, float(20.0 * std::log10(rms / 32768.0)));
}

int MeterPercent(float dbfs) {
    if (!(dbfs > kMeterFloorDbfs)) return 0;
    if (dbfs >= 0) return 100;
    return int((dbfs - kMeterFloorDbfs) * 100.0f / -kMeterFloorDbfs);
}

std::string NoteName(int32_t tenths) {
    if (tenths <= 0 || tenths > 1279) return "";
    static const char* const kNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                           "F#", "G",  "G#", "A",  "A#", "B"};
    const int note = (tenths + 5) / 10;
    return std::string(kNames[note % 12]) + std::to_string(note / 12 - 1);
}

int32_t BlockPitch(const int16_t* samples, int count, int rate) {
    const int frames = PitchFrameCount(count, rate, 256, 128);
    if (!samples || frames <= 0) return 0;
    std::vector<int32_t> values(std::size_t(frames), 0);
    const int n = TrackPitch(samples, count, rate, 256, 128, values.data());
    std::vector<int32_t> voiced;
    for (int i = 0; i < n; ++i)
        if (values[std::size_t(i)] != 0) voiced.push_back(values[std::size_t(i)]);
    if (n == 0 || voiced.size() * 2 < std::size_t(n)) return 0;
    std::sort(voiced.begin(), voiced.end());
    return voiced[voiced.size() / 2];
}

}  // namespace engine

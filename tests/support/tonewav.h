// Sine tones written as 16-bit mono WAVE files, for the tests that play music.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace testing_support {

struct ToneSegment {
    double fHz = 0;       // 0: silence
    double fSeconds = 0;  // how long it lasts
};

// Writes the segments one after the other (phase continuous), at amplitude 12000.
inline void WriteTones(const std::string& path, const std::vector<ToneSegment>& segments,
                       uint32_t rate) {
    auto le = [](uint32_t n, int bytes) {
        std::string s;
        for (int i = 0; i < bytes; ++i) s += char(n >> (8 * i));
        return s;
    };
    std::string data;
    double phase = 0;
    for (const ToneSegment& segment : segments) {
        const auto count = uint32_t(segment.fSeconds * rate);
        for (uint32_t i = 0; i < count; ++i) {
            const double value = segment.fHz > 0 ? 12000 * std::sin(phase) : 0.0;
            data += le(uint16_t(int16_t(std::lround(value))), 2);
            phase =
                std::fmod(phase + 2 * std::numbers::pi * segment.fHz / rate, 2 * std::numbers::pi);
        }
    }
    const auto bytes = uint32_t(data.size());
    std::ofstream(path, std::ios::binary)
        << "RIFF" << le(36 + bytes, 4) << "WAVEfmt " << le(16, 4) << le(1, 2) << le(1, 2)
        << le(rate, 4) << le(rate * 2, 4) << le(2, 2) << le(16, 2) << "data" << le(bytes, 4)
        << data;
}

inline void WriteTone(const std::string& path, double hz, double seconds, uint32_t rate) {
    WriteTones(path, {{hz, seconds}}, rate);
}

}  // namespace testing_support

// The latency calibration end to end on the private PulseAudio server, with no one clapping: the
// clicks go out through the accompaniment's output (the null sink "v"), a loopback module carries
// them from v's monitor to a second null sink "w", and the microphone records w's monitor. Adding
// 200 ms to the loopback's latency must add 200 ms to the calibrated L.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "engine/inputmonitor.h"
#include "engine/latencycalibrator.h"
#include "platform/clickplayer.h"
#include "platform/portaudiocapture.h"
#include "tests/support/alsaleaks.h"
#include "tests/support/eventually.h"
#include "tests/support/pulseserver.h"

namespace {

constexpr int kClickRate = 48000;

// What a pactl command printed (its first line), or nullopt when it failed.
std::optional<std::string> Pactl(const std::string& arguments) {
    std::FILE* pipe = popen(("pactl " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) out += line;
    if (pclose(pipe) != 0) return std::nullopt;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// One calibration as the settings page runs it, with the default input device.
struct Measurement {
    engine::LatencyEstimate estimate;
    std::string error;
};

Measurement Calibrate() {
    Measurement result;
    platform::CPortAudioCapture microphone;
    engine::CInputMonitor monitor;
    platform::CClickPlayer clicks;
    if (!monitor.Start(microphone, result.error)) return result;
    const engine::ClickTrack track = engine::MakeClickTrack(kClickRate);
    engine::CLatencyCalibrator calibrator(track.clickMs, engine::kCaptureFormat.nSamplesPerSec);
    monitor.Drain(nullptr);  // what came before the clicks
    if (clicks.Play(track.samples, track.nRate, result.error)) {
        // Stamped from now on: the first click is a second away.
        monitor.SetClock(&clicks);
        // Generous: on a loaded machine the sound may start late or stall for a while.
        testing_support::Eventually(
            [&] {
                monitor.Drain([&](const int16_t* samples, int count, int32_t clockMs) {
                    calibrator.AddBuffer(samples, count, clockMs);
                });
                return calibrator.HasEnough();
            },
            std::chrono::seconds(120));
        result.estimate = calibrator.Estimate();
    }
    monitor.SetClock(nullptr);
    monitor.Stop();
    clicks.Stop();
    return result;
}

class LatencyLoopbackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_skip = testing_support::JoinPrivateSoundServer(QUORVEL_PULSE_DIR);
    }
    void SetUp() override {
        if (!s_skip.empty()) GTEST_SKIP() << s_skip;
        m_sink = Pactl("load-module module-null-sink sink_name=w rate=48000");
        ASSERT_TRUE(m_sink) << "cannot make the second null sink";
        ASSERT_TRUE(Pactl("set-default-source w.monitor"));
    }
    void TearDown() override {
        Unload(m_loopback);
        Unload(m_sink);
        if (s_skip.empty()) Pactl("set-default-source v.monitor");
    }
    static void Unload(std::optional<std::string>& module) {
        if (module) Pactl("unload-module " + *module);
        module.reset();
    }

    // L calibrated through a loopback of latencyMs; a measurement that lost clicks is repeated.
    int CalibrateThrough(int latencyMs) {
        Unload(m_loopback);
        m_loopback =
            Pactl("load-module module-loopback source=v.monitor sink=w latency_msec=" +
                  std::to_string(latencyMs) + " source_dont_move=true sink_dont_move=true");
        EXPECT_TRUE(m_loopback) << "cannot load module-loopback";
        if (!m_loopback) return -1;
        engine::LatencyEstimate best;
        for (int attempt = 0; attempt < 3 && best.nFound < engine::kCalibrationClicks; ++attempt) {
            const Measurement measured = Calibrate();
            EXPECT_TRUE(measured.error.empty()) << measured.error;
            if (!measured.error.empty()) return -1;
            std::cout << "loopback " << latencyMs << " ms: L = " << measured.estimate.nLatencyMs
                      << " ms from " << measured.estimate.nFound << " of 8 clicks\n";
            if (measured.estimate.nFound > best.nFound) best = measured.estimate;
        }
        EXPECT_GE(best.nFound, engine::kCalibrationClicks - 1) << "the clicks did not come back";
        return best.nLatencyMs;
    }

    static inline std::string s_skip;
    std::optional<std::string> m_sink;
    std::optional<std::string> m_loopback;
};

TEST_F(LatencyLoopbackTest, TwoHundredMoreMillisecondsOfLoopbackRaiseLByTwoHundred) {
    const int shorter = CalibrateThrough(60);
    const int longer = CalibrateThrough(260);
    ASSERT_GE(shorter, 0);
    ASSERT_GE(longer, 0);
    EXPECT_NEAR(longer - shorter, 200, 20) << "L " << shorter << " ms, then " << longer << " ms";
}

}  // namespace

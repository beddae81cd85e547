// The latency calibration end to end on the private PulseAudio server, with no one clapping: the
// clicks go out through the accompaniment's output (the null sink "v"), a loopback module carries
// them from v's monitor to a second null sink "w", and the microphone records w's monitor. Adding
// 200 ms to the loopback's latency must add 200 ms to the calibrated L.
//
// On a loaded machine the loopback does not always hold the latency it was asked for (it runs
// dry and takes seconds to fill up again), so a calibration counts only when the server reported
// the loopback at no less than the requested latency all through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
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

// What a pactl command printed, or nullopt when it failed.
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

// How far behind the loopback's source the sound leaves its sink, as the server reports it for
// the module's sink input: its buffer plus the latency of the sink it plays into, in ms. Either
// part alone swings by tens of ms as blocks move from one to the other; their sum stays put.
std::optional<int> LoopbackLatencyMs(const std::string& module) {
    const std::optional<std::string> listing = Pactl("list sink-inputs");
    if (!listing) return std::nullopt;
    std::istringstream lines(*listing);
    bool ours = false;
    long bufferUs = -1;
    long sinkUs = -1;
    for (std::string line; std::getline(lines, line);) {
        const auto field = [&](const char* name) -> std::optional<long> {
            const auto at = line.find(name);
            if (at == std::string::npos) return std::nullopt;
            return std::strtol(line.c_str() + at + std::char_traits<char>::length(name), nullptr,
                               10);
        };
        if (line.rfind("Sink Input #", 0) == 0) ours = false;
        if (const auto owner = field("Owner Module: ")) ours = std::to_string(*owner) == module;
        if (!ours) continue;
        if (const auto usec = field("Buffer Latency: ")) bufferUs = *usec;
        if (const auto usec = field("Sink Latency: ")) sinkUs = *usec;
    }
    if (bufferUs < 0 || sinkUs < 0) return std::nullopt;
    return int((bufferUs + sinkUs) / 1000);
}

// Whether the loopback has not run dry: the server reports it at least at the latency it was
// asked for (10 ms of slack). Readings above it come and go on a loaded machine while what is
// heard keeps its delay, so they are not held against it.
bool NotBelow(int reportedMs, int targetMs) { return reportedMs >= targetMs - 10; }

// Whether a new loopback is ready to measure: at its latency, and what an earlier one left queued
// in the sink (seconds of it) has drained.
bool Settled(int reportedMs, int targetMs) {
    return NotBelow(reportedMs, targetMs) && reportedMs <= targetMs + 100;
}

// Watches the loopback's latency from another thread while a calibration runs.
class CLoopbackWatch {
public:
    explicit CLoopbackWatch(std::string module)
        : m_thread([this, module = std::move(module)](const std::stop_token& stop) {
              while (!stop.stop_requested()) {
                  const std::optional<int> reported = LoopbackLatencyMs(module);
                  {
                      const std::lock_guard lock(m_mutex);
                      if (reported) {
                          m_nMinMs = std::min(m_nMinMs, *reported);
                          m_nMaxMs = std::max(m_nMaxMs, *reported);
                      } else {
                          m_bLost = true;
                      }
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
              }
          }) {}

    // Stops watching: whether every reading came and none fell below targetMs; `seen` gets their
    // range.
    bool Held(int targetMs, std::string& seen) {
        m_thread.request_stop();
        m_thread.join();
        const std::lock_guard lock(m_mutex);
        seen = std::to_string(m_nMinMs) + ".." + std::to_string(m_nMaxMs);
        return !m_bLost && m_nMaxMs >= 0 && NotBelow(m_nMinMs, targetMs);
    }

private:
    std::mutex m_mutex;
    int m_nMinMs = 1 << 30;
    int m_nMaxMs = -1;
    bool m_bLost = false;  // a reading could not be had
    std::jthread m_thread;
};

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

    // L calibrated through a loopback of latencyMs. A measurement that lost clicks, or during
    // which the loopback strayed from its latency, is repeated.
    int CalibrateThrough(int latencyMs) {
        Unload(m_loopback);
        m_loopback =
            Pactl("load-module module-loopback source=v.monitor sink=w latency_msec=" +
                  std::to_string(latencyMs) + " source_dont_move=true sink_dont_move=true");
        EXPECT_TRUE(m_loopback) << "cannot load module-loopback";
        if (!m_loopback) return -1;
        engine::LatencyEstimate best;
        bool held = false;
        for (int attempt = 0; attempt < 6 && !(held && best.nFound == engine::kCalibrationClicks);
             ++attempt) {
            // Whatever the last loopback left queued in w has drained, and the new one is full.
            const bool settled = testing_support::Eventually(
                [&] {
                    const std::optional<int> reported = LoopbackLatencyMs(*m_loopback);
                    return reported && Settled(*reported, latencyMs);
                },
                std::chrono::seconds(60));
            CLoopbackWatch watch(*m_loopback);
            const Measurement measured = Calibrate();
            std::string seen;
            const bool thisHeld = watch.Held(latencyMs, seen) && settled;
            EXPECT_TRUE(measured.error.empty()) << measured.error;
            if (!measured.error.empty()) return -1;
            std::cout << "loopback " << latencyMs << " ms (server: " << seen
                      << " ms): L = " << measured.estimate.nLatencyMs << " ms from "
                      << measured.estimate.nFound << " of 8 clicks\n";
            // A measurement the server vouches for beats one it does not, then more clicks win.
            if ((thisHeld && !held) ||
                (thisHeld == held && measured.estimate.nFound > best.nFound)) {
                best = measured.estimate;
                held = thisHeld;
            }
        }
        EXPECT_TRUE(held) << "the sound server never held the loopback at " << latencyMs << " ms";
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

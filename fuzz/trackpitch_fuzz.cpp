// Arbitrary sample blocks and arguments for the pitch tracker (and the band-pass filter before
// it). The output array is exactly as long as PitchFrameCount says, so a write past the frames
// the tracker counts is caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/amdf.h"
#include "engine/bandpass.h"
#include "engine/pitchtracker.h"

namespace {

template <typename T>
T Take(const uint8_t*& data, size_t& size) {
    T value{};
    const size_t n = size < sizeof(T) ? size : sizeof(T);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t mode = Take<uint8_t>(data, size);
    // Mostly the system's own arguments; sometimes any, kept small enough to run quickly.
    int sampleRate = 8000, frameLength = 256, hop = 128;
    if (mode & 1) {
        sampleRate = Take<int16_t>(data, size) * 3;  // zero and negative rates too
        frameLength = Take<int16_t>(data, size) % 1100;
        hop = Take<int16_t>(data, size) % 600;
    }
    std::vector<int16_t> samples(size / 2);
    if (!samples.empty()) std::memcpy(samples.data(), data, samples.size() * 2);
    int count = static_cast<int>(samples.size());
    if (mode & 2) count = count / 2 + (mode >> 4);  // a count the block does not have is not passed
    if (count > static_cast<int>(samples.size())) count = static_cast<int>(samples.size());

    if (mode & 4)
        engine::BandPassFilter(samples.data(), count, engine::kBandPass, 2, 70.0, 1000.0, 8000.0,
                               engine::kHammingWindow);

    const int expected = engine::PitchFrameCount(count, sampleRate, frameLength, hop);
    // Keep each input quick: very low rates and tiny hops make millions of frames.
    if (static_cast<int64_t>(expected) * frameLength * frameLength > 50'000'000 ||
        engine::ResampledLength(count, sampleRate) > 1'000'000)
        return 0;
    std::vector<int32_t> out(expected);
    const int frames = engine::TrackPitch(samples.empty() ? nullptr : samples.data(), count,
                                          sampleRate, frameLength, hop, out.data());
    if (frames != expected) __builtin_trap();
    for (int32_t v : out)
        if (v != 0 && (v < 400 || v > 800)) __builtin_trap();

    // Both difference-table kernels agree on whatever the block holds.
    if ((mode & 8) && count >= 1 && count <= 512 &&
        engine::IsAmdfKernelAvailable(engine::AmdfKernel::Avx2)) {
        std::vector<int32_t> plain(count), fast(count);
        engine::AmdfTable(samples.data(), count, 0, plain.data(), engine::AmdfKernel::Plain);
        engine::AmdfTable(samples.data(), count, 0, fast.data(), engine::AmdfKernel::Avx2);
        if (plain != fast) __builtin_trap();
    }
    return 0;
}

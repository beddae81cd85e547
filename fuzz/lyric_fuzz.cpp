// Arbitrary bytes as a song's Lyric file, with a few small reference lines taken from the front of
// the input, run through a few hundred display ticks. The line records, times and counts sit in
// arrays of exactly their size, so a read past them is caught by AddressSanitizer; every lyric
// unit shown must be a piece of the loaded lyric.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/histogrammodel.h"
#include "engine/pitchcompare.h"
#include "platform/codepage.h"
#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Byte() {
        if (m_size == 0) return 0;
        --m_size;
        return *m_data++;
    }
    std::string_view Rest() const { return {reinterpret_cast<const char*>(m_data), m_size}; }

private:
    const uint8_t* m_data;
    size_t m_size;
};

// Mostly silence and sung pitches, now and then a value far outside them.
int32_t Value(uint8_t byte) {
    if (byte < 96) return 0;
    if (byte >= 250) return (byte - 252) * 40000;
    return 400 + (byte - 96) * 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const testing_support::TemporaryFolder library;  // one library for the whole run
    platform::MessageCapture capture;  // the loader's message boxes go here, not to stderr
    Input in(data, size);

    const uint8_t shape = in.Byte();
    const uint8_t flags = in.Byte();
    const int width = 50 + in.Byte() * 4;  // a lead of 0 to 340 ticks
    const int height = 1 + in.Byte();
    const float step = (in.Byte() + 1) * 0.005f;  // seconds of playback per tick

    // Lines 0 to N − 2; N = 1 and no reference data at all are kept as cases of their own.
    const int lines = shape % 6;
    const int points = lines > 0 ? lines + 1 : (shape & 0x80 ? 1 : 0);
    std::vector<int32_t> blocks;
    std::vector<float> starts(points), ends(points);
    std::vector<int> counts(points);
    float time = 0.0f;
    for (int line = 0; line < lines; ++line) {
        const int count = in.Byte() % 10;
        counts[line] = count;
        blocks.push_back(count);
        for (int i = 0; i < count; ++i) blocks.push_back(Value(in.Byte()));
        time += in.Byte() * 0.05f;
        starts[line] = time;
        time += in.Byte() * 0.05f;
        ends[line] = time;
    }
    if (points > 0) starts[points - 1] = ends[points - 1] = time;
    blocks.shrink_to_fit();

    const bool medley = flags & 1;
    testing_support::WriteFile(
        library.Path() / "歌曲" / (medley ? "串烧歌曲" : "单曲") / "song" / "Lyric", in.Rest());

    engine::CHistogramModel model(width, height);
    model.SetLibraryFolder(library.Path().string());
    const bool loaded = model.LoadLyrics("song", medley);
    const std::string& lyric = model.Lyric();
    if (lyric.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) __builtin_trap();
    std::string utf8;
    if (!loaded ? !lyric.empty() : !platform::Cp936ToUtf8(lyric, utf8)) __builtin_trap();

    model.Restart();
    if (points > 0) {
        model.SetReferenceData(blocks.data(), starts.data(), ends.data(), points);
        if (flags & 2) model.SetLineCounts(counts.data());
    }
    const int lastLine = points >= 2 ? points - 2 : 0;
    float playback = -5.0f;
    for (int i = 0; i < 400; ++i) {
        if ((flags & 4) && i == 200) model.Restart();  // a medley's next song, same data
        model.SetPlaybackTime(playback);
        playback += step;
        const int near = i % 3 == 0, hit = (flags >> 3) & 1, far = i % 5 == 0 && (flags & 0x20);
        model.SetPitchMarker(i, near, hit, far);

        const engine::HistogramTick tick = model.Tick();
        if (tick.bDot && (points < 2 || tick.nDotX != width - 50 ||
                          tick.nDotY != engine::DisplayY(tick.nDotValue, height)))
            __builtin_trap();
        if (tick.bLyric &&
            (tick.strLyric.empty() || lyric.find(tick.strLyric) == std::string::npos))
            __builtin_trap();
        const engine::MarkerPen pen = far    ? engine::MarkerPen::Far
                                      : hit  ? engine::MarkerPen::Hit
                                      : near ? engine::MarkerPen::Near
                                             : engine::MarkerPen::Reference;
        if (tick.pen != pen || tick.nMarkerY != i) __builtin_trap();
        if (model.FeedLine() > lastLine || model.MarkerLine() > lastLine) __builtin_trap();
    }
    return 0;
}

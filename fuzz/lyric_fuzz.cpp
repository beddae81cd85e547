// Arbitrary bytes as a song's Lyric file, with a few small reference lines taken from the front of
// the input, run through a few hundred display frames on a clock that the input drives: forward
// in steps of any size, back, to either end of the int range. The line records and times sit in
// arrays of exactly their size, so a read past them is caught by AddressSanitizer; every lyric
// unit shown must be a piece of the loaded lyric (converted to UTF-8), every dot one of the song's
// values on the picture, and the scroll within the width.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
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
    const int width = 50 + in.Byte() * 4;  // a lead of 0 to 4.85 s
    const int height = 1 + in.Byte();
    const int step = in.Byte() + 1;   // ms of playback per frame, unless the clock jumps
    const uint8_t jumps = in.Byte();  // how often the clock jumps

    // Lines 0 to N − 2; N = 1 and no reference data at all are kept as cases of their own.
    const int lines = shape % 6;
    const int points = lines > 0 ? lines + 1 : (shape & 0x80 ? 1 : 0);
    std::vector<std::vector<int32_t>> records;
    std::vector<float> starts(points), ends(points);
    float time = 0.0f;
    for (int line = 0; line < lines; ++line) {
        const int count = in.Byte() % 10;
        records.emplace_back();
        for (int i = 0; i < count; ++i) records.back().push_back(Value(in.Byte()));
        // Now and then a line starts before the one in front of it.
        const uint8_t shift = in.Byte();
        time += shift >= 240 ? -(shift - 239) * 0.5f : shift * 0.05f;
        starts[line] = time;
        time += in.Byte() * 0.05f;
        ends[line] = time;
    }
    if (points > 0) starts[points - 1] = ends[points - 1] = time;

    const bool medley = flags & 1;
    testing_support::WriteFile(
        library.Path() / "歌曲" / (medley ? "串烧歌曲" : "单曲") / "song" / "Lyric", in.Rest());

    engine::CHistogramModel model(width, height);
    const engine::SongRef song{
        "song", (library.Path() / "歌曲" / (medley ? "串烧歌曲" : "单曲") / "song").string()};
    const bool loaded = model.LoadLyrics(song);
    const std::string& lyric = model.Lyric();
    if (lyric.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) __builtin_trap();
    std::string utf8;
    if (!loaded ? !lyric.empty() : !platform::Cp936ToUtf8(lyric, utf8)) __builtin_trap();

    model.Restart();
    if (points > 0) model.SetSong(std::make_shared<const engine::CSong>(starts, ends, records));
    int clock = -100;
    for (int i = 0; i < 400; ++i) {
        if ((flags & 4) && i == 200) {  // a medley's next song, same data, clock from 0
            model.Restart();
            clock = 0;
        }
        const uint32_t roll = static_cast<uint32_t>(i) * 2654435761u + jumps;
        if (jumps != 0 && roll % 256 < jumps % 32) {
            static constexpr int kJumps[] = {INT_MAX, INT_MIN, 0, -15, 4000, INT_MAX - 15};
            const int jump = kJumps[(roll >> 8) % std::size(kJumps)];
            if (jump == -15)
                clock = clock >= INT_MIN + 15 ? clock - 15 : clock;
            else if (jump == 4000)
                clock = clock <= INT_MAX - 4000 ? clock + 4000 : clock;
            else
                clock = jump;
        } else if (clock <= INT_MAX - step) {
            clock += step;
        }
        const int near = i % 3 == 0, hit = (flags >> 3) & 1, far = i % 5 == 0 && (flags & 0x20);
        model.SetPitchMarker(i, near, hit, far);

        const engine::HistogramFrame& frame = model.Advance(clock);
        if (frame.nScroll < 0 || frame.nScroll > width) __builtin_trap();
        for (const engine::HistogramDot& dot : frame.dots) {
            if (points < 2 || dot.nLine < 0 || dot.nLine > points - 2 || dot.nIndex < 0 ||
                dot.nX < -3 || dot.nX >= width + 3 ||
                dot.nY != engine::DisplayY(dot.nValue, height))
                __builtin_trap();
            const auto& record = records[static_cast<std::size_t>(dot.nLine)];
            if (dot.nIndex >= static_cast<int>(record.size()) ||
                record[static_cast<std::size_t>(dot.nIndex)] != dot.nValue)
                __builtin_trap();
        }
        for (const engine::HistogramLyric& unit : frame.lyrics)
            if (std::string bytes; unit.strText.empty() ||
                                   !platform::Utf8ToCp936(unit.strText, bytes) ||
                                   lyric.find(bytes) == std::string::npos)
                __builtin_trap();
        const engine::MarkerPen pen = far    ? engine::MarkerPen::Far
                                      : hit  ? engine::MarkerPen::Hit
                                      : near ? engine::MarkerPen::Near
                                             : engine::MarkerPen::Reference;
        if (frame.pen != pen || frame.nMarkerY != i) __builtin_trap();
    }
    return 0;
}

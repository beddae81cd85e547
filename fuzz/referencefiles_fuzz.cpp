// Arbitrary contents for the reference files of a song. The input is split on '#': the first part
// is "断点", the second "qidian", the third "endpoint" and each further part a line file "1", "2",
// …; a file whose part is missing is not written. Whatever the files say, the loader either
// builds a song that holds together or fails leaving nothing behind.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/linescore.h"
#include "engine/singingengine.h"
#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace {

using NullView = engine::CNullEngineView;

// More line files than this are not written: a song with more lines fails on the first missing
// one, and thousands of files per input would only slow the run down.
constexpr std::size_t kMaxLineFiles = 256;

void WriteSongFolder(const std::filesystem::path& folder, std::string_view input) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
    static const char* const kFixedFiles[] = {"断点", "qidian", "endpoint"};
    std::size_t part = 0;
    for (std::size_t begin = 0; part < 3 + kMaxLineFiles; ++part) {
        const std::size_t end = std::min(input.find('#', begin), input.size());
        const std::string name = part < 3 ? kFixedFiles[part] : std::to_string(part - 2);
        testing_support::WriteFile(folder / name, input.substr(begin, end - begin));
        if (end == input.size()) break;
        begin = end + 1;
    }
}

bool AllZero(const int32_t* values, int count) {
    for (int i = 0; i < count; ++i)
        if (values[i] != 0) return false;
    return true;
}

void CheckLoaded(const engine::CSingingEngine& e) {
    const int n = e.m_nPoints;
    if (n < 2) __builtin_trap();
    if (!e.m_pStartTimes || !e.m_pEndTimes || !e.m_pLineSamples || !e.m_pLineCounts ||
        !e.m_pReference || !e.m_pPitch || !e.m_pSung || e.m_pRefRecord != e.m_pReference)
        __builtin_trap();
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(e.m_pStartTimes[i]) || !std::isfinite(e.m_pEndTimes[i]))
            __builtin_trap();
        if (i + 1 < n && e.m_pStartTimes[i] > e.m_pEndTimes[i]) __builtin_trap();
        if (e.m_pLineSamples[i] != 0) __builtin_trap();
    }
    const int32_t* cell = e.m_pReference;
    for (int line = 0; line + 1 < n; ++line) {
        const int32_t count = *cell++;
        if (count < 0 || count != e.m_pLineCounts[line]) __builtin_trap();
        for (int32_t k = 0; k < count; ++k, ++cell)
            if (*cell > engine::kMaxReferencePitch || *cell < -engine::kMaxReferencePitch)
                __builtin_trap();
    }
    if (*cell != 0) __builtin_trap();  // the cell of the last point
    if (!AllZero(e.m_pPitch, engine::kPitchCapacity) || !AllZero(e.m_pSung, engine::kSungCapacity))
        __builtin_trap();
}

bool HoldsNothing(const engine::CSingingEngine& e) {
    return e.m_nPoints == 0 && !e.m_pStartTimes && !e.m_pEndTimes && !e.m_pLineSamples &&
           !e.m_pLineCounts && !e.m_pReference && !e.m_pRefRecord && !e.m_pPitch && !e.m_pSung;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const testing_support::TemporaryFolder library;  // one library for the whole run
    static const std::filesystem::path folder = library.Path() / "歌曲" / "单曲" / "song";
    platform::MessageCapture capture;  // the loader's message boxes go here, not to stderr
    WriteSongFolder(folder, std::string_view(reinterpret_cast<const char*>(data), size));

    NullView view;
    engine::CSingingEngine e(view);
    e.SetLibraryFolder(library.Path().string());
    if (e.LoadReference("song")) {
        if (!capture.Messages().empty()) __builtin_trap();
        CheckLoaded(e);
        // Releasing keeps only the line counts, which the display may still read.
        e.FreeReference();
        if (!e.m_pLineCounts || e.m_pStartTimes || e.m_pEndTimes || e.m_pLineSamples ||
            e.m_pReference || e.m_pRefRecord || e.m_pPitch || e.m_pSung)
            __builtin_trap();
    } else {
        if (capture.Messages().empty() || e.LoadProblem().empty() || !HoldsNothing(e))
            __builtin_trap();
    }
    return 0;
}

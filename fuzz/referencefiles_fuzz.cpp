// Arbitrary contents for the reference files of a song. The input is split on '#': the first part
// is "断点", the second "qidian", the third "endpoint" and each further part a line file "1", "2",
// …; a file whose part is missing is not written. Whatever the files say, the loader either
// builds a song that holds together, showing nothing, or names the problem, showing nothing too.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/song.h"
#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace {

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

void CheckLoaded(const engine::CSong& song) {
    const int n = song.Points();
    if (n < 2) __builtin_trap();
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(song.Start(i)) || !std::isfinite(song.End(i))) __builtin_trap();
        if (i + 1 < n && song.Start(i) > song.End(i)) __builtin_trap();
    }
    const int32_t* cell = song.Records();
    const int32_t* const end = cell + song.RecordCells();
    for (int line = 0; line + 1 < n; ++line) {
        if (cell >= end) __builtin_trap();
        const int32_t count = *cell++;
        if (count < 0 || count != song.Count(line) || end - cell < count) __builtin_trap();
        for (int32_t k = 0; k < count; ++k, ++cell)
            if (*cell > engine::kMaxReferencePitch || *cell < -engine::kMaxReferencePitch)
                __builtin_trap();
    }
    if (end - cell != 1 || *cell != 0) __builtin_trap();  // the cell of the last point
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const testing_support::TemporaryFolder library;  // one library for the whole run
    static const std::filesystem::path folder = library.Path() / "歌曲" / "单曲" / "song";
    platform::MessageCapture capture;  // the loader's message boxes go here, not to stderr
    WriteSongFolder(folder, std::string_view(reinterpret_cast<const char*>(data), size));

    engine::Problem problem;
    const auto song = engine::CSong::Load(folder.string(), &problem);
    if (!capture.Messages().empty()) __builtin_trap();  // problems come back as values
    if (song)
        CheckLoaded(*song);
    else if (problem.strProblem.empty() || problem.strMessage.empty())
        __builtin_trap();
    return 0;
}

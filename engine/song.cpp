#include "engine/song.h"

#include <climits>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string_view>
#include <utility>

#include "engine/numberscanner.h"
#include "platform/filebytes.h"

namespace engine {
namespace {

constexpr const char* kEmptyTemplate = "模板数据为空，请重新录制！";

std::string Quoted(std::string_view token) {
    const std::string shown = PrintableToken(token);
    return shown.empty() ? std::string("一段内容") : "“" + shown + "”";
}

// "：第 3 个" before the name of a number, or only "：" when the file holds just the one.
std::string Ordinal(int index, int wanted) {
    return wanted == 1 ? "：" : "：第 " + std::to_string(index + 1) + " 个";
}

// What is wrong with a number that could not be read, as a message shows it.
std::string NumberProblem(CNumberScanner::Result result, std::string_view token, int index,
                          int wanted, const char* what) {
    switch (result) {
        case CNumberScanner::Result::End:
            return "：应有 " + std::to_string(wanted) + " 个" + what + "，只找到 " +
                   std::to_string(index) + " 个";
        case CNumberScanner::Result::NotANumber:
            return Ordinal(index, wanted) + what + Quoted(token) + "不是" +
                   (std::string_view(what) == "时间" ? "数字" : "整数");
        case CNumberScanner::Result::OutOfRange:
            return Ordinal(index, wanted) + what + Quoted(token) + "超出范围";
        case CNumberScanner::Result::Ok:
            break;
    }
    return {};
}

std::string Seconds(float seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(seconds));
    return text;
}

std::nullptr_t FileProblem(Problem& out, const std::string& file, const std::string& problem) {
    out.strFile = file;
    out.strProblem =
        problem.starts_with("：") ? problem.substr(std::string_view("：").size()) : problem;
    out.strMessage = "歌曲数据文件“" + file + "”" + problem + "。";
    out.icon = platform::MessageIcon::Exclamation;
    out.bBeep = false;
    return nullptr;
}

// A line file that cannot be read: the singer is told the template is empty.
std::nullptr_t LineFileProblem(Problem& out, const std::string& file, const std::string& problem) {
    out.strFile = file;
    out.strProblem = problem + "（" + kEmptyTemplate + "）";
    out.strMessage = kEmptyTemplate;
    out.icon = platform::MessageIcon::Information;
    out.bBeep = false;
    return nullptr;
}

std::nullptr_t MemoryProblem(Problem& out) {
    out = Problem::Message("erro memory", platform::MessageIcon::Exclamation, true);
    return nullptr;
}

}  // namespace

CSong::CSong(std::vector<float> starts, std::vector<float> ends,
             const std::vector<std::vector<int32_t>>& records, SongInfo info)
    : m_starts(std::move(starts)), m_ends(std::move(ends)), m_info(std::move(info)) {
    const std::size_t points = m_starts.size();
    m_ends.resize(points, 0.0f);
    m_counts.assign(points, 0);
    std::size_t cells = points;
    for (const auto& record : records) cells += record.size();
    m_records.reserve(cells);
    for (std::size_t line = 0; line + 1 < points; ++line) {
        const std::vector<int32_t> none;
        const auto& record = line < records.size() ? records[line] : none;
        m_counts[line] = static_cast<int>(record.size());
        m_records.push_back(static_cast<int32_t>(record.size()));
        m_records.insert(m_records.end(), record.begin(), record.end());
    }
    m_records.push_back(0);  // the cell of the unused last point
}

std::shared_ptr<const CSong> CSong::Load(const std::string& songFolder, Problem* problemOut) {
    Problem ignored;
    Problem& out = problemOut ? *problemOut : ignored;
    out = Problem{};
    auto Fail = [&out](const std::string& file, const std::string& problem) {
        return FileProblem(out, file, problem);
    };
    auto FailLineFile = [&out](const std::string& file, const std::string& problem) {
        return LineFileProblem(out, file, problem);
    };
    const std::string folder = songFolder + "/";
    std::string bytes, problem;

    // The number of points N; a song of N points has N − 1 lines.
    const std::string pointsFile = folder + "断点";
    if (!platform::ReadFileBytes(pointsFile, bytes, problem)) return Fail(pointsFile, problem);
    int32_t points = 0;
    {
        CNumberScanner scanner(bytes);
        const auto result = scanner.NextInt(points);
        if (result != CNumberScanner::Result::Ok)
            return Fail(pointsFile, result == CNumberScanner::Result::End
                                        ? std::string("是空的，应当写有点数")
                                        : NumberProblem(result, scanner.LastToken(), 0, 1, "点数"));
        if (points < 2)
            return Fail(pointsFile,
                        "：点数为 " + std::to_string(points) + "，至少要有 2 个点（一句歌词）");
    }

    // N start and N end times. The files are read before any array of N elements is made, so a
    // damaged point count cannot ask for more memory than the files back.
    std::vector<float> times[2];
    const std::string timeFiles[2] = {folder + "qidian", folder + "endpoint"};
    for (int t = 0; t < 2; ++t) {
        if (!platform::ReadFileBytes(timeFiles[t], bytes, problem))
            return Fail(timeFiles[t], problem);
        CNumberScanner scanner(bytes);
        for (int i = 0; i < points; ++i) {
            float value = 0.0f;
            const auto result = scanner.NextFloat(value);
            if (result != CNumberScanner::Result::Ok)
                return Fail(timeFiles[t],
                            NumberProblem(result, scanner.LastToken(), i, points, "时间"));
            // No song lasts beyond 6 hours, and the song clock counts milliseconds in an int:
            // a time outside ±6 hours is damage, not a song. (Negative times within the bound
            // have always loaded and still do.)
            constexpr float kMaxSongSeconds = 6 * 60 * 60;
            if (!(value >= -kMaxSongSeconds && value <= kMaxSongSeconds))
                return Fail(timeFiles[t], Ordinal(i, points) + "时间 " + Seconds(value) +
                                              " 秒超出范围（-21600 到 21600 秒）");
            times[t].push_back(value);
        }
    }
    for (int k = 0; k + 1 < points; ++k)
        if (times[0][k] > times[1][k])
            return Fail(timeFiles[0], "：第 " + std::to_string(k + 1) + " 句的开始时间 " +
                                          Seconds(times[0][k]) + " 秒晚于“endpoint”中的结束时间 " +
                                          Seconds(times[1][k]) + " 秒");

    // The line records, each file read once and checked whole before anything is stored.
    std::vector<std::vector<int32_t>> records;
    int64_t total = points;  // S + N
    for (int i = 1; i < points; ++i) {
        const std::string lineFile = folder + std::to_string(i);
        if (!platform::ReadFileBytes(lineFile, bytes, problem))
            return FailLineFile(lineFile, problem);
        CNumberScanner scanner(bytes);
        int32_t count = 0;
        auto result = scanner.NextInt(count);
        if (result != CNumberScanner::Result::Ok)
            return Fail(lineFile,
                        result == CNumberScanner::Result::End
                            ? std::string("是空的，应当写有数值个数")
                            : NumberProblem(result, scanner.LastToken(), 0, 1, "数值个数"));
        if (count < 0)
            return Fail(lineFile, "：开头的数值个数为 " + std::to_string(count) + "，不能为负数");
        std::vector<int32_t> record;
        for (int k = 0; k < count; ++k) {
            int32_t value = 0;
            result = scanner.NextInt(value);
            if (result != CNumberScanner::Result::Ok)
                return Fail(lineFile,
                            NumberProblem(result, scanner.LastToken(), k, count, "音高数值"));
            if (value > kMaxReferencePitch || value < -kMaxReferencePitch)
                return Fail(lineFile, "：第 " + std::to_string(k + 1) + " 个音高数值 " +
                                          std::to_string(value) + " 超出范围（-" +
                                          std::to_string(kMaxReferencePitch) + " 到 " +
                                          std::to_string(kMaxReferencePitch) + "）");
            record.push_back(value);
        }
        total += count;
        records.push_back(std::move(record));
    }
    if (total > INT32_MAX) return MemoryProblem(out);
    try {
        SongInfo info;
        info.strTitle = std::filesystem::path(songFolder).filename().string();
        info.strAudio = folder + "music.mp3";
        return std::make_shared<const CSong>(std::move(times[0]), std::move(times[1]), records,
                                             std::move(info));
    } catch (const std::bad_alloc&) {
        return MemoryProblem(out);
    }
}

}  // namespace engine

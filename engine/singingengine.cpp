#include "engine/singingengine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "engine/linescore.h"
#include "engine/numberscanner.h"
#include "platform/messages.h"

namespace engine {
namespace {

constexpr const char* kSingleBase = "歌曲/单曲/";
constexpr const char* kMedleyBase = "歌曲/串烧歌曲/";
constexpr const char* kEmptyTemplate = "模板数据为空，请重新录制！";

template <typename T>
void Release(T*& pointer) {
    if (pointer) std::free(pointer);
    pointer = nullptr;
}

// Reads a whole file. On failure returns false and a description of the problem.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& problem) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        problem = errno == ENOENT ? "不存在" : errno == EACCES ? "没有读取权限" : "无法打开";
        return false;
    }
    bytes.clear();
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    const bool failed = std::ferror(file);
    const int error = errno;
    std::fclose(file);
    if (failed) {
        problem = error == EISDIR ? "是一个文件夹，不是文件" : "读取失败";
        return false;
    }
    return true;
}

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
        return Ordinal(index, wanted) + what + Quoted(token) +
               "不是" + (std::string_view(what) == "时间" ? "数字" : "整数");
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

}  // namespace

CSingingEngine::CSingingEngine(CEngineView& view) : m_view(view) {}

CSingingEngine::~CSingingEngine() { ReleaseAll(); }

std::string CSingingEngine::SongFolder(const std::string& song) const {
    std::string folder = m_strLibrary;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder + (m_bMedley ? kMedleyBase : kSingleBase) + song;
}

bool CSingingEngine::Fail(const std::string& file, const std::string& problem) {
    ReleaseAll();
    m_strProblemFile = file;
    m_strProblem = problem.starts_with("：") ? problem.substr(std::string_view("：").size()) : problem;
    platform::ShowMessage("歌曲数据文件“" + file + "”" + problem + "。",
                          platform::MessageIcon::Exclamation);
    return false;
}

bool CSingingEngine::FailLineFile(const std::string& file, const std::string& problem) {
    ReleaseAll();
    m_strProblemFile = file;
    m_strProblem = problem + "（" + kEmptyTemplate + "）";
    platform::ShowMessage(kEmptyTemplate, platform::MessageIcon::Information);
    return false;
}

bool CSingingEngine::FailMemory() {
    ReleaseAll();
    m_strProblemFile.clear();
    m_strProblem = "erro memory";
    platform::MessageBeep(platform::MessageIcon::Exclamation);
    platform::ShowMessage("erro memory", platform::MessageIcon::Exclamation);
    return false;
}

bool CSingingEngine::LoadReference(const std::string& song) {
    ReleaseAll();
    m_strProblemFile.clear();
    m_strProblem.clear();
    const std::string folder = SongFolder(song) + "/";
    std::string bytes, problem;

    // The number of points N; a song of N points has N − 1 lines.
    const std::string pointsFile = folder + "断点";
    if (!ReadWholeFile(pointsFile, bytes, problem)) return Fail(pointsFile, problem);
    int32_t points = 0;
    {
        CNumberScanner scanner(bytes);
        const auto result = scanner.NextInt(points);
        if (result != CNumberScanner::Result::Ok)
            return Fail(pointsFile, result == CNumberScanner::Result::End
                                        ? std::string("是空的，应当写有点数")
                                        : NumberProblem(result, scanner.LastToken(), 0, 1, "点数"));
        if (points < 2)
            return Fail(pointsFile, "：点数为 " + std::to_string(points) +
                                        "，至少要有 2 个点（一句歌词）");
    }

    // N start and N end times. The files are read before any array of N elements is made, so a
    // damaged point count cannot ask for more memory than the files back.
    std::vector<float> times[2];
    const std::string timeFiles[2] = {folder + "qidian", folder + "endpoint"};
    for (int t = 0; t < 2; ++t) {
        if (!ReadWholeFile(timeFiles[t], bytes, problem)) return Fail(timeFiles[t], problem);
        CNumberScanner scanner(bytes);
        for (int i = 0; i < points; ++i) {
            float value = 0.0f;
            const auto result = scanner.NextFloat(value);
            if (result != CNumberScanner::Result::Ok)
                return Fail(timeFiles[t],
                            NumberProblem(result, scanner.LastToken(), i, points, "时间"));
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
        if (!ReadWholeFile(lineFile, bytes, problem)) return FailLineFile(lineFile, problem);
        CNumberScanner scanner(bytes);
        int32_t count = 0;
        auto result = scanner.NextInt(count);
        if (result != CNumberScanner::Result::Ok)
            return Fail(lineFile, result == CNumberScanner::Result::End
                                      ? std::string("是空的，应当写有数值个数")
                                      : NumberProblem(result, scanner.LastToken(), 0, 1,
                                                      "数值个数"));
        if (count < 0)
            return Fail(lineFile, "：开头的数值个数为 " + std::to_string(count) + "，不能为负数");
        std::vector<int32_t> record;
        for (int k = 0; k < count; ++k) {
            int32_t value = 0;
            result = scanner.NextInt(value);
            if (result != CNumberScanner::Result::Ok)
                return Fail(lineFile, NumberProblem(result, scanner.LastToken(), k, count,
                                                    "音高数值"));
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
    if (total > INT32_MAX) return FailMemory();

    // Everything is known to be sound: build the song.
    const std::size_t n = static_cast<std::size_t>(points);
    m_pStartTimes = static_cast<float*>(std::malloc(n * sizeof(float)));
    m_pEndTimes = static_cast<float*>(std::malloc(n * sizeof(float)));
    m_pLineSamples = static_cast<int*>(std::calloc(n, sizeof(int)));
    m_pLineCounts = static_cast<int*>(std::calloc(n, sizeof(int)));
    m_pReference = static_cast<int32_t*>(std::malloc(static_cast<std::size_t>(total) * 4));
    m_pPitch = static_cast<int32_t*>(std::calloc(kPitchCapacity, sizeof(int32_t)));
    m_pSung = static_cast<int32_t*>(std::calloc(kSungCapacity, sizeof(int32_t)));
    if (!m_pStartTimes || !m_pEndTimes || !m_pLineSamples || !m_pLineCounts || !m_pReference ||
        !m_pPitch || !m_pSung)
        return FailMemory();

    m_nPoints = points;
    for (std::size_t i = 0; i < n; ++i) {
        m_pStartTimes[i] = times[0][i];
        m_pEndTimes[i] = times[1][i];
    }
    int32_t* cell = m_pReference;
    for (std::size_t line = 0; line < records.size(); ++line) {
        const auto& record = records[line];
        *cell++ = static_cast<int32_t>(record.size());
        m_pLineCounts[line] = static_cast<int>(record.size());
        for (int32_t value : record) *cell++ = value;
    }
    *cell = 0;  // the cell of the unused last point
    m_pRefRecord = m_pReference;
    return true;
}

void CSingingEngine::FreeReference() {
    m_pRefRecord = m_pReference;
    Release(m_pStartTimes);
    Release(m_pEndTimes);
    Release(m_pLineSamples);
    Release(m_pPitch);
    Release(m_pSung);
    Release(m_pReference);
    m_pRefRecord = nullptr;
}

void CSingingEngine::ReleaseAll() {
    FreeReference();
    Release(m_pLineCounts);
    m_nPoints = 0;
}

float CSingingEngine::ShowGrade(float score) {
    m_view.SetGradeText(GradeWord(score));
    return score;
}

}  // namespace engine

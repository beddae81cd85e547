#include "tools/quorvel-score/reviewfiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "tools/quorvel-score/printable.h"

namespace tools {
namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

const char* VerdictName(engine::Verdict verdict) {
    switch (verdict) {
        case engine::Verdict::Hit:
            return "hit";
        case engine::Verdict::Near:
            return "near";
        case engine::Verdict::Miss:
            return "miss";
        case engine::Verdict::Neutral:
            break;
    }
    return "none";
}

void WriteBuffer(std::ostream& out, const engine::BufferReport& b) {
    out << "{\"clockMs\":" << b.nClockMs << ",\"refIndex\":" << b.nRefIndex
        << ",\"ref\":" << b.nRefValue << ",\"marker\":\""
        << (b.bHit    ? "hit"
            : b.bNear ? "near"
                      : "far")
        << "\",\"countedHit\":" << (b.bCountedHit ? "true" : "false")
        << ",\"countedNear\":" << (b.bCountedNear ? "true" : "false")
        << ",\"appended\":" << b.nAppended << ",\"key\":" << b.nKeyOffset << ",\"heard\":[";
    for (int k = 0; k < b.nFrames; ++k) out << (k ? "," : "") << b.aHeard[k];
    out << "]}";
}

}  // namespace

bool WriteReview(const std::string& folder, int role, const std::string& level,
                 const engine::SessionResult& result, const LinePlotter& plotter,
                 std::string& error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code || !std::filesystem::is_directory(folder)) {
        error = folder + ": the review folder cannot be made (" + code.message() + ")";
        return false;
    }
    const int roleOffset = role == 2 ? 80 : 120;
    const std::string jsonPath = (std::filesystem::path(folder) / "review.json").string();
    std::ofstream out(jsonPath, std::ios::binary | std::ios::trunc);
    out << "{\"role\":" << role << ",\"level\":" << JsonString(level)
        << ",\"final\":" << Number(result.fFinal) << ",\"songs\":[";
    for (std::size_t s = 0; s < result.songs.size(); ++s) {
        const engine::SongResult& song = result.songs[s];
        out << (s ? "," : "") << "{\"name\":" << JsonString(song.strName) << ",\"lines\":[";
        const auto reviews = song.song
                                 ? engine::BuildLineReviews(*song.song, song.lines, song.buffers)
                                 : std::vector<engine::LineReview>{};
        for (std::size_t l = 0; l < reviews.size(); ++l) {
            const engine::LineReview& review = reviews[l];
            const engine::LineReport& report = review.report;
            out << (l ? "," : "") << "{\"line\":" << review.nLine + 1
                << ",\"start\":" << Number(report.fStart) << ",\"end\":" << Number(report.fEnd)
                << ",\"score\":" << Number(report.fScore)
                << ",\"grade\":" << JsonString(report.strGrade) << ",\"hits\":" << report.nHits
                << ",\"nears\":" << report.nNears << ",\"key\":" << report.nKeyOffset
                << ",\"keyWords\":" << JsonString(engine::KeyOffsetWords(report.nKeyOffset))
                << ",\"inTune\":" << Number(review.inTune) << ",\"judged\":["
                << Number(review.judgedFrom) << "," << Number(review.judgedTo) << "],\"notes\":[";
            for (std::size_t n = 0; n < review.notes.size(); ++n) {
                const engine::ReviewNote& note = review.notes[n];
                out << (n ? "," : "") << "{\"start\":" << Number(note.start)
                    << ",\"end\":" << Number(note.end) << ",\"value\":" << note.value
                    << ",\"note\":" << JsonString(engine::NoteName(note.value, roleOffset))
                    << ",\"lyric\":" << JsonString(note.strLyric) << "}";
            }
            out << "],\"heard\":[";
            for (std::size_t p = 0; p < review.heard.size(); ++p) {
                const engine::ReviewPoint& point = review.heard[p];
                out << (p ? "," : "") << "[" << Number(point.t) << "," << point.value << ",\""
                    << VerdictName(point.verdict) << "\"]";
            }
            out << "],\"buffers\":[";
            bool first = true;
            for (const engine::BufferReport& buffer : song.buffers) {
                if (buffer.nLine != review.nLine) continue;
                out << (first ? "" : ",");
                WriteBuffer(out, buffer);
                first = false;
            }
            out << "]}";
            if (plotter) {
                char name[48];
                std::snprintf(name, sizeof name, "%zu-%02d.png", s + 1, review.nLine + 1);
                const std::string path = (std::filesystem::path(folder) / name).string();
                if (!plotter(review, roleOffset, path, error)) return false;
            }
        }
        out << "]}";
    }
    out << "]}\n";
    out.flush();
    if (!out) {
        error = jsonPath + ": cannot be written";
        return false;
    }
    return true;
}

}  // namespace tools

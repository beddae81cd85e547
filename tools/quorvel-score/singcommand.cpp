#include "tools/quorvel-score/singcommand.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "engine/headlesssession.h"
#include "engine/judginglevel.h"
#include "engine/songfolder.h"
#include "platform/messages.h"
#include "tools/quorvel-score/printable.h"
#include "tools/quorvel-score/recording.h"
#include "tools/quorvel-score/reviewfiles.h"
#include "tools/quorvel-score/songname.h"

namespace tools {
namespace {

constexpr const char* kUsage =
    "usage: quorvel-score sing [--library DIR] [--role 1|2] [--latency-ms N] "
    "[--level easy|standard|strict] [--json] [--review DIR] --wav FILE.wav [--] SONG [SONG SONG "
    "SONG]\n";

LinePlotter& Plotter() {
    static LinePlotter plotter;
    return plotter;
}

struct Options {
    std::string library;
    int role = 1;
    int latencyMs = 0;
    engine::JudgingLevel level = engine::JudgingLevel::Easy;
    bool json = false;
    std::string wav;
    std::string review;  // the folder the review goes to ("" for none)
    std::vector<std::string> songs;
};

// A latency in whole milliseconds, 0 to kMaxLatencyMs, in plain decimal digits.
bool ParseLatency(const std::string& text, int& latency) {
    if (text.empty() || text.size() > 4 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    latency = std::stoi(text);
    return latency <= engine::kMaxLatencyMs;
}

// The options, or nullopt with the reason in problem (empty: print the usage).
std::optional<Options> ParseArgs(const std::vector<std::string>& args, std::string& problem) {
    Options options;
    bool optionsEnded = false;  // after "--" every word is a song, even one starting with "-"
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        // A song: after "--", or any word that does not start with "-".
        if (optionsEnded || (!arg.empty() && arg[0] != '-')) {
            options.songs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--library" && hasValue) {
            options.library = args[++i];
        } else if (arg == "--role" && hasValue && (args[i + 1] == "1" || args[i + 1] == "2")) {
            options.role = args[++i] == "2" ? 2 : 1;
        } else if (arg == "--latency-ms" && hasValue) {
            const std::string& value = args[++i];
            if (!ParseLatency(value, options.latencyMs)) {
                problem = "--latency-ms: \"" + value +
                          "\" is not a whole number of milliseconds "
                          "from 0 to " +
                          std::to_string(engine::kMaxLatencyMs);
                return std::nullopt;
            }
        } else if (arg == "--level" && hasValue) {
            const std::string& value = args[++i];
            const auto level = engine::ParseJudgingLevel(value);
            if (!level) {
                problem =
                    "--level: \"" + value + "\" is not a judging level (easy, standard or strict)";
                return std::nullopt;
            }
            options.level = *level;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--review" && hasValue && options.review.empty() &&
                   !args[i + 1].empty()) {
            options.review = args[++i];
        } else if (arg == "--wav" && hasValue && options.wav.empty()) {
            options.wav = args[++i];
        } else {
            return std::nullopt;
        }
    }
    if (options.wav.empty() || (options.songs.size() != 1 && options.songs.size() != 4))
        return std::nullopt;
    return options;
}

std::string Float(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

void PrintJson(std::ostream& out, const Options& options, const engine::SessionResult& result) {
    out << "{\"role\":" << options.role << ",\"songs\":[";
    for (std::size_t s = 0; s < result.songs.size(); ++s) {
        const auto& song = result.songs[s];
        out << (s ? "," : "") << "{\"name\":" << JsonString(song.strName) << ",\"lines\":[";
        for (std::size_t l = 0; l < song.lines.size(); ++l) {
            const engine::LineReport& line = song.lines[l];
            out << (l ? "," : "") << "{\"start\":" << Float(line.fStart)
                << ",\"end\":" << Float(line.fEnd) << ",\"hits\":" << line.nHits
                << ",\"nears\":" << line.nNears << ",\"sung\":" << line.nSung
                << ",\"cut\":" << line.nCut
                << ",\"cost\":" << (line.bAligned ? Float(line.fCost) : std::string("null"))
                << ",\"align\":" << Float(line.fAlign) << ",\"score\":" << Float(line.fScore)
                << ",\"grade\":" << JsonString(line.strGrade) << "}";
        }
        out << "]}";
    }
    out << "],\"level\":\"" << engine::JudgingLevelName(options.level)
        << "\",\"lines\":" << result.nLines << ",\"final\":" << Float(result.fFinal) << "}\n";
}

void PrintText(std::ostream& out, const Options& options, const engine::SessionResult& result) {
    out << "song\tline\tstart\tend\thits\tnears\tsung\tscore\tgrade\n";
    for (const auto& song : result.songs)
        for (const engine::LineReport& line : song.lines)
            out << Printable(song.strName) << '\t' << line.nLine + 1 << '\t' << line.fStart << '\t'
                << line.fEnd << '\t' << line.nHits << '\t' << line.nNears << '\t' << line.nSung
                << '\t' << line.fScore << '\t' << line.strGrade << '\n';
    // The last line stays "final score X over N lines" at the default level, as scripts read it;
    // another level is named after it.
    out << "final score " << result.fFinal << " over " << result.nLines << " lines";
    if (options.level != engine::JudgingLevel::Easy)
        out << " (" << engine::JudgingLevelName(options.level) << ")";
    out << '\n';
}

}  // namespace

void SetReviewPlotter(LinePlotter plotter) { Plotter() = std::move(plotter); }

int RunSingCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string problem;
    const auto options = ParseArgs(args, problem);
    if (!options) {
        if (!problem.empty()) err << "quorvel-score: " << problem << '\n';
        err << kUsage;
        return 2;
    }
    // A song is one folder of the library: a name that would lead out of it is refused.
    for (const std::string& song : options->songs) {
        if (!IsSongName(song)) {
            err << "quorvel-score: "
                << Printable(
                       engine::SongFolderPath(options->library, options->songs.size() == 4, song))
                << ": " << kBadSongName << '\n';
            return 2;
        }
    }
    // The recording is read as the session's clock reaches it: memory stays bounded whatever
    // its length.
    platform::CWaveReader reader;
    if (!OpenSungRecording(options->wav, reader, problem)) {
        err << "quorvel-score: " << Printable(options->wav) << ": " << problem << '\n';
        return 2;
    }
    engine::CHeadlessSession::Recording recording;
    recording.read = [&reader](int16_t* stereo, std::size_t frames) {
        return ReadStereo(reader, stereo, frames);
    };
    recording.strProblem = options->wav + ": the samples cannot be read";

    platform::MessageCapture messages;  // message boxes and traces of the session
    engine::CHeadlessSession session(options->songs, options->role, options->library);
    session.SetLatencyMs(options->latencyMs);
    session.SetJudgingLevel(options->level);
    const engine::SessionResult result = session.Sing(recording);
    if (!result.bCompleted) {
        err << "quorvel-score: " << Printable(result.strError) << '\n';
        return 2;
    }
    for (const std::string& message : messages.Messages())
        err << "quorvel-score: warning: " << Printable(message) << '\n';
    if (!options->review.empty() &&
        !WriteReview(options->review, options->role, engine::JudgingLevelName(options->level),
                     result, Plotter(), problem)) {
        err << "quorvel-score: " << Printable(problem) << '\n';
        return 2;
    }
    if (options->json)
        PrintJson(out, *options, result);
    else
        PrintText(out, *options, result);
    return OutputStatus(out, err, 0);
}

}  // namespace tools

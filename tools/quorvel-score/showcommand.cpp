#include "tools/quorvel-score/showcommand.h"

#include <cstdio>
#include <memory>

#include "engine/histogrammodel.h"
#include "engine/songfolder.h"
#include "engine/songloader.h"
#include "platform/messages.h"
#include "tools/quorvel-score/printable.h"
#include "tools/quorvel-score/songname.h"

namespace tools {
namespace {

constexpr const char* kUsage =
    "usage: quorvel-score show [--library DIR] [--medley] [--role 1|2] [--json] [--] SONG\n";

std::string Float(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// The lyric units of every line as the display shows them: the display's own bookkeeping is run
// through the whole song on its clock, so both kinds of lyric follow their one rule.
std::vector<std::vector<std::string>> LyricUnits(const engine::SongRef& ref,
                                                 const std::shared_ptr<const engine::CSong>& song) {
    std::vector<std::vector<std::string>> units(static_cast<std::size_t>(song->Points() - 1));
    engine::CHistogramModel model(800, 110);
    model.LoadLyrics(ref);
    model.Restart();
    model.SetSong(song);
    float last = 0;
    for (int line = 0; line + 1 < song->Points(); ++line)
        last = std::max(last, song->Start(line) + 0.015f * static_cast<float>(song->Count(line)));
    const int endMs = static_cast<int>(last * 1000.0f) + 60'000;
    for (int now = 0; now <= endMs; now += 15)
        for (const engine::HistogramLyric& unit : model.Advance(now).lyrics)
            units[static_cast<std::size_t>(unit.nLine)].push_back(unit.strText);
    return units;
}

}  // namespace

int RunShowCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string library;
    engine::SongLoadOptions options;
    bool json = false;
    bool optionsEnded = false;
    std::vector<std::string> songs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || (!arg.empty() && arg[0] != '-')) {
            songs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--library" && i + 1 < args.size()) {
            library = args[++i];
        } else if (arg == "--medley") {
            options.bMedley = true;
        } else if (arg == "--role" && i + 1 < args.size() &&
                   (args[i + 1] == "1" || args[i + 1] == "2")) {
            options.nRole = args[++i] == "2" ? 2 : 1;
        } else if (arg == "--json") {
            json = true;
        } else {
            err << kUsage;
            return 2;
        }
    }
    if (songs.size() != 1) {
        err << kUsage;
        return 2;
    }
    if (!IsSongName(songs[0])) {
        err << "quorvel-score: "
            << Printable(engine::SongFolderPath(library, options.bMedley, songs[0])) << ": "
            << kBadSongName << '\n';
        return 2;
    }
    const engine::SongRef ref{songs[0],
                              engine::LibrarySongFolder(library, options.bMedley, songs[0])};

    platform::MessageCapture messages;  // the loaders' message boxes
    engine::Problem problem;
    const std::shared_ptr<const engine::CSong> song =
        engine::LoadSong(ref.strFolder, options, &problem);
    if (!song) {
        err << "quorvel-score: " << Printable(problem.Describe()) << '\n';
        return 1;
    }
    const engine::SongInfo& info = song->Info();
    const std::vector<std::vector<std::string>> lyrics = LyricUnits(ref, song);
    for (const std::string& message : messages.Messages())
        err << "quorvel-score: warning: " << Printable(message) << '\n';

    const int32_t* cells = song->Records();
    if (json) {
        out << "{\"title\":" << JsonString(info.strTitle)
            << ",\"artist\":" << JsonString(info.strArtist)
            << ",\"audio\":" << JsonString(info.strAudio) << ",\"lines\":[";
    } else {
        out << "title\t" << Printable(info.strTitle) << "\nartist\t" << Printable(info.strArtist)
            << "\naudio\t" << Printable(info.strAudio) << '\n';
        if (info.nAudioStartMs != 0 || info.nAudioEndMs >= 0)
            out << "music\tfrom " << info.nAudioStartMs << " ms to "
                << (info.nAudioEndMs >= 0 ? std::to_string(info.nAudioEndMs) + " ms"
                                          : std::string("the end"))
                << (info.nFadeMs > 0 ? ", fading " + std::to_string(info.nFadeMs) + " ms" : "")
                << '\n';
        out << "line\tstart\tend\tM\tvalues\tlyrics\n";
    }
    for (int line = 0; line + 1 < song->Points(); ++line) {
        const int count = *cells++;
        const auto& units = lyrics[static_cast<std::size_t>(line)];
        if (json) {
            out << (line ? "," : "") << "{\"start\":" << Float(song->Start(line))
                << ",\"end\":" << Float(song->End(line)) << ",\"values\":[";
            for (int i = 0; i < count; ++i) out << (i ? "," : "") << cells[i];
            out << "],\"lyrics\":[";
            for (std::size_t u = 0; u < units.size(); ++u)
                out << (u ? "," : "") << JsonString(units[u]);
            out << "]}";
        } else {
            out << line + 1 << '\t' << Float(song->Start(line)) << '\t' << Float(song->End(line))
                << '\t' << count << '\t';
            for (int i = 0; i < count; ++i) out << (i ? " " : "") << cells[i];
            out << '\t';
            for (std::size_t u = 0; u < units.size(); ++u)
                out << (u ? "|" : "") << Printable(units[u]);
            out << '\n';
        }
        cells += count;
    }
    if (json) out << "]}\n";
    return OutputStatus(out, err, 0);
}

}  // namespace tools

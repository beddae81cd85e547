// quorvel-score: Quorvel's scoring engine without a window.
#include <iostream>
#include <string>
#include <vector>

#include "tools/quorvel-score/checkcommand.h"
#include "tools/quorvel-score/pitchcommand.h"
#include "tools/quorvel-score/showcommand.h"
#include "tools/quorvel-score/singcommand.h"
#ifdef QUORVEL_REVIEW_PLOTS
#include "tools/quorvel-score/lineplotter.h"
#endif

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    const std::vector<std::string> rest(words.empty() ? words.end() : words.begin() + 1,
                                        words.end());
    if (!words.empty() && words[0] == "pitch")
        return tools::RunPitchCommand(rest, std::cout, std::cerr);
    if (!words.empty() && words[0] == "check")
        return tools::RunCheckCommand(rest, std::cout, std::cerr);
    if (!words.empty() && words[0] == "sing") {
#ifdef QUORVEL_REVIEW_PLOTS
        tools::SetReviewPlotter(tools::PlotLineToPng);
#endif
        return tools::RunSingCommand(rest, std::cout, std::cerr);
    }
    if (!words.empty() && words[0] == "show")
        return tools::RunShowCommand(rest, std::cout, std::cerr);
    std::cerr << "usage: quorvel-score pitch [--raw] [--tracker amdf|precise] [--] FILE.wav\n"
                 "       quorvel-score check [--library DIR] [--medley] [--] SONG...\n"
                 "       quorvel-score sing [--library DIR] [--role 1|2] [--latency-ms N] "
                 "[--level easy|standard|strict] [--json] [--review DIR] --wav FILE.wav [--] "
                 "SONG [SONG SONG SONG]\n"
                 "       quorvel-score show [--library DIR] [--medley] [--role 1|2] [--json] "
                 "[--] SONG\n";
    return 2;
}

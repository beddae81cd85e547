// quorvel-score: Quorvel's scoring engine without a window.
#include <iostream>
#include <string>
#include <vector>

#include "tools/quorvel-score/pitchcommand.h"

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (!words.empty() && words[0] == "pitch")
        return tools::RunPitchCommand({words.begin() + 1, words.end()}, std::cout, std::cerr);
    std::cerr << "usage: quorvel-score pitch [--raw] FILE.wav\n";
    return 2;
}

// Joining the private PulseAudio server that the CTest fixture pulse-null-sink starts for the
// tests that play into or record from a sound server.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testing_support {

// Takes the server's variables from the fixture's folder into the environment, before PortAudio
// first starts. Returns why the sound tests must be skipped, or "" when the server is there.
inline std::string JoinPrivateSoundServer(const std::filesystem::path& dir) {
    if (std::filesystem::exists(dir / "unavailable")) {
        std::ifstream reason(dir / "unavailable");
        std::string text((std::istreambuf_iterator<char>(reason)), {});
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return "no sound server: " + text;
    }
    std::ifstream env(dir / "env");
    if (!env)
        return "the private sound server is not running (CTest's fixture pulse-null-sink starts "
               "it)";
    for (std::string line; std::getline(env, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            setenv(line.substr(0, equals).c_str(), line.substr(equals + 1).c_str(), 1);
    }
    return "";
}

}  // namespace testing_support

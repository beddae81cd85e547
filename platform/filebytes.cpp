#include "platform/filebytes.h"

namespace platform {

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& problem,
                   int64_t limit) {
    bytes.clear();
    CInputFile file;
    if (file.Open(path) && file.ReadAll(bytes, limit)) return true;
    problem = file.ProblemText(TextLanguage::Chinese);
    return false;
}

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& problem) {
    return ReadFileBytes(path, bytes, problem, kSongFileLimit);
}

}  // namespace platform

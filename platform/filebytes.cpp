#include "platform/filebytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

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

bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& problem) {
    std::vector<char> name(path.begin(), path.end());
    for (char c : std::string_view(".new-XXXXXX")) name.push_back(c);
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        problem = std::strerror(errno);
        return false;
    }
    const auto fail = [&] {
        problem = std::strerror(errno);
        ::close(fd);
        ::unlink(name.data());
        return false;
    };
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return fail();
        done += static_cast<std::size_t>(wrote);
    }
    if (::fsync(fd) != 0) return fail();
    if (::close(fd) != 0 || ::rename(name.data(), path.c_str()) != 0) {
        problem = std::strerror(errno);
        ::unlink(name.data());
        return false;
    }
    return true;
}

}  // namespace platform

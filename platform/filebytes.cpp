#include "platform/filebytes.h"

#include <cerrno>
#include <cstdio>

namespace platform {

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& problem) {
    bytes.clear();
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        problem = errno == ENOENT ? "不存在" : errno == EACCES ? "没有读取权限" : "无法打开";
        return false;
    }
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    const bool failed = std::ferror(file);
    const int error = errno;
    std::fclose(file);
    if (failed) {
        problem = error == EISDIR ? "是一个文件夹，不是文件" : "读取失败";
        bytes.clear();
        return false;
    }
    return true;
}

}  // namespace platform

// Reading a whole small file (song data, lyrics, help text) with a reason the user can read when
// it fails.
#pragma once

#include <string>

namespace platform {

// Reads the file's bytes. On failure returns false and the problem in the program's language
// ("不存在", "没有读取权限", "无法打开", "是一个文件夹，不是文件", "读取失败"), to follow the
// file's name in a message.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& problem);

}  // namespace platform

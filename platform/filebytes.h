// Reading a whole small file (song data, lyrics, help text) with a reason the user can read when
// it fails.
#pragma once

#include <cstdint>
#include <string>

#include "platform/inputfile.h"

namespace platform {

// Reads the file's bytes through CInputFile: never blocks, refuses what is not a regular file and
// a file over limit bytes. On failure returns false and the problem in the program's language
// ("不存在", "没有读取权限", "是一个文件夹，不是文件", "不是普通文件，是设备", "名称太长",
// "太大（超过 16 MiB 的上限）", "读取失败", ...), to follow the file's name in a message.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& problem,
                   int64_t limit);
// The same with the limit of a song's files (kSongFileLimit).
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& problem);

}  // namespace platform

// Reading a whole small file (song data, lyrics, help text) with a reason the user can read when
// it fails, and writing one whole in place of another.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// Writes the bytes as a new file in the folder of path and renames it over path: a reader sees
// the old file or the new one, whole, and a symbolic link at path is replaced by the file, never
// followed (what it pointed at stays as it was). False, with the system's reason in problem and
// nothing left behind, when it could not.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& problem);

}  // namespace platform

// A file the program reads from outside: a song's data, a lyric, the help text, a picture, a
// recording, the accompaniment. Every reader opens its files through this class, so that no name
// the user or a song folder gives can hang, crash or exhaust the program:
// - opening never blocks: the name is opened with O_NONBLOCK and the file type is then taken from
//   the open descriptor (no check-then-open race), so a FIFO is refused instead of waiting for a
//   writer that never comes;
// - only a regular file is accepted: a device (a link to /dev/zero or /dev/urandom), a FIFO, a
//   socket or a folder is a problem, named as such;
// - a whole-file read has a limit given per kind of file; a file larger than it is a problem,
//   and no more than the limit (plus one byte to notice a file that grows) is ever read.
// Problems are texts to follow the file's name in a message, in the language of the messages
// they join: Chinese for the song loader and the windows, English for quorvel-score's own lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class TextLanguage { Chinese, English };

// Limits of a whole-file read, in bytes, per kind of file.
// 断点, qidian, endpoint, the line files, Lyric
inline constexpr int64_t kSongFileLimit = 16 << 20;
inline constexpr int64_t kHelpFileLimit = 1 << 20;      // the help text "init"
inline constexpr int64_t kPictureFileLimit = 64 << 20;  // a GIF, PNG or BMP picture

class CInputFile {
public:
    enum class Problem {
        None,
        Missing,             // no such file (or a folder on the way is missing)
        NoPermission,        // not readable by us
        NameTooLong,         // the path or one of its names is longer than the system allows
        NotAFolderOnTheWay,  // a name on the way to the file is a file, not a folder
        LinkLoop,            // too many symbolic links (a loop)
        Folder,              // a folder, not a file
        Fifo,                // a named pipe
        Device,              // a character or block device
        Socket,              // a socket
        OtherType,           // anything else that is not a regular file
        TooLarge,            // larger than the limit of the read
        CannotOpen,          // any other reason open() gave
        ReadFailed,          // reading failed
    };

    CInputFile() = default;
    ~CInputFile();  // Close
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    // Opens a regular file for reading without ever blocking. False with the problem set when
    // the file is missing, unreadable or not a regular file; a file already open is closed first.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // The size the file had when it was opened (bytes).
    int64_t Size() const { return m_nSize; }
    // Hands the open descriptor over to the caller, who closes it; the object is then closed.
    int Release();

    // Reads the rest of the file into bytes; a file larger than limit bytes is TooLarge and
    // leaves bytes empty. At most limit + 1 bytes are read, whatever the file does meanwhile.
    bool ReadAll(std::string& bytes, int64_t limit);
    // Reads up to count bytes at the current position: the count read, 0 at the end of the file,
    // -1 on an error (problem ReadFailed). Interrupted reads are retried.
    int64_t Read(void* data, std::size_t count);

    Problem GetProblem() const { return m_problem; }
    // The problem as a text to follow the file's name, e.g. "不是普通文件，是命名管道（FIFO）".
    std::string ProblemText(TextLanguage language = TextLanguage::Chinese) const;

private:
    bool Fail(Problem problem);

    int m_fd = -1;
    int64_t m_nSize = 0;
    int64_t m_nLimit = 0;  // the limit of the last ReadAll, for its TooLarge text
    Problem m_problem = Problem::None;
};

// The text of a problem, as CInputFile::ProblemText gives it; limit is used by TooLarge.
std::string InputProblemText(CInputFile::Problem problem, TextLanguage language, int64_t limit = 0);

}  // namespace platform

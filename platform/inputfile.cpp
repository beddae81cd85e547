#include "platform/inputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

// A limit as a person reads it: whole MiB or KiB when it is one, else bytes.
std::string LimitText(int64_t limit) {
    if (limit > 0 && limit % (1 << 20) == 0) return std::to_string(limit >> 20) + " MiB";
    if (limit > 0 && limit % (1 << 10) == 0) return std::to_string(limit >> 10) + " KiB";
    return std::to_string(limit) + " B";
}

}  // namespace

std::string InputProblemText(CInputFile::Problem problem, TextLanguage language, int64_t limit) {
    using P = CInputFile::Problem;
    const bool zh = language == TextLanguage::Chinese;
    switch (problem) {
        case P::None:
            return {};
        case P::Missing:
            return zh ? "不存在" : "no such file";
        case P::NoPermission:
            return zh ? "没有读取权限" : "permission denied";
        case P::NameTooLong:
            return zh ? "名称太长" : "name too long";
        case P::NotAFolderOnTheWay:
            return zh ? "路径中有一段不是文件夹" : "a name on its path is not a directory";
        case P::LinkLoop:
            return zh ? "符号链接层数太多" : "too many levels of symbolic links";
        case P::Folder:
            return zh ? "是一个文件夹，不是文件" : "is a directory";
        case P::Fifo:
            return zh ? "不是普通文件，是命名管道（FIFO）" : "is not a regular file (a FIFO)";
        case P::Device:
            return zh ? "不是普通文件，是设备" : "is not a regular file (a device)";
        case P::Socket:
            return zh ? "不是普通文件，是套接字" : "is not a regular file (a socket)";
        case P::OtherType:
            return zh ? "不是普通文件" : "is not a regular file";
        case P::TooLarge:
            return zh ? "太大（超过 " + LimitText(limit) + " 的上限）"
                      : "is too large (over the limit of " + LimitText(limit) + ")";
        case P::CannotOpen:
            return zh ? "无法打开" : "cannot be opened for reading";
        case P::ReadFailed:
            return zh ? "读取失败" : "read failed";
    }
    return {};
}

CInputFile::~CInputFile() { Close(); }

bool CInputFile::Fail(Problem problem) {
    Close();
    m_problem = problem;
    return false;
}

bool CInputFile::Open(const std::string& path) {
    Close();
    m_problem = Problem::None;
    // O_NONBLOCK: opening a FIFO returns at once instead of waiting for a writer; O_NOCTTY: a
    // terminal never becomes ours. The type is then taken from the descriptor itself.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
            case ENOENT:
                return Fail(Problem::Missing);
            case EACCES:
            case EPERM:
                return Fail(Problem::NoPermission);
            case ENAMETOOLONG:
                return Fail(Problem::NameTooLong);
            case ENOTDIR:
                return Fail(Problem::NotAFolderOnTheWay);
            case ELOOP:
                return Fail(Problem::LinkLoop);
            case ENXIO:
                return Fail(Problem::OtherType);  // a socket, a device without a driver
            default:
                return Fail(Problem::CannotOpen);
        }
    }
    m_fd = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Fail(Problem::CannotOpen);
    if (!S_ISREG(st.st_mode)) {
        return Fail(S_ISDIR(st.st_mode)                          ? Problem::Folder
                    : S_ISFIFO(st.st_mode)                       ? Problem::Fifo
                    : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? Problem::Device
                    : S_ISSOCK(st.st_mode)                       ? Problem::Socket
                                                                 : Problem::OtherType);
    }
    // A regular file never blocks; reads go back to the usual mode all the same.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_nSize = st.st_size;
    return true;
}

void CInputFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_nSize = 0;
}

int CInputFile::Release() {
    const int fd = m_fd;
    m_fd = -1;
    m_nSize = 0;
    return fd;
}

int64_t CInputFile::Read(void* data, std::size_t count) {
    if (m_fd < 0) return -1;
    for (;;) {
        const ssize_t got = ::read(m_fd, data, count);
        if (got >= 0) return got;
        if (errno != EINTR) {
            m_problem = Problem::ReadFailed;
            return -1;
        }
    }
}

bool CInputFile::ReadAll(std::string& bytes, int64_t limit) {
    bytes.clear();
    m_nLimit = limit;
    if (m_fd < 0) return false;
    if (m_nSize > limit) return Fail(Problem::TooLarge);
    // The size is a hint only: the file may grow or shrink while it is read.
    bytes.reserve(static_cast<std::size_t>(std::max<int64_t>(0, m_nSize)));
    char chunk[64 * 1024];
    for (;;) {
        const int64_t room = limit + 1 - static_cast<int64_t>(bytes.size());
        const int64_t got =
            Read(chunk, static_cast<std::size_t>(std::min<int64_t>(room, sizeof chunk)));
        if (got < 0) {
            bytes.clear();
            return Fail(Problem::ReadFailed);
        }
        if (got == 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
        if (static_cast<int64_t>(bytes.size()) > limit) {
            bytes.clear();
            bytes.shrink_to_fit();
            return Fail(Problem::TooLarge);
        }
    }
    return true;
}

std::string CInputFile::ProblemText(TextLanguage language) const {
    return InputProblemText(m_problem, language, m_nLimit);
}

}  // namespace platform

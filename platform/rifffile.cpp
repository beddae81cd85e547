#include "platform/rifffile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace platform {
namespace {

// RIFF offsets and sizes are 32-bit: no byte of a RIFF file lies beyond this offset.
constexpr int64_t kMaxOffset = std::numeric_limits<uint32_t>::max();

uint32_t GetLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLE32(uint8_t* p, uint32_t n) {
    p[0] = uint8_t(n);
    p[1] = uint8_t(n >> 8);
    p[2] = uint8_t(n >> 16);
    p[3] = uint8_t(n >> 24);
}

bool HasFormType(uint32_t nId) { return nId == kFourCCRiff || nId == kFourCCList; }

}  // namespace

CRiffFile::~CRiffFile() { Close(); }

bool CRiffFile::Open(const std::string& strPath) {
    if (m_pFile) return false;
    // Opened without blocking, and only a regular file: a FIFO or a device never holds us up.
    CInputFile input;
    if (!input.Open(strPath)) {
        m_openProblem = input.GetProblem();
        return false;
    }
    const int64_t nSize = input.Size();
    const int fd = input.Release();
    std::FILE* pFile = ::fdopen(fd, "rb");
    if (!pFile) {
        ::close(fd);
        m_openProblem = CInputFile::Problem::CannotOpen;
        return false;
    }
    m_openProblem = CInputFile::Problem::None;
    m_pFile = pFile;
    m_bWriting = false;
    m_bWriteFailed = false;
    m_nPos = 0;
    m_nStreamPos = 0;
    m_nFileSize = nSize;
    return true;
}

bool CRiffFile::Create(const std::string& strPath) {
    if (m_pFile) return false;
    // Without blocking: a FIFO with no reader fails at once (ENXIO), one with a reader is
    // refused below, as is anything else that is neither a regular file nor a device that takes
    // bytes (/dev/null, /dev/full, whose failures then show at Close).
    const int fd =
        ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode)) ||
        (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* pFile = ::fdopen(fd, "wb");
    if (!pFile) {
        ::close(fd);
        return false;
    }
    m_pFile = pFile;
    m_bWriting = true;
    m_bWriteFailed = false;
    m_nPos = 0;
    m_nStreamPos = 0;
    m_nFileSize = 0;
    return true;
}

bool CRiffFile::SetPosition(int64_t nPos) {
    if (!m_pFile || m_bWriting || nPos < 0 || nPos > m_nFileSize) return false;
    m_nPos = nPos;
    return true;
}

bool CRiffFile::Close() {
    if (!m_pFile) return true;
    bool bOK = !(m_bWriting && m_bWriteFailed);
    if (std::fclose(m_pFile) != 0 && m_bWriting) bOK = false;
    m_pFile = nullptr;
    m_bWriting = false;
    m_bWriteFailed = false;
    m_nPos = 0;
    m_nFileSize = 0;
    return bOK;
}

bool CRiffFile::SeekTo(int64_t nPos) {
    // Seeking flushes the stream's buffer, so it is done only when the stream is elsewhere.
    if (nPos == m_nStreamPos) return true;
    if (fseeko(m_pFile, off_t(nPos), SEEK_SET) == 0) {
        m_nStreamPos = nPos;
        return true;
    }
    m_nStreamPos = -1;
    if (m_bWriting) m_bWriteFailed = true;
    return false;
}

bool CRiffFile::ReadAt(int64_t nPos, void* pData, size_t nBytes) {
    if (nPos < 0 || nPos + int64_t(nBytes) > m_nFileSize) return false;
    if (!SeekTo(nPos)) return false;
    const size_t nGot = std::fread(pData, 1, nBytes, m_pFile);
    m_nStreamPos = nGot == nBytes ? nPos + int64_t(nGot) : -1;
    return nGot == nBytes;
}

bool CRiffFile::WriteAt(int64_t nPos, const void* pData, size_t nBytes) {
    if (!SeekTo(nPos)) return false;
    if (std::fwrite(pData, 1, nBytes, m_pFile) != nBytes) {
        m_bWriteFailed = true;
        m_nStreamPos = -1;
        return false;
    }
    m_nStreamPos = nPos + int64_t(nBytes);
    m_nFileSize = std::max(m_nFileSize, nPos + int64_t(nBytes));
    return true;
}

bool CRiffFile::Descend(RiffChunk& chunk, const RiffChunk* pParent, RiffFind find) {
    if (!m_pFile || m_bWriting) return false;

    // The range searched: [nPos, nLimit).
    int64_t nLimit = std::min(m_nFileSize, kMaxOffset);
    int64_t nPos = m_nPos;
    if (pParent) {
        nLimit = std::min(nLimit, int64_t(pParent->nDataOffset) + pParent->nSize);
        int64_t nFirst = int64_t(pParent->nDataOffset) + (HasFormType(pParent->nId) ? 4 : 0);
        nPos = std::max(nPos, nFirst);
    }

    while (nPos + 8 <= nLimit) {
        uint8_t header[8];
        if (!ReadAt(nPos, header, sizeof header)) return false;
        const uint32_t nId = GetLE32(header);
        uint32_t nSize = GetLE32(header + 4);
        const int64_t nData = nPos + 8;
        uint32_t nFlags = 0;
        if (nId == kFourCCRiff && !pParent && nSize == 0) {
            nSize = uint32_t(std::min(m_nFileSize, kMaxOffset) - nData);
            nFlags |= RiffChunk::kSizeFromFile;
        }

        uint32_t nFormType = 0;
        const bool bHasForm = HasFormType(nId) && nSize >= 4 && nData + 4 <= nLimit;
        if (bHasForm) {
            uint8_t form[4];
            if (!ReadAt(nData, form, sizeof form)) return false;
            nFormType = GetLE32(form);
        }

        bool bMatch = false;
        switch (find) {
            case RiffFind::Current:
                bMatch = true;
                break;
            case RiffFind::Chunk:
                bMatch = nId == chunk.nId;
                break;
            case RiffFind::Riff:
                bMatch = nId == kFourCCRiff && bHasForm && nFormType == chunk.nFormType;
                break;
            case RiffFind::List:
                bMatch = nId == kFourCCList && bHasForm && nFormType == chunk.nFormType;
                break;
        }
        if (bMatch) {
            // A RIFF or LIST chunk too short to hold its form type is not a chunk one can enter.
            if (HasFormType(nId) && !bHasForm) return false;
            chunk.nId = nId;
            chunk.nSize = nSize;
            chunk.nFormType = nFormType;
            chunk.nDataOffset = uint32_t(nData);
            chunk.nFlags = nFlags;
            m_nPos = nData + (bHasForm ? 4 : 0);
            return true;
        }
        if (find == RiffFind::Current) return false;
        // Every step moves forward by at least the 8 bytes of a header.
        nPos = nData + int64_t(nSize) + (nSize & 1);
    }
    return false;
}

bool CRiffFile::Ascend(RiffChunk& chunk) {
    if (!m_pFile) return false;
    const int64_t nData = chunk.nDataOffset;

    if (m_bWriting && (chunk.nFlags & RiffChunk::kDirty)) {
        const int64_t nEnd = m_nPos;
        if (nData < 8 || nEnd < nData || nEnd - nData > kMaxOffset) return false;
        const uint32_t nSize = uint32_t(nEnd - nData);
        if (nSize != chunk.nSize) {
            uint8_t size[4];
            PutLE32(size, nSize);
            if (!WriteAt(nData - 4, size, sizeof size)) return false;
        }
        if (nSize & 1) {
            if (nEnd + 1 > kMaxOffset) return false;
            const uint8_t pad = 0;
            if (!WriteAt(nEnd, &pad, 1)) return false;
        }
        chunk.nSize = nSize;
        chunk.nFlags &= ~RiffChunk::kDirty;
        m_nPos = nEnd + (nSize & 1);
        return true;
    }

    const int64_t nEnd = nData + chunk.nSize;
    if (m_bWriting) {
        m_nPos = nEnd + (chunk.nSize & 1);
        return true;
    }
    if (nEnd > m_nFileSize) return false;
    // A pad byte missing at the very end of the file is forgiven.
    m_nPos = std::min(nEnd + (chunk.nSize & 1), m_nFileSize);
    return true;
}

bool CRiffFile::CreateChunk(RiffChunk& chunk, RiffCreate kind) {
    if (!m_pFile || !m_bWriting) return false;
    const uint32_t nId = kind == RiffCreate::Riff   ? kFourCCRiff
                         : kind == RiffCreate::List ? kFourCCList
                                                    : chunk.nId;
    const bool bHasForm = kind != RiffCreate::Chunk;
    uint8_t header[12];
    PutLE32(header, nId);
    PutLE32(header + 4, chunk.nSize);
    PutLE32(header + 8, chunk.nFormType);
    const int64_t nLength = bHasForm ? 12 : 8;
    if (m_nPos + nLength > kMaxOffset) return false;
    if (!WriteAt(m_nPos, header, size_t(nLength))) return false;
    chunk.nId = nId;
    if (!bHasForm) chunk.nFormType = 0;
    chunk.nDataOffset = uint32_t(m_nPos + 8);
    chunk.nFlags = RiffChunk::kDirty;
    m_nPos += nLength;
    return true;
}

int32_t CRiffFile::Read(void* pData, int32_t nBytes) {
    if (!m_pFile || m_bWriting || nBytes < 0 || (nBytes > 0 && !pData)) return -1;
    const int64_t nAvailable = std::max<int64_t>(0, m_nFileSize - m_nPos);
    const size_t nWanted = size_t(std::min<int64_t>(nBytes, nAvailable));
    if (nWanted == 0) return 0;
    if (!SeekTo(m_nPos)) return -1;
    const size_t nGot = std::fread(pData, 1, nWanted, m_pFile);
    m_nStreamPos = nGot == nWanted ? m_nPos + int64_t(nGot) : -1;
    if (nGot == 0 && std::ferror(m_pFile)) return -1;
    m_nPos += int64_t(nGot);
    return int32_t(nGot);
}

int32_t CRiffFile::Write(const void* pData, int32_t nBytes) {
    if (!m_pFile || !m_bWriting || nBytes < 0 || (nBytes > 0 && !pData)) return -1;
    if (m_nPos + nBytes > kMaxOffset) return -1;
    if (nBytes == 0) return 0;
    if (!WriteAt(m_nPos, pData, size_t(nBytes))) return -1;
    m_nPos += nBytes;
    return nBytes;
}

}  // namespace platform

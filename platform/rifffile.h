// Chunk-level access to RIFF files: the buffered file service that the WAVE reader and writer
// are built on.
//
// A RIFF file is a tree of chunks. Every chunk is an 8-byte header (four-character id, 32-bit
// little-endian size of the data) followed by the data and, when the size is odd, one pad byte.
// "RIFF" and "LIST" chunks begin their data with a four-character form type, followed by
// sub-chunks. A file is opened either for reading or for writing, never both.
//
// Reading never trusts the sizes in the file: a chunk may claim more than its parent or the file
// holds, and nothing is then read beyond the end of the file, a search never passes the end of
// the parent chunk or of the file, and every search step moves forward, so no search can loop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/inputfile.h"

namespace platform {

// A four-character code as it lies in a file, read as a little-endian 32-bit number.
constexpr uint32_t FourCC(const char (&code)[5]) {
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
           uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
}

inline constexpr uint32_t kFourCCRiff = FourCC("RIFF");
inline constexpr uint32_t kFourCCList = FourCC("LIST");

// What is known of one chunk. Offsets are from the start of the file.
struct RiffChunk {
    uint32_t nId = 0;          // four-character id ("RIFF", "LIST", "fmt ", ...)
    uint32_t nSize = 0;        // bytes of data, the form type of RIFF and LIST included
    uint32_t nFormType = 0;    // form type of a RIFF or LIST chunk, else 0
    uint32_t nDataOffset = 0;  // first byte after the header (the form type for RIFF and LIST)
    uint32_t nFlags = 0;       // the k* flags below

    // Made by CreateChunk: Ascend writes the true size into the header.
    static constexpr uint32_t kDirty = 1;
    // A top-level "RIFF" chunk whose header says size 0, as a writer that was never closed
    // leaves it: nSize was taken from the length of the file instead.
    static constexpr uint32_t kSizeFromFile = 2;
};

// What Descend looks for.
enum class RiffFind {
    Current,  // the chunk whose header is at the current position, whatever its id
    Chunk,    // the first chunk with the id in RiffChunk::nId
    Riff,     // the first "RIFF" chunk with the form type in RiffChunk::nFormType
    List,     // the first "LIST" chunk with the form type in RiffChunk::nFormType
};

// What CreateChunk writes.
enum class RiffCreate {
    Chunk,  // a chunk with the id in RiffChunk::nId
    Riff,   // a "RIFF" chunk with the form type in RiffChunk::nFormType
    List,   // a "LIST" chunk with the form type in RiffChunk::nFormType
};

class CRiffFile {
public:
    CRiffFile() = default;
    ~CRiffFile();  // closes the file (see Close)
    CRiffFile(const CRiffFile&) = delete;
    CRiffFile& operator=(const CRiffFile&) = delete;

    // Opens an existing regular file for reading, at position 0, without ever blocking (see
    // CInputFile). False when it cannot be opened or is not a regular file (OpenProblem tells
    // why), or when a file is already open.
    bool Open(const std::string& strPath);
    // Why the last Open failed.
    CInputFile::Problem OpenProblem() const { return m_openProblem; }
    // Creates a file for writing, at position 0; an existing file of that name is emptied first.
    // Never blocks: false when it cannot be created, when the name is not a regular file (a FIFO,
    // a device), or when a file is already open.
    bool Create(const std::string& strPath);
    // Flushes and closes. False when any write since Create failed or the flush failed; the file
    // is closed either way. True when nothing is open.
    bool Close();

    bool IsOpen() const { return m_pFile != nullptr; }
    bool IsWriting() const { return m_bWriting; }
    int64_t Tell() const { return m_nPos; }
    // Reading: the length of the file when it was opened. Writing: the bytes written so far.
    int64_t GetFileSize() const { return m_nFileSize; }

    // Reading only. Finds a chunk, searching from the current position, and fills `chunk` with
    // what the file says of it; the position is then at its data (after the form type for RIFF
    // and LIST). With a parent, the search stays inside the parent's data; without one it runs
    // to the end of the file. The chunk's header must lie wholly inside that range; its claimed
    // size is reported as it is (see kSizeFromFile for the one exception). False, with the
    // position unchanged, when no such chunk is found.
    bool Descend(RiffChunk& chunk, const RiffChunk* pParent, RiffFind find);

    // Leaves a chunk. Reading: moves past the chunk's data and pad byte (never past the end of
    // the file); false, with the position unchanged, when the chunk claims more than the file
    // holds. Writing a chunk made by CreateChunk: the current position is taken as the end of its
    // data; writes its true size into its header when that differs, adds a zero pad byte when
    // the size is odd, and moves past it.
    bool Ascend(RiffChunk& chunk);

    // Writing only. Writes a chunk header at the current position with the id (or form type) and
    // the size in `chunk` (Ascend corrects the size later) and fills in the rest of `chunk`; the
    // position is then at the chunk's data, after the form type for RIFF and LIST.
    bool CreateChunk(RiffChunk& chunk, RiffCreate kind);

    // Reading only. Moves to an offset from the start of the file, at most its length.
    bool SetPosition(int64_t nPos);

    // Reading only. Reads up to nBytes at the current position and moves past them. Returns the
    // bytes read: fewer than asked at the end of the file, 0 there; -1 on an error.
    int32_t Read(void* pData, int32_t nBytes);

    // Writing only. Writes nBytes at the current position and moves past them. Returns nBytes,
    // or -1 when not all could be written. Refuses (-1, nothing written) when the file would
    // grow past the 32-bit offsets of RIFF (4 GiB - 1 bytes).
    int32_t Write(const void* pData, int32_t nBytes);

private:
    bool SeekTo(int64_t nPos);
    bool ReadAt(int64_t nPos, void* pData, size_t nBytes);
    bool WriteAt(int64_t nPos, const void* pData, size_t nBytes);

    std::FILE* m_pFile = nullptr;
    bool m_bWriting = false;
    bool m_bWriteFailed = false;  // a write or seek of this writing session failed
    int64_t m_nPos = 0;           // our position; the stream is moved there before each transfer
    int64_t m_nStreamPos = 0;     // where the stream itself stands, -1 when unknown
    int64_t m_nFileSize = 0;
    CInputFile::Problem m_openProblem = CInputFile::Problem::None;
};

}  // namespace platform

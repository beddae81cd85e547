// Reads the samples of a RIFF WAVE file, or writes a new one, in blocks of the buffer length.
//
// A file is opened for one direction when the object is made and stays in it. Written layout
// (little-endian): "RIFF", size, "WAVE"; "fmt ", 18 + extra size, the 18-byte format record and
// the extension; "data", size, the samples and a pad byte when their count is odd. Both sizes are
// 0 until Close fills them in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/buffer.h"
#include "audio/soundbase.h"
#include "platform/rifffile.h"
#include "platform/waveformat.h"

class CSoundFile : public CSoundBase {
public:
    static constexpr int ModeFailed = 0;
    static constexpr int ModeReading = 1;
    static constexpr int ModeWriting = 2;

    // Without a format: opens strFileName for reading (OpenWaveFile). With one: copies its 18
    // bytes as they are and creates strFileName for writing (CreateWaveFile). GetMode tells
    // which, or ModeFailed.
    explicit CSoundFile(const std::string& strFileName,
                        const platform::WaveFormat* pFormat = nullptr);
    ~CSoundFile() override;  // Close
    CSoundFile(const CSoundFile&) = delete;
    CSoundFile& operator=(const CSoundFile&) = delete;

    // Opens the file, finds the RIFF "WAVE" chunk, reads the first 18 bytes of its "fmt " chunk
    // into the format record and stops at the first sample of the "data" chunk that follows.
    // A malformed file shows one of the reader's messages; the object is then in ModeFailed
    // with no file. A file that cannot be opened gives ModeFailed without a message. False at
    // once when a file is already open.
    bool OpenWaveFile();
    // Creates (or empties) the file and writes the headers; the samples follow with Write.
    // ModeFailed and false when the file cannot be created; false at once when a file is open.
    bool CreateWaveFile();

    // Writing: appends the buffer's m_nSize bytes. True when all were written. Refuses (false,
    // nothing written) when the file would outgrow the 32-bit sizes of RIFF.
    bool Write(CBuffer* pBuffer);
    // Reading: reads the next bytes of the data chunk's body, up to the buffer's m_nSize, and
    // sets m_nSize to the count read. True when it is above 0; at the end of the samples or on
    // an error m_nSize is 0 and the result false. A data chunk whose size is 0 or claims more
    // than the file holds runs to the end of the file. Chunks after the data are never read.
    bool Read(CBuffer* pBuffer);
    // Reading: a new buffer of block alignment × GetBufferSize() bytes filled by Read, or null at
    // the end of the samples, on an error or when no such buffer can be made.
    std::unique_ptr<CBuffer> Read();

    // Writing: fills in the data and RIFF sizes and the pad byte first. Then closes the file.
    // True unless writing the file failed at some point; safe to call again. The mode stays.
    bool Close();

    int GetMode() const { return m_nMode; }
    bool IsOK() const { return m_nMode != ModeFailed; }

protected:
    std::unique_ptr<platform::CRiffFile> m_hFile;  // null when closed
    std::string m_strFileName;
    int m_nMode;
    platform::RiffChunk m_ckData;  // the data chunk
    platform::RiffChunk m_ckRiff;  // the RIFF "WAVE" chunk
    platform::RiffChunk m_ckFmt;   // the "fmt " chunk
    int64_t m_nDataEnd = 0;        // reading: the offset where the samples end
    uint64_t m_nDataBytes = 0;     // writing: sample bytes written so far

private:
    bool FailOpen(const char* pszMessage);
};

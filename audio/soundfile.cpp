#include "audio/soundfile.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "audio/errorprint.h"
#include "platform/messages.h"

// The format record goes to and from the file as its 18 bytes in memory.
static_assert(std::endian::native == std::endian::little, "WAVE files are little-endian");

namespace {

constexpr uint32_t kFourCCWave = platform::FourCC("WAVE");
constexpr uint32_t kFourCCFmt = platform::FourCC("fmt ");
constexpr uint32_t kFourCCData = platform::FourCC("data");

// The shortest format chunk that still says how the samples are laid out: the 14-byte record of
// the oldest writers (tag, channels, rate, bytes per second, block alignment), whose bits per
// sample follow from the block alignment and the channel count.
constexpr uint32_t kMinFormatBytes = 14;
constexpr uint32_t kPcmFormatBytes = 16;  // the record with its bits per sample

// RIFF offsets are 32-bit: a whole file must stay within this many bytes.
constexpr uint64_t kMaxFileBytes = std::numeric_limits<uint32_t>::max();

}  // namespace

CSoundFile::CSoundFile(const std::string& strFileName, const platform::WaveFormat* pFormat)
    : m_strFileName(strFileName), m_nMode(ModeFailed) {
    if (!pFormat) {
        m_nMode = ModeReading;
        OpenWaveFile();
    } else {
        m_Format = *pFormat;
        m_nMode = ModeWriting;
        CreateWaveFile();
    }
    if (m_nMode == ModeFailed) Close();
}

CSoundFile::~CSoundFile() { Close(); }

bool CSoundFile::FailOpen(const char* pszMessage) {
    platform::ShowMessage(pszMessage, platform::MessageIcon::Exclamation);
    m_hFile->Close();
    m_hFile.reset();
    m_nMode = ModeFailed;
    return false;
}

bool CSoundFile::OpenWaveFile() {
    if (m_hFile) return false;
    m_hFile = std::make_unique<platform::CRiffFile>();
    if (!m_hFile->Open(m_strFileName)) {
        m_hFile.reset();
        m_nMode = ModeFailed;
        return false;
    }

    m_ckRiff = {};
    m_ckRiff.nFormType = kFourCCWave;
    if (!m_hFile->Descend(m_ckRiff, nullptr, platform::RiffFind::Riff))
        return FailOpen("Error descending into file");

    m_ckFmt = {};
    m_ckFmt.nId = kFourCCFmt;
    if (!m_hFile->Descend(m_ckFmt, &m_ckRiff, platform::RiffFind::Chunk))
        return FailOpen("Error descending in wave file");

    // The first 18 bytes of the chunk replace the record; a shorter chunk (16 bytes is common,
    // without the extra size) replaces only its own bytes. Shorter than 14 is no usable format.
    const int32_t nFormatBytes = int32_t(std::min<uint32_t>(m_ckFmt.nSize, sizeof m_Format));
    platform::WaveFormat format = m_Format;
    if (uint32_t(nFormatBytes) < kMinFormatBytes ||
        m_hFile->Read(&format, nFormatBytes) != nFormatBytes)
        return FailOpen("Error reading PCM wave format record");
    if (uint32_t(nFormatBytes) < kPcmFormatBytes)
        format.nBitsPerSample =
            format.nChannels ? uint16_t(format.nBlockAlign * 8 / format.nChannels) : 0;
    m_Format = format;

    if (!m_hFile->Ascend(m_ckFmt)) return FailOpen("Error ascending in File");

    m_ckData = {};
    m_ckData.nId = kFourCCData;
    if (!m_hFile->Descend(m_ckData, &m_ckRiff, platform::RiffFind::Chunk))
        return FailOpen("error reading data chunk");

    // The samples end where the data chunk says, unless it says 0 (a writer that was never
    // closed) or more than the file holds: then they run to the end of the file.
    const int64_t nClaimedEnd = int64_t(m_ckData.nDataOffset) + m_ckData.nSize;
    m_nDataEnd = (m_ckData.nSize == 0 || nClaimedEnd > m_hFile->GetFileSize())
                     ? m_hFile->GetFileSize()
                     : nClaimedEnd;
    m_nMode = ModeReading;
    return true;
}

bool CSoundFile::CreateWaveFile() {
    if (m_hFile) return false;
    m_hFile = std::make_unique<platform::CRiffFile>();
    if (!m_hFile->Create(m_strFileName)) {
        m_hFile.reset();
        m_nMode = ModeFailed;
        return false;
    }

    // A failure of any of these writes is kept by the file and reported by Close.
    m_ckRiff = {};
    m_ckRiff.nFormType = kFourCCWave;
    m_hFile->CreateChunk(m_ckRiff, platform::RiffCreate::Riff);

    // The chunk holds the 18-byte record and then the extension that the extra size announces.
    // The object holds no extension bytes, so the extension is written as zeros: a reader sees a
    // well-formed chunk of the announced size, with every extension field at its neutral value.
    m_ckFmt = {};
    m_ckFmt.nId = kFourCCFmt;
    m_ckFmt.nSize = uint32_t(sizeof m_Format) + m_Format.nExtraSize;
    m_hFile->CreateChunk(m_ckFmt, platform::RiffCreate::Chunk);
    m_hFile->Write(&m_Format, int32_t(sizeof m_Format));
    if (m_Format.nExtraSize > 0) {
        const std::unique_ptr<uint8_t[]> pZeros(new uint8_t[m_Format.nExtraSize]());
        m_hFile->Write(pZeros.get(), m_Format.nExtraSize);
    }
    m_hFile->Ascend(m_ckFmt);

    m_ckData = {};
    m_ckData.nId = kFourCCData;
    m_hFile->CreateChunk(m_ckData, platform::RiffCreate::Chunk);
    m_nDataBytes = 0;
    m_nMode = ModeWriting;
    return true;
}

bool CSoundFile::Write(CBuffer* pBuffer) {
    if (m_nMode != ModeWriting || !m_hFile || !pBuffer || pBuffer->m_nSize < 0) return false;
    const int32_t nBytes = pBuffer->m_nSize;
    if (nBytes == 0) return true;
    if (!pBuffer->m_pData) return false;
    // The closed file (headers, samples, pad byte) must stay addressable with 32-bit offsets.
    const uint64_t nNewData = m_nDataBytes + uint64_t(nBytes);
    if (uint64_t(m_ckData.nDataOffset) + nNewData + (nNewData & 1) > kMaxFileBytes) return false;
    const int32_t nWritten = m_hFile->Write(pBuffer->m_pData, nBytes);
    if (nWritten != nBytes) return false;
    m_nDataBytes = nNewData;
    return true;
}

bool CSoundFile::Read(CBuffer* pBuffer) {
    if (m_nMode != ModeReading || !m_hFile || !pBuffer) return false;
    const int64_t nLeft = m_nDataEnd - m_hFile->Tell();
    const int32_t nWanted = int32_t(std::clamp<int64_t>(nLeft, 0, std::max(pBuffer->m_nSize, 0)));
    const int32_t nRead =
        (nWanted > 0 && pBuffer->m_pData) ? m_hFile->Read(pBuffer->m_pData, nWanted) : 0;
    pBuffer->m_nSize = std::max(nRead, 0);
    return pBuffer->m_nSize > 0;
}

std::unique_ptr<CBuffer> CSoundFile::Read() {
    if (m_nMode != ModeReading || !m_hFile) return nullptr;
    const int64_t nBytes = int64_t(m_Format.nBlockAlign) * m_nBufferSize;
    if (nBytes <= 0 || nBytes > std::numeric_limits<int32_t>::max()) {
        ErrorPrint("Cannot make a read buffer of %u bytes per frame x %d frames for %s",
                   unsigned(m_Format.nBlockAlign), int(m_nBufferSize), m_strFileName.c_str());
        return nullptr;
    }
    auto pBuffer = std::make_unique<CBuffer>(int32_t(nBytes), true);
    if (!pBuffer->m_pData || !Read(pBuffer.get())) return nullptr;
    return pBuffer;
}

bool CSoundFile::Close() {
    if (!m_hFile) return true;
    bool bOK = true;
    if (m_nMode == ModeWriting) {
        bOK = m_hFile->Ascend(m_ckData);
        bOK = m_hFile->Ascend(m_ckRiff) && bOK;
    }
    bOK = m_hFile->Close() && bOK;
    m_hFile.reset();
    return bOK;
}

// Feeds arbitrary bytes to the WAVE reader and to the RIFF chunk layer beneath it. Neither may
// crash, read outside the file or loop, whatever the file says.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/soundfile.h"
#include "platform/messages.h"
#include "platform/rifffile.h"
#include "platform/wavedata.h"
#include "platform/wavereader.h"

namespace {

const std::string& InputPath() {
    static const std::string path =
        "/tmp/quorvel-wavereader-fuzz-" + std::to_string(getpid()) + ".wav";
    return path;
}

// Walks the chunk tree depth first: enters every chunk, enters the lists, reads a little.
void Walk(platform::CRiffFile& file, const platform::RiffChunk* pParent, int nDepth, int& nBudget) {
    platform::RiffChunk chunk;
    while (nBudget-- > 0 && file.Descend(chunk, pParent, platform::RiffFind::Current)) {
        if ((chunk.nId == platform::kFourCCRiff || chunk.nId == platform::kFourCCList) &&
            nDepth < 8)
            Walk(file, &chunk, nDepth + 1, nBudget);
        uint8_t aBytes[16];
        file.Read(aBytes, sizeof aBytes);
        if (!file.Ascend(chunk)) break;
    }
}

void ExerciseRiffFile(const std::string& path, const uint8_t* pData, size_t nSize) {
    platform::CRiffFile file;
    if (!file.Open(path)) return;
    int nBudget = 10000;
    Walk(file, nullptr, 0, nBudget);

    // Searches by id and by form type, taken from the input itself so that they sometimes hit.
    platform::RiffChunk riff, chunk;
    riff.nFormType =
        nSize >= 12
            ? uint32_t(pData[8] | pData[9] << 8 | pData[10] << 16 | uint32_t(pData[11]) << 24)
            : platform::FourCC("WAVE");
    file.Close();
    if (!file.Open(path) || !file.Descend(riff, nullptr, platform::RiffFind::Riff)) return;
    const platform::RiffFind aFinds[] = {platform::RiffFind::Chunk, platform::RiffFind::List};
    for (platform::RiffFind find : aFinds) {
        chunk.nId = platform::FourCC("data");
        chunk.nFormType = platform::FourCC("INFO");
        if (file.Descend(chunk, &riff, find)) file.Ascend(chunk);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    platform::MessageCapture capture;  // the reader's message boxes go here, not to stderr
    const std::string& path = InputPath();
    if (std::FILE* pFile = std::fopen(path.c_str(), "wb")) {
        const bool bWritten = std::fwrite(pData, 1, nSize, pFile) == nSize;
        if (std::fclose(pFile) != 0 || !bWritten) return 0;
    } else {
        return 0;
    }

    {
        CSoundFile reader(path);
        reader.SetBufferSize(64);  // small blocks, so that even small inputs give several
        int nBlocks = 0;
        while (reader.Read() && ++nBlocks < 100000) {
        }
    }
    {
        // The streaming reader, in small pieces, and the whole-file reader on top of it.
        platform::CWaveReader reader;
        std::string error;
        if (reader.Open(path, error) && reader.FrameBytes() <= 4096) {
            uint8_t aFrames[4096 * 4];
            const std::size_t nMax = sizeof aFrames / reader.FrameBytes();
            int nBlocks = 0;
            while (reader.ReadFrames(aFrames, std::min<std::size_t>(nMax, 4)) > 0 &&
                   ++nBlocks < 100000) {
            }
        }
        platform::WaveData wave;
        platform::ReadWaveData(path, wave, error);
    }
    ExerciseRiffFile(path, pData, nSize);
    std::remove(path.c_str());
    return 0;
}

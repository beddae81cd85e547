// Arbitrary bytes as a GIF file for the picture control's block parser: the graphic blocks are
// counted, the file is cut into frames and each frame is made into a GIF of its own. The input
// sits in a buffer of exactly its size, so a read past it is caught by AddressSanitizer; every
// frame must lie inside the input and, on its own, be a GIF of exactly one graphic block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "controls/gifparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    controls::CGifParser parser(bytes);
    (void)parser.IsGif();
    const int count = parser.CountGraphicBlocks();
    const std::vector<controls::GifFrameSlice> frames = parser.CutFrames();
    if (static_cast<int>(frames.size()) != count) std::abort();
    for (const controls::GifFrameSlice& frame : frames) {
        if (frame.nLength == 0 || frame.nOffset < parser.HeaderSize() ||
            frame.nOffset + frame.nLength > size)
            std::abort();
        if (frame.nDisposal < 0 || frame.nDisposal > 7) std::abort();
        const std::vector<uint8_t> single = parser.BuildFrameGif(frame);
        if (single.size() != parser.HeaderSize() + frame.nLength + 1) std::abort();
        controls::CGifParser again(single);
        if (again.CountGraphicBlocks() != 1) std::abort();
    }
    return 0;
}

// The block structure of a GIF file, as the picture control reads it: the logical screen, the
// blocks after the global colour table, and the cutting of the file into one self-contained
// single-frame GIF per graphic block. Nothing here decodes image data, and nothing reads outside
// the bytes it is given, whatever the sizes inside them claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace controls {

// The block at the read offset, told by its first byte (and, for extensions, the second).
enum class GifBlock {
    Unrecognised = 0,
    Application = 1,     // 0x21 0xFF
    Comment = 2,         // 0x21 0xFE
    GraphicControl = 3,  // 0x21 0xF9
    PlainText = 4,       // 0x21 0x01
    Image = 5,           // 0x2C
    Trailer = 6,         // 0x3B
};

// The delay of a frame that has no graphic control extension.
inline constexpr uint32_t kGifNoDelay = 0xFFFFFFFFu;

// One frame of the file: its blocks, from the graphic control extension (when there is one) to
// the end of the image or plain-text extension that it governs.
struct GifFrameSlice {
    size_t nOffset = 0;
    size_t nLength = 0;
    GifBlock kind = GifBlock::Image;  // Image or PlainText
    uint32_t nDelay = kGifNoDelay;    // hundredths of a second
    int nDisposal = 0;                // 0 to 7
    // From the image descriptor; for a plain-text extension, its text grid.
    int nLeft = 0;
    int nTop = 0;
    int nWidth = 0;
    int nHeight = 0;
};

class CGifParser {
public:
    // The data must stay alive and unchanged while the parser is used.
    explicit CGifParser(std::span<const uint8_t> data);
    explicit CGifParser(std::vector<uint8_t>&&) = delete;  // would not outlive the parser

    // The data begins with "GIF" (the version is not looked at).
    bool IsGif() const;
    // From the logical screen descriptor; 0 when the data is too short to hold one.
    int ScreenWidth() const { return m_nScreenWidth; }
    int ScreenHeight() const { return m_nScreenHeight; }
    // 3 × 2^(N+1) bytes with a global colour table, else 0.
    size_t GlobalTableSize() const { return m_nGlobalTableSize; }
    // Signature, version, logical screen descriptor and global colour table: 13 + the table.
    size_t HeaderSize() const { return 13 + m_nGlobalTableSize; }

    size_t Offset() const { return m_nOffset; }
    // Back to the first block after the header.
    void Rewind() { m_nOffset = HeaderSize(); }

    GifBlock NextBlock() const;
    // Length of the next block in bytes: -1 when it is unrecognised, 0 when it cannot be measured
    // (its sub-blocks run past the end of the data, or the fixed part does).
    long long NextBlockLength() const;
    // Moves past the next block when it has a length and ends within the data.
    bool SkipNextBlock();
    // Moves past the next graphic block: a graphic control extension with the blocks after it up
    // to and including the plain-text extension or image it governs, or such a block alone; other
    // blocks before it are passed over. Fails at an unrecognised block, the trailer, or a block
    // that cannot be skipped.
    bool SkipNextGraphicBlock();
    // The graphic blocks from the first one on; leaves the offset after the header.
    int CountGraphicBlocks();

    // Reads the next frame from the read offset on and moves past it; false when there is none.
    bool NextFrame(GifFrameSlice& frame);
    // Every frame of the file, at most as many as there are graphic blocks.
    std::vector<GifFrameSlice> CutFrames();
    // A standalone GIF of one frame: the header, the frame's blocks and the trailer byte.
    std::vector<uint8_t> BuildFrameGif(const GifFrameSlice& frame) const;

private:
    // Sum of (size + 1) over the data sub-blocks from offset on, plus 1 for the terminating
    // zero-size byte; 0 when the chain does not end within the data.
    size_t SubBlocksLength(size_t offset) const;
    bool Has(size_t offset, size_t count) const;
    unsigned Word(size_t offset) const;
    // Skips the blocks before the next one of these kinds; false at an unrecognised block, the
    // trailer, or a block that cannot be skipped.
    bool SkipTo(bool graphicControl);

    std::span<const uint8_t> m_data;
    int m_nScreenWidth = 0;
    int m_nScreenHeight = 0;
    size_t m_nGlobalTableSize = 0;
    size_t m_nOffset = 0;
};

}  // namespace controls

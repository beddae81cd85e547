#include "controls/gifparser.h"

#include <cstring>

namespace controls {

CGifParser::CGifParser(std::span<const uint8_t> data) : m_data(data) {
    if (Has(0, 13)) {
        m_nScreenWidth = static_cast<int>(Word(6));
        m_nScreenHeight = static_cast<int>(Word(8));
        const uint8_t flags = m_data[10];
        if (flags & 0x80) m_nGlobalTableSize = size_t{3} << ((flags & 7) + 1);
    }
    Rewind();
}

bool CGifParser::IsGif() const { return Has(0, 3) && std::memcmp(m_data.data(), "GIF", 3) == 0; }

bool CGifParser::Has(size_t offset, size_t count) const {
    return offset <= m_data.size() && count <= m_data.size() - offset;
}

unsigned CGifParser::Word(size_t offset) const {
    return m_data[offset] | static_cast<unsigned>(m_data[offset + 1]) << 8;
}

GifBlock CGifParser::NextBlock() const {
    if (!Has(m_nOffset, 1)) return GifBlock::Unrecognised;
    switch (m_data[m_nOffset]) {
        case 0x2C:
            return GifBlock::Image;
        case 0x3B:
            return GifBlock::Trailer;
        case 0x21:
            break;
        default:
            return GifBlock::Unrecognised;
    }
    if (!Has(m_nOffset, 2)) return GifBlock::Unrecognised;
    switch (m_data[m_nOffset + 1]) {
        case 0xFF:
            return GifBlock::Application;
        case 0xFE:
            return GifBlock::Comment;
        case 0xF9:
            return GifBlock::GraphicControl;
        case 0x01:
            return GifBlock::PlainText;
        default:
            return GifBlock::Unrecognised;
    }
}

size_t CGifParser::SubBlocksLength(size_t offset) const {
    size_t total = 0;
    while (offset < m_data.size()) {
        const size_t size = m_data[offset];
        if (size == 0) return total + 1;
        total += size + 1;
        offset += size + 1;
    }
    return 0;  // the chain runs past the end of the data
}

long long CGifParser::NextBlockLength() const {
    // A fixed part of n bytes followed by data sub-blocks.
    const auto withSubBlocks = [this](size_t fixed) -> long long {
        const size_t sub = SubBlocksLength(m_nOffset + fixed);
        return sub == 0 ? 0 : static_cast<long long>(fixed + sub);
    };
    switch (NextBlock()) {
        case GifBlock::Application:
            return withSubBlocks(14);
        case GifBlock::Comment:
            return withSubBlocks(2);
        case GifBlock::GraphicControl:
            return 8;
        case GifBlock::PlainText:
            return withSubBlocks(15);
        case GifBlock::Image: {
            if (!Has(m_nOffset, 10)) return 0;
            const uint8_t flags = m_data[m_nOffset + 9];
            const size_t localTable = flags & 0x80 ? size_t{3} << ((flags & 7) + 1) : 0;
            return withSubBlocks(11 + localTable);
        }
        case GifBlock::Trailer:
            return 1;
        case GifBlock::Unrecognised:
            break;
    }
    return -1;
}

bool CGifParser::SkipNextBlock() {
    const long long length = NextBlockLength();
    if (length <= 0 || !Has(m_nOffset, static_cast<size_t>(length))) return false;
    m_nOffset += static_cast<size_t>(length);
    return true;
}

bool CGifParser::SkipTo(bool graphicControl) {
    for (;;) {
        const GifBlock block = NextBlock();
        if (block == GifBlock::Image || block == GifBlock::PlainText) return true;
        if (block == GifBlock::GraphicControl && graphicControl) return true;
        if (block == GifBlock::Unrecognised || block == GifBlock::Trailer) return false;
        if (!SkipNextBlock()) return false;
    }
}

bool CGifParser::SkipNextGraphicBlock() {
    if (!SkipTo(true)) return false;
    if (NextBlock() == GifBlock::GraphicControl && !(SkipNextBlock() && SkipTo(false)))
        return false;
    return SkipNextBlock();
}

int CGifParser::CountGraphicBlocks() {
    Rewind();
    int count = 0;
    while (SkipNextGraphicBlock()) ++count;
    Rewind();
    return count;
}

bool CGifParser::NextFrame(GifFrameSlice& frame) {
    if (!SkipTo(true)) return false;
    GifFrameSlice found;
    found.nOffset = m_nOffset;
    if (NextBlock() == GifBlock::GraphicControl) {
        if (!Has(m_nOffset, 8)) return false;
        found.nDisposal = (m_data[m_nOffset + 3] >> 2) & 7;
        found.nDelay = Word(m_nOffset + 4);
        if (!SkipNextBlock() || !SkipTo(false)) return false;
    }
    found.kind = NextBlock();
    const long long length = NextBlockLength();
    if (length <= 0 || !Has(m_nOffset, static_cast<size_t>(length))) return false;
    // An image block is at least 12 bytes long, a plain-text extension at least 16.
    const size_t at = m_nOffset + (found.kind == GifBlock::Image ? 1 : 3);
    found.nLeft = static_cast<int>(Word(at));
    found.nTop = static_cast<int>(Word(at + 2));
    found.nWidth = static_cast<int>(Word(at + 4));
    found.nHeight = static_cast<int>(Word(at + 6));
    m_nOffset += static_cast<size_t>(length);
    found.nLength = m_nOffset - found.nOffset;
    frame = found;
    return true;
}

std::vector<GifFrameSlice> CGifParser::CutFrames() {
    const int count = CountGraphicBlocks();
    std::vector<GifFrameSlice> frames;
    GifFrameSlice frame;
    for (int i = 0; i < count && NextFrame(frame); ++i) frames.push_back(frame);
    Rewind();
    return frames;
}

std::vector<uint8_t> CGifParser::BuildFrameGif(const GifFrameSlice& frame) const {
    std::vector<uint8_t> gif;
    if (!Has(0, HeaderSize()) || !Has(frame.nOffset, frame.nLength)) return gif;
    gif.reserve(HeaderSize() + frame.nLength + 1);
    gif.insert(gif.end(), m_data.begin(), m_data.begin() + HeaderSize());
    const auto first = m_data.begin() + static_cast<std::ptrdiff_t>(frame.nOffset);
    gif.insert(gif.end(), first, first + static_cast<std::ptrdiff_t>(frame.nLength));
    gif.push_back(0x3B);
    return gif;
}

}  // namespace controls

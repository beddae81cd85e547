#include "controls/gifparser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using controls::CGifParser;
using controls::GifBlock;
using controls::GifFrameSlice;
using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Word(int v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

// Blocks of a GIF, each made alone, so that its length is its size. A colour table of 2^(bits+1)
// entries follows when bits >= 0.
Bytes Header(int width, int height, int tableBits = -1) {
    Bytes bytes = Bytes{'G', 'I', 'F', '8', '9', 'a'} + Word(width) + Word(height) +
                  Bytes{static_cast<uint8_t>(tableBits < 0 ? 0 : 0x80 | tableBits), 0, 0};
    if (tableBits >= 0) bytes.resize(bytes.size() + (3u << (tableBits + 1)), 0x55);
    return bytes;
}

Bytes SubBlocks(std::initializer_list<int> sizes) {
    Bytes bytes;
    for (int size : sizes) {
        bytes.push_back(static_cast<uint8_t>(size));
        bytes.resize(bytes.size() + static_cast<size_t>(size), 0xA5);
    }
    return bytes + Bytes{0};
}

Bytes Control(int delay, int disposal, uint8_t otherBits = 0) {
    return Bytes{0x21, 0xF9, 4, static_cast<uint8_t>(disposal << 2 | otherBits)} + Word(delay) +
           Bytes{0, 0};
}

Bytes Image(int left, int top, int width, int height, int tableBits = -1) {
    Bytes bytes = Bytes{0x2C} + Word(left) + Word(top) + Word(width) + Word(height) +
                  Bytes{static_cast<uint8_t>(tableBits < 0 ? 0 : 0x80 | tableBits)};
    if (tableBits >= 0) bytes.resize(bytes.size() + (3u << (tableBits + 1)), 0x33);
    return bytes + Bytes{2} + SubBlocks({5, 1});
}

const Bytes kApplication =
    Bytes{0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'} +
    Bytes{3, 1, 0, 0, 0};
const Bytes kComment = Bytes{0x21, 0xFE} + SubBlocks({4, 255, 1});
// A text grid at (7, 9) of 40 × 16.
const Bytes kPlainText = Bytes{0x21, 0x01, 12} + Word(7) + Word(9) + Word(40) + Word(16) +
                         Bytes{8, 8, 1, 0} + SubBlocks({2});
const Bytes kTrailer = {0x3B};

struct BlockCase {
    const char* name;
    Bytes block;
    GifBlock kind;
};

void PrintTo(const BlockCase& c, std::ostream* out) { *out << c.name; }

class GifBlockTest : public ::testing::TestWithParam<BlockCase> {};

// Each kind is told apart and measured: a known block's length is the size it was made with and
// skipping it lands on the next block; an unknown one has length -1 and stops the parser.
TEST_P(GifBlockTest, IsRecognisedAndMeasured) {
    const BlockCase& c = GetParam();
    const Bytes gif = Header(10, 10, 1) + c.block + kTrailer;
    CGifParser parser(gif);
    EXPECT_EQ(parser.NextBlock(), c.kind);
    if (c.kind == GifBlock::Unrecognised) {
        EXPECT_EQ(parser.NextBlockLength(), -1);
        EXPECT_FALSE(parser.SkipNextBlock());
        return;
    }
    EXPECT_EQ(parser.NextBlockLength(), static_cast<long long>(c.block.size()));
    ASSERT_TRUE(parser.SkipNextBlock());
    EXPECT_EQ(parser.NextBlock(), GifBlock::Trailer);
}

// Cut short anywhere (a fixed part or a sub-block chain running past the end), a block is not
// skipped and the read offset stays.
TEST_P(GifBlockTest, CutShortIsNotSkipped) {
    const Bytes whole = Header(10, 10) + GetParam().block;
    for (size_t cut = 13; cut < whole.size(); ++cut) {
        const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        CGifParser parser(part);
        EXPECT_FALSE(parser.SkipNextBlock()) << "cut at " << cut;
        EXPECT_EQ(parser.Offset(), 13u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, GifBlockTest,
    ::testing::Values(BlockCase{"application", kApplication, GifBlock::Application},
                      BlockCase{"comment", kComment, GifBlock::Comment},
                      BlockCase{"control", Control(10, 2), GifBlock::GraphicControl},
                      BlockCase{"plaintext", kPlainText, GifBlock::PlainText},
                      BlockCase{"image", Image(0, 0, 4, 4), GifBlock::Image},
                      BlockCase{"imagewithlocaltable", Image(1, 1, 2, 2, 3), GifBlock::Image},
                      BlockCase{"trailer", kTrailer, GifBlock::Trailer},
                      BlockCase{"zero", {0x00}, GifBlock::Unrecognised},
                      BlockCase{"unknownextension", {0x21, 0x99, 0}, GifBlock::Unrecognised}),
    [](const auto& instance) { return std::string(instance.param.name); });

struct CountCase {
    const char* name;
    Bytes blocks;
    int count;
};

void PrintTo(const CountCase& c, std::ostream* out) { *out << c.name; }

class GifCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(GifCountTest, CountsGraphicBlocksAndCutsAsMany) {
    const Bytes gif = Header(8, 8, 0) + GetParam().blocks;
    CGifParser parser(gif);
    EXPECT_EQ(parser.CountGraphicBlocks(), GetParam().count);
    EXPECT_EQ(parser.Offset(), parser.HeaderSize());
    EXPECT_EQ(static_cast<int>(parser.CutFrames().size()), GetParam().count);
}

const Bytes kImage = Image(0, 0, 8, 8);

INSTANTIATE_TEST_SUITE_P(
    Sequences, GifCountTest,
    ::testing::Values(
        CountCase{"none", kTrailer, 0},
        CountCase{"controlgovernsimageafteritsblocks",
                  kApplication + Control(5, 1) + kComment + kImage + kTrailer, 1},
        CountCase{"secondcontrolisskipped", Control(5, 1) + Control(9, 2) + kImage, 1},
        CountCase{"plaintextcounts", kImage + Control(1, 0) + kPlainText + kTrailer, 2},
        CountCase{"controlwithoutimage", kImage + Control(5, 1) + kTrailer, 1},
        CountCase{"stopsatunknownblock", kImage + Bytes{0x42} + kImage, 1},
        CountCase{"stopsattrailer", kImage + kTrailer + kImage, 1},
        CountCase{"notrailer", kImage + Image(0, 0, 1, 1), 2}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST(GifParser, CutsFramesWithTheirControlExtension) {
    const Bytes header = Header(300, 446, 2);
    // Transparency and user-input bits around the disposal method must not leak into it.
    const Bytes first = Control(300, 3, 0xE3) + kComment + Image(5, 6, 7, 8, 1);
    const Bytes second = Image(9, 10, 11, 12);
    const Bytes third = Control(4, 2) + kPlainText;
    const Bytes gif = header + kComment + first + second + kApplication + third + kTrailer;
    CGifParser parser(gif);
    EXPECT_EQ(parser.ScreenWidth(), 300);
    EXPECT_EQ(parser.ScreenHeight(), 446);
    EXPECT_EQ(parser.GlobalTableSize(), 24u);
    const std::vector<GifFrameSlice> frames = parser.CutFrames();
    ASSERT_EQ(frames.size(), 3u);
    const auto fields = [](const GifFrameSlice& f) {
        return std::vector<long long>{static_cast<long long>(f.nOffset),
                                      static_cast<long long>(f.nLength),
                                      f.nDelay,
                                      f.nDisposal,
                                      f.nLeft,
                                      f.nTop,
                                      f.nWidth,
                                      f.nHeight};
    };
    const auto n = [](size_t v) { return static_cast<long long>(v); };
    const long long at = n(header.size() + kComment.size());
    const long long none = controls::kGifNoDelay;
    EXPECT_EQ(fields(frames[0]), (std::vector<long long>{at, n(first.size()), 300, 3, 5, 6, 7, 8}));
    const long long at2 = at + n(first.size());
    EXPECT_EQ(fields(frames[1]),
              (std::vector<long long>{at2, n(second.size()), none, 0, 9, 10, 11, 12}));
    const long long at3 = at2 + n(second.size() + kApplication.size());
    EXPECT_EQ(fields(frames[2]),
              (std::vector<long long>{at3, n(third.size()), 4, 2, 7, 9, 40, 16}));
    EXPECT_EQ(frames[2].kind, GifBlock::PlainText);
    // Each frame alone: the header, its own blocks, the trailer.
    EXPECT_EQ(parser.BuildFrameGif(frames[0]), header + first + kTrailer);
    EXPECT_EQ(parser.BuildFrameGif(frames[2]), header + third + kTrailer);
}

// Every prefix of every fixture: no more frames than the whole file has, each inside the prefix,
// and (in the sanitizer build) no byte read beyond it, also where the header promises a colour
// table that is not there.
TEST(GifParser, EveryPrefixOfTheFixturesStaysInside) {
    for (const char* name :
         {"layers", "pieces", "bare", "stage", "still", "one-decodable", "bad-first-block"}) {
        std::ifstream in(std::string(QUORVEL_TEST_DATA) + "/gif/" + name + ".gif",
                         std::ios::binary);
        const Bytes gif{std::istreambuf_iterator<char>(in), {}};
        ASSERT_FALSE(gif.empty()) << name;
        const size_t whole = CGifParser(gif).CutFrames().size();
        for (size_t size = 0; size <= gif.size(); size += gif.size() > 2000 ? 7 : 1) {
            const Bytes prefix(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(size));
            CGifParser parser(prefix);
            const std::vector<GifFrameSlice> frames = parser.CutFrames();
            ASSERT_LE(frames.size(), whole) << name << " cut at " << size;
            for (const GifFrameSlice& frame : frames)
                ASSERT_LE(frame.nOffset + frame.nLength, size);
        }
    }
}

}  // namespace

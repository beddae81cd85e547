#include "platform/rifffile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

namespace {

using platform::CRiffFile;
using platform::FourCC;
using platform::RiffChunk;
using platform::RiffCreate;
using platform::RiffFind;
using Bytes = std::string;

Bytes LE32(uint32_t n) { return {char(n), char(n >> 8), char(n >> 16), char(n >> 24)}; }
// A chunk as the RIFF layout defines it, built independently of the class under test.
Bytes Chunk(const Bytes& id, const Bytes& body) {
    return id + LE32(uint32_t(body.size())) + body + (body.size() % 2 ? Bytes(1, '\0') : Bytes());
}
Bytes Form(const Bytes& id, const Bytes& form, const Bytes& body) { return Chunk(id, form + body); }

class RiffFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvel-riff-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string PathOf(const char* name) const { return (m_dir / name).string(); }
    std::string Save(const Bytes& bytes) const {
        std::ofstream(PathOf("in.riff"), std::ios::binary) << bytes;
        return PathOf("in.riff");
    }
    static Bytes Load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::filesystem::path m_dir;
};

// Writes RIFF "TEST" { "abcd"(3 bytes), LIST "INFO" { "name"(5 bytes) }, "tail"(2 bytes) } over
// a longer file, then finds its chunks again, each search kept inside its parent.
TEST_F(RiffFileTest, WrittenTreeHasTrueSizesAndPadBytesAndReadsBack) {
    const std::string path = Save(Bytes(500, 'x'));
    CRiffFile writer;
    ASSERT_TRUE(writer.Create(path));
    RiffChunk riff, abcd, list, name, tail;
    riff.nFormType = FourCC("TEST");
    abcd.nId = FourCC("abcd");
    abcd.nSize = 1000;  // a wrong guess, corrected by Ascend
    list.nFormType = FourCC("INFO");
    name.nId = FourCC("name");
    tail.nId = FourCC("tail");
    EXPECT_TRUE(writer.CreateChunk(riff, RiffCreate::Riff) &&
                writer.CreateChunk(abcd, RiffCreate::Chunk) && writer.Write("xyz", 3) == 3 &&
                writer.Ascend(abcd) && writer.CreateChunk(list, RiffCreate::List) &&
                writer.CreateChunk(name, RiffCreate::Chunk) && writer.Write("hello", 5) == 5 &&
                writer.Ascend(name) && writer.Ascend(list) &&
                writer.CreateChunk(tail, RiffCreate::Chunk) && writer.Write("ok", 2) == 2 &&
                writer.Ascend(tail) && writer.Ascend(riff));
    ASSERT_TRUE(writer.Close());
    const Bytes expected = Form(
        "RIFF", "TEST",
        Chunk("abcd", "xyz") + Form("LIST", "INFO", Chunk("name", "hello")) + Chunk("tail", "ok"));
    ASSERT_EQ(Load(path), expected);

    CRiffFile file;
    ASSERT_TRUE(file.Open(path));
    RiffChunk chunk;
    riff = list = {};
    riff.nFormType = FourCC("TEST");
    ASSERT_TRUE(file.Descend(riff, nullptr, RiffFind::Riff));
    EXPECT_EQ(riff.nSize, expected.size() - 8);
    list.nFormType = FourCC("INFO");
    ASSERT_TRUE(file.Descend(list, &riff, RiffFind::List));
    EXPECT_EQ(file.Tell(), 8 + 12 + 4 + 8 + 4);
    chunk.nId = FourCC("tail");  // lies after the LIST's end: not found from inside it
    EXPECT_FALSE(file.Descend(chunk, &list, RiffFind::Chunk));
    EXPECT_EQ(file.Tell(), 8 + 12 + 4 + 8 + 4);
    chunk.nId = FourCC("name");
    ASSERT_TRUE(file.Descend(chunk, &list, RiffFind::Chunk));
    char text[5];
    ASSERT_EQ(file.Read(text, 5), 5);
    EXPECT_EQ(Bytes(text, 5), "hello");
    ASSERT_TRUE(file.Ascend(chunk) && file.Ascend(list));
    chunk.nId = FourCC("tail");
    ASSERT_TRUE(file.Descend(chunk, &riff, RiffFind::Chunk));
    EXPECT_EQ(chunk.nSize, 2u);
    ASSERT_TRUE(file.Ascend(chunk));
    EXPECT_EQ(file.Tell(), int64_t(expected.size()));
    EXPECT_EQ(file.Read(text, 4), 0);
}

// Sizes that claim more than the file holds: the search ends, nothing past the file is read.
TEST_F(RiffFileTest, SizesThatLieAreBoundedByTheFile) {
    const Bytes bytes = "RIFF" + LE32(5000) + "TEST" + "abcd" + LE32(0xFFFFFFF0u) + "0123456789";
    CRiffFile file;
    ASSERT_TRUE(file.Open(Save(bytes)));
    RiffChunk riff, chunk;
    riff.nFormType = FourCC("TEST");
    ASSERT_TRUE(file.Descend(riff, nullptr, RiffFind::Riff));
    EXPECT_EQ(riff.nSize, 5000u);
    chunk.nId = FourCC("none");
    EXPECT_FALSE(file.Descend(chunk, &riff, RiffFind::Chunk));
    chunk.nId = FourCC("abcd");
    ASSERT_TRUE(file.Descend(chunk, &riff, RiffFind::Chunk));
    EXPECT_EQ(chunk.nSize, 0xFFFFFFF0u);
    char data[64];
    EXPECT_EQ(file.Read(data, sizeof data), 10);
    const int64_t nEnd = file.Tell();
    EXPECT_FALSE(file.Ascend(chunk));
    EXPECT_EQ(file.Tell(), nEnd);
}

// Every case must fail to find the chunk asked for, quickly and with the position unchanged.
struct BrokenCase {
    const char* name;
    Bytes bytes;
    RiffFind find;
    uint32_t nCode;  // id or form type looked for
};

void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.name; }

class RiffFileBrokenTest : public RiffFileTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(RiffFileBrokenTest, FindsNothingAndStaysPut) {
    CRiffFile file;
    ASSERT_TRUE(file.Open(Save(GetParam().bytes)));
    RiffChunk chunk;
    chunk.nId = chunk.nFormType = GetParam().nCode;
    EXPECT_FALSE(file.Descend(chunk, nullptr, GetParam().find));
    EXPECT_EQ(file.Tell(), 0);
}

Bytes ManyEmptyChunks() {
    Bytes bytes;
    for (int i = 0; i < 5000; ++i) bytes += Chunk("zero", "");
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RiffFileBrokenTest,
    ::testing::Values(
        BrokenCase{"Empty", "", RiffFind::Riff, FourCC("WAVE")},
        BrokenCase{"HalfAHeader", "RIFF" + LE32(4).substr(0, 3), RiffFind::Current, FourCC("RIFF")},
        BrokenCase{"RiffTooShortForAForm", "RIFF" + LE32(2) + "WA", RiffFind::Current,
                   FourCC("WAVE")},
        BrokenCase{"FormCutOff", "RIFF" + LE32(4) + "WA", RiffFind::Riff, FourCC("WAVE")},
        BrokenCase{"OtherForm", Form("RIFF", "AVI ", ""), RiffFind::Riff, FourCC("WAVE")},
        BrokenCase{"HugeOddSize", "abcd" + LE32(0xFFFFFFFFu) + "xyz", RiffFind::Chunk,
                   FourCC("none")},
        BrokenCase{"ManyEmptyChunks", ManyEmptyChunks(), RiffFind::Chunk, FourCC("none")},
        BrokenCase{"NotRiff", Bytes(100, 'x'), RiffFind::Riff, FourCC("WAVE")}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(RiffFileTest, PadByteMissingAtTheEndIsForgiven) {
    const Bytes bytes = Chunk("abcd", "xyz").substr(0, 11);
    CRiffFile file;
    ASSERT_TRUE(file.Open(Save(bytes)));
    RiffChunk chunk;
    ASSERT_TRUE(file.Descend(chunk, nullptr, RiffFind::Current));
    EXPECT_EQ(chunk.nId, FourCC("abcd"));
    ASSERT_TRUE(file.Ascend(chunk));
    EXPECT_EQ(file.Tell(), 11);
}

TEST_F(RiffFileTest, EachDirectionRefusesTheOthersOperations) {
    CRiffFile reader, writer, closed;
    EXPECT_FALSE(reader.Open(PathOf("missing")));
    EXPECT_FALSE(reader.Open(m_dir.string()));  // a directory is no file
    ASSERT_TRUE(reader.Open(Save(Chunk("abcd", "xy"))));
    ASSERT_TRUE(writer.Create(PathOf("out")));
    RiffChunk chunk;
    char byte = 0;
    EXPECT_FALSE(reader.CreateChunk(chunk, RiffCreate::Chunk));
    EXPECT_EQ(reader.Write(&byte, 1), -1);
    EXPECT_FALSE(writer.Descend(chunk, nullptr, RiffFind::Current));
    EXPECT_EQ(writer.Read(&byte, 1), -1);
    EXPECT_FALSE(reader.Open(PathOf("out")));  // already open
    EXPECT_FALSE(closed.Descend(chunk, nullptr, RiffFind::Current));
    EXPECT_EQ(closed.Read(&byte, 1), -1);
    EXPECT_TRUE(closed.Close());
}

}  // namespace

// The one way files from outside are opened and read whole: what is not a regular file is
// refused at once and named, and what is too large is refused without being read.
#include "platform/inputfile.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/filebytes.h"
#include "tests/support/songwriter.h"
#include "tests/support/specialfiles.h"

namespace {

using platform::CInputFile;
using platform::TextLanguage;
using Problem = platform::CInputFile::Problem;
using testing_support::FinishesWithin;
using testing_support::TemporaryFolder;

struct Refusal {
    std::string name;
    Problem problem;
    const char* chinese;
    const char* english;
};

TEST(InputFile, WhatIsNotARegularFileIsRefusedAtOnceAndNamed) {
    TemporaryFolder folder;
    const auto dir = folder.Path();
    ASSERT_TRUE(testing_support::MakeFifo(dir / "fifo"));
    ASSERT_TRUE(testing_support::LinkTo(dir / "zero", "/dev/zero"));
    ASSERT_TRUE(testing_support::LinkTo(dir / "random", "/dev/urandom"));
    ASSERT_TRUE(testing_support::LinkTo(dir / "loop", (dir / "loop").string()));
    std::filesystem::create_directory(dir / "folder");
    testing_support::WriteFile(dir / "plain", "x");
    // A listening socket in the folder.
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const std::vector<Refusal> cases = {
        {"fifo", Problem::Fifo, "不是普通文件，是命名管道（FIFO）",
         "is not a regular file (a FIFO)"},
        {"zero", Problem::Device, "不是普通文件，是设备", "is not a regular file (a device)"},
        {"random", Problem::Device, "不是普通文件，是设备", "is not a regular file (a device)"},
        {"folder", Problem::Folder, "是一个文件夹，不是文件", "is a directory"},
        {"socket", Problem::OtherType, "不是普通文件", "is not a regular file"},
        {"loop", Problem::LinkLoop, "符号链接层数太多", "too many levels of symbolic links"},
        {"missing", Problem::Missing, "不存在", "no such file"},
        {"plain/below", Problem::NotAFolderOnTheWay, "路径中有一段不是文件夹",
         "a name on its path is not a directory"},
        {std::string(NAME_MAX + 1, 'n'), Problem::NameTooLong, "名称太长", "name too long"},
        {std::string(PATH_MAX, 'p'), Problem::NameTooLong, "名称太长", "name too long"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20));
        const std::string path = (dir / c.name).string();
        // Both ways in: the class itself and the shared whole-file reader of the loaders.
        CInputFile file;
        std::string bytes = "old", problem;
        bool opened = true, read = true;
        ASSERT_TRUE(FinishesWithin(
            [&] {
                opened = file.Open(path);
                read = platform::ReadFileBytes(path, bytes, problem);
            },
            {dir / "fifo"}));
        EXPECT_FALSE(opened);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(file.GetProblem(), c.problem);
        EXPECT_EQ(file.ProblemText(), c.chinese);
        EXPECT_EQ(file.ProblemText(TextLanguage::English), c.english);
        EXPECT_FALSE(read);
        EXPECT_EQ(problem, c.chinese);
        EXPECT_TRUE(bytes.empty());
    }
    ::close(sock);
}

TEST(InputFile, AWholeReadStopsAtItsLimit) {
    TemporaryFolder folder;
    const auto path = folder.Path() / "data";
    const std::string text = "0.5 4 8\n";
    testing_support::WriteFile(path, text);

    std::string bytes, problem;
    EXPECT_TRUE(platform::ReadFileBytes(path.string(), bytes, problem, int64_t(text.size())));
    EXPECT_EQ(bytes, text);
    EXPECT_FALSE(platform::ReadFileBytes(path.string(), bytes, problem, int64_t(text.size()) - 1));
    EXPECT_EQ(problem, "太大（超过 7 B 的上限）");
    EXPECT_TRUE(bytes.empty());

    // A song file of 1 GiB (sparse: it takes no disk) is refused by the loaders' default limit,
    // and nothing of it is read.
    ASSERT_TRUE(testing_support::MakeSparse(path, int64_t(1) << 30));
    EXPECT_FALSE(platform::ReadFileBytes(path.string(), bytes, problem));
    EXPECT_EQ(problem, "太大（超过 16 MiB 的上限）");
    CInputFile file;
    ASSERT_TRUE(file.Open(path.string()));
    EXPECT_EQ(file.Size(), int64_t(1) << 30);
    EXPECT_FALSE(file.ReadAll(bytes, platform::kHelpFileLimit));
    EXPECT_EQ(file.ProblemText(TextLanguage::English), "is too large (over the limit of 1 MiB)");
    EXPECT_TRUE(bytes.empty());

    // Streaming reads go on through the whole file, a piece at a time.
    ASSERT_TRUE(file.Open(path.string()));
    char piece[4096];
    EXPECT_EQ(file.Read(piece, sizeof piece), int64_t(sizeof piece));
    EXPECT_EQ(piece[0], text[0]);
}

TEST(InputFile, ARefusedFifoIsNotLeftOpen) {
    // Nothing keeps the FIFO open after the refusal: a writer finds no reader there.
    TemporaryFolder folder;
    const auto fifo = folder.Path() / "fifo";
    ASSERT_TRUE(testing_support::MakeFifo(fifo));
    CInputFile file;
    bool opened = true;
    ASSERT_TRUE(FinishesWithin([&] { opened = file.Open(fifo.string()); }, {fifo}));
    EXPECT_FALSE(opened);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_LT(writer, 0) << "no reader is left holding the FIFO open";
    if (writer >= 0) ::close(writer);
}

}  // namespace

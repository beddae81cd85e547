#include "platform/messages.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(Messages, WithoutACaptureTheyGoToStandardError) {
    testing::internal::CaptureStderr();
    ShowMessage("Audio can not be open!");
    Trace("No useful data\n");
    MessageBeep();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Audio can not be open!\nNo useful data\n");
}

TEST(Messages, CapturesNestAndRestoreWhatWasThere) {
    MessageCapture outer;
    {
        MessageCapture inner;
        ShowMessage("erro memory");
        MessageBeep();
        EXPECT_EQ(inner.Messages(), std::vector<std::string>{"erro memory"});
        EXPECT_EQ(inner.Beeps(), 1);
    }
    Trace("open MM_WOM_OPEN\n");
    EXPECT_TRUE(outer.Messages().empty());
    EXPECT_EQ(outer.Traces(), std::vector<std::string>{"open MM_WOM_OPEN\n"});
    EXPECT_EQ(outer.Beeps(), 0);
}

TEST(Messages, LinesFromSeveralThreadsAreAllKept) {
    MessageCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) Trace("line\n");
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(capture.Traces().size(), 2000u);
}

}  // namespace
}  // namespace platform

#include "platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
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

// A sink whose message box stays open until it is told to close, as a modal box does; while it is
// open, its thread handles more work (a nested event loop) that traces and shows messages.
class ModalSink : public MessageSink {
public:
    void ShowMessage(const std::string& text, MessageIcon, const std::string&) override {
        {
            std::lock_guard lock(mutex);
            shown.push_back(text);
            ++open;
        }
        changed.notify_all();
        if (nested) {
            auto work = std::move(nested);
            nested = nullptr;
            work();  // the nested loop runs queued work on this thread
        }
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(60), [this] { return closeBox; });
        --open;
    }
    void Beep(MessageIcon) override {}
    void Trace(const std::string& line) override {
        std::lock_guard lock(mutex);
        traces.push_back(line);
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> shown, traces;
    int open = 0;  // boxes open
    bool closeBox = false;
    std::function<void()> nested;
};

TEST(Messages, NothingWaitsForAMessageBoxThatIsOpen) {
    ModalSink sink;
    MessageSink* previous = SetMessageSink(&sink);
    // Inside the box, the same thread traces and shows a second box (which closes at once).
    sink.nested = [&sink] {
        Trace("inside the box\n");
        {
            std::lock_guard lock(sink.mutex);
            sink.closeBox = true;
        }
        ShowMessage("second");
        {
            std::lock_guard lock(sink.mutex);
            sink.closeBox = false;
        }
        sink.changed.notify_all();
    };
    std::thread box([] { ShowMessage("first"); });
    {
        std::unique_lock lock(sink.mutex);
        ASSERT_TRUE(sink.changed.wait_for(lock, std::chrono::seconds(60), [&] {
            return sink.open == 1 && sink.shown.size() == 2 && !sink.closeBox;
        }));
    }
    // Another thread traces while the first box is still open.
    std::atomic<bool> traced{false};
    std::thread other([&traced] {
        Trace("from another thread\n");
        traced = true;
    });
    other.join();
    EXPECT_TRUE(traced);
    {
        std::lock_guard lock(sink.mutex);
        EXPECT_EQ(sink.open, 1) << "the box was still open while the other thread traced";
        sink.closeBox = true;
    }
    sink.changed.notify_all();
    box.join();
    EXPECT_EQ(SetMessageSink(previous), &sink);
    EXPECT_EQ(sink.shown, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(sink.traces, (std::vector<std::string>{"inside the box\n", "from another thread\n"}));
}

TEST(Messages, AReplacedSinkIsLeftOnlyWhenNoThreadIsInsideIt) {
    ModalSink sink;
    MessageSink* previous = SetMessageSink(&sink);
    std::thread box([] { ShowMessage("open"); });
    {
        std::unique_lock lock(sink.mutex);
        ASSERT_TRUE(
            sink.changed.wait_for(lock, std::chrono::seconds(60), [&] { return sink.open > 0; }));
    }
    std::atomic<bool> replaced{false};
    std::thread replacer([&] {
        SetMessageSink(previous);
        replaced = true;
    });
    // The replacement waits for the open box (a chance for it not to wait; it cannot fail when
    // the wait is right).
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(replaced) << "the sink was left while a box in it was open";
    {
        std::lock_guard lock(sink.mutex);
        sink.closeBox = true;
    }
    sink.changed.notify_all();
    box.join();
    replacer.join();
    EXPECT_TRUE(replaced);
}

}  // namespace
}  // namespace platform

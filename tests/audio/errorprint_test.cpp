#include "audio/errorprint.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/messages.h"

namespace {

// Keeps each message with its icon (the ready-made capture keeps only the text).
class IconSink : public platform::MessageSink {
public:
    IconSink() : m_pPrevious(platform::SetMessageSink(this)) {}
    ~IconSink() override { platform::SetMessageSink(m_pPrevious); }
    void ShowMessage(const std::string& text, platform::MessageIcon icon,
                     const std::string&) override {
        m_shown.emplace_back(text, icon);
    }
    void Beep(platform::MessageIcon) override {}
    void Trace(const std::string&) override {}

    std::vector<std::pair<std::string, platform::MessageIcon>> m_shown;
    platform::MessageSink* m_pPrevious;
};

TEST(ErrorPrintTest, FormatsLikePrintfAndShowsAnExclamation) {
    IconSink sink;
    ErrorPrint("WAVEIN:%x:%s %s", 0x20u, "The device is busy.", "in Start()");
    const std::string strLong(5000, 'q');
    ErrorPrint("%s|%d", strLong.c_str(), -7);
    ASSERT_EQ(sink.m_shown.size(), 2u);
    EXPECT_EQ(sink.m_shown[0].first, "WAVEIN:20:The device is busy. in Start()");
    EXPECT_EQ(sink.m_shown[0].second, platform::MessageIcon::Exclamation);
    EXPECT_EQ(sink.m_shown[1].first, strLong + "|-7");
}

}  // namespace

#include "platform/soundplayer.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/messages.h"

namespace platform {
namespace {

TEST(PlaySoundFile, FilesItCannotPlayAreTracedAndRefused) {
    MessageCapture messages;
    const std::string missing = std::string(QUORVEL_TEST_DATA) + "/no-such-sound.wav";
    EXPECT_FALSE(PlaySoundFile(missing, false));
    const std::string eightBit = std::string(QUORVEL_TEST_DATA) + "/mono-8000-u8-odd.wav";
    EXPECT_FALSE(PlaySoundFile(eightBit, true));
    ASSERT_EQ(messages.Traces().size(), 2u);
    EXPECT_NE(messages.Traces()[0].find("no-such-sound.wav"), std::string::npos);
    EXPECT_NE(messages.Traces()[1].find("mono-8000-u8-odd.wav: not 16-bit PCM"), std::string::npos)
        << messages.Traces()[1];
    EXPECT_TRUE(messages.Messages().empty());  // nothing for the user
}

}  // namespace
}  // namespace platform

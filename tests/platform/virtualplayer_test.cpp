// The headless scorer's player: its length follows a playback span that ends early.
#include "platform/virtualplayer.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(VirtualPlayer, ASpanThatEndsEarlyIsItsLength) {
    CVirtualPlayer media(90000);
    EXPECT_TRUE(media.Open("song", AudioSpan{1000, 61000, 500}));
    EXPECT_EQ(media.Length(), 60000);
    EXPECT_TRUE(media.Open("song", AudioSpan{1000, 95000, 0}));
    EXPECT_EQ(media.Length(), 89000) << "the span ends with the media";
    EXPECT_TRUE(media.Open("song"));
    EXPECT_EQ(media.Length(), 90000);

    // A media that never ends (length 0) ends with a span that does; otherwise it still never
    // ends.
    CVirtualPlayer endless;
    EXPECT_TRUE(endless.Open("song", AudioSpan{2000, 32000, 0}));
    EXPECT_EQ(endless.Length(), 30000);
    EXPECT_TRUE(endless.Open("song", AudioSpan{2000, -1, 0}));
    EXPECT_EQ(endless.Length(), 0);

    // Opening starts the clock at 0 again.
    media.Play();
    media.SetClock(1234);
    EXPECT_EQ(media.Position(), 1234);
    EXPECT_TRUE(media.Open("song", AudioSpan{500, -1, 0}));
    EXPECT_EQ(media.Position(), 0);
    EXPECT_EQ(media.Length(), 89500);
}

}  // namespace
}  // namespace platform

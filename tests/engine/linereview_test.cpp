// The review's data: notes from the reference, the heard curve from the judged buffers, the key
// in words.
#include "engine/linereview.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

TEST(LineReview, NotesComeFromTheRecordAndPointsFromTheBuffers) {
    SongInfo info;
    info.lyrics = {{{2, "海"}, {6, "边"}}};
    // One line of 10 values: a rest, then 600 four times, then 640 four times.
    const CSong song({1.0f, 5.0f}, {1.15f, 6.0f}, {{0, 0, 600, 600, 600, 600, 640, 640, 640, 640}},
                     info);
    LineReport line;
    line.fScore = 80.0f;
    line.nKeyOffset = 20;
    BufferReport buffer;
    buffer.nLine = 0;
    buffer.nRefIndex = 4;
    buffer.bHit = buffer.bCountedHit = true;
    buffer.nFrames = 8;
    for (int k = 0; k < 8; ++k) buffer.aHeard[k] = k == 3 ? 0 : 600;
    BufferReport silent = buffer;
    silent.nRefIndex = 8;
    silent.bHit = silent.bCountedHit = false;
    silent.bFar = true;
    for (int32_t& value : silent.aHeard) value = 0;

    const auto reviews = BuildLineReviews(song, {line}, {buffer, silent});
    ASSERT_EQ(reviews.size(), 1u);
    const LineReview& review = reviews[0];
    ASSERT_EQ(review.notes.size(), 2u);
    EXPECT_DOUBLE_EQ(review.notes[0].start, 2 * 0.015);
    EXPECT_DOUBLE_EQ(review.notes[0].end, 6 * 0.015);
    EXPECT_EQ(review.notes[0].strLyric, "海");
    EXPECT_EQ(review.notes[1].value, 640);
    ASSERT_EQ(review.heard.size(), 7u);  // the voiced frames of the voiced buffer
    EXPECT_NEAR(review.heard[0].t, 4 * 0.015 + 128.0 / 11025 - 0.06, 1e-9);
    EXPECT_EQ(review.heard[0].verdict, Verdict::Hit);
    EXPECT_DOUBLE_EQ(review.inTune, 1.0);  // the silent buffer is not a sung one
    EXPECT_EQ(review.report.nKeyOffset, 20);
}

TEST(LineReview, TheKeyAndTheNotesAreSaidAsASingerSaysThem) {
    EXPECT_EQ(KeyOffsetWords(0), "你唱的是原调");
    EXPECT_EQ(KeyOffsetWords(-2), "你唱的是原调");
    EXPECT_EQ(KeyOffsetWords(20), "你比原调高了 2 个半音");
    EXPECT_EQ(KeyOffsetWords(-15), "你比原调低了 1.5 个半音");
    EXPECT_EQ(NoteName(690, 0), "A4");
    EXPECT_EQ(NoteName(600, 120), "C3");
    EXPECT_EQ(NoteName(600, 80), "E3");
    EXPECT_EQ(NoteName(660, 120), "F♯3");
    EXPECT_EQ(NoteName(-20, 0), "A♯-2");
}

}  // namespace
}  // namespace engine

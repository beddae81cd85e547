// Folding for the search box: blind to case and accents, faithful to Chinese, Japanese and
// Korean text, and every typed word must be found.
#include "library/searchfold.h"

#include <gtest/gtest.h>

namespace {

using library::FoldForSearch;
using library::MatchesWords;
using library::SearchWords;

TEST(SearchFold, CaseAndAccentsFoldAlike) {
    const QString cafe = FoldForSearch(QStringLiteral("cafe"));
    EXPECT_EQ(cafe, QStringLiteral("cafe"));
    for (const QString& text : {QStringLiteral("Café"), QStringLiteral("CAFE"),
                                QStringLiteral("CAFÉ"), QStringLiteral("cafe\u0301")})
        EXPECT_EQ(FoldForSearch(text), cafe) << text.toStdString();
    EXPECT_EQ(FoldForSearch(QStringLiteral("Die Ärzte")), QStringLiteral("die arzte"));
    EXPECT_EQ(FoldForSearch(QStringLiteral("Sigur Rós – Hoppípolla")),
              QStringLiteral("sigur ros – hoppipolla"));
    // Full-width letters (typed with a Chinese input method) are plain letters.
    EXPECT_EQ(FoldForSearch(QStringLiteral("ＡＢＣ ａｂｃ")), QStringLiteral("abc abc"));
}

TEST(SearchFold, CyrillicLettersFoldToLowerCase) {
    EXPECT_EQ(FoldForSearch(QStringLiteral("ПРИВЕТ Мир")), QStringLiteral("привет мир"));
    EXPECT_EQ(FoldForSearch(QStringLiteral("Ёлка")), FoldForSearch(QStringLiteral("елка")));
    EXPECT_EQ(FoldForSearch(QStringLiteral("ΣΟΦΊΑ")), FoldForSearch(QStringLiteral("σοφια")));
}

TEST(SearchFold, ChineseJapaneseAndKoreanAreUnchanged) {
    for (const QString& text : {QStringLiteral("周杰伦 稻香"), QStringLiteral("歌曲/串烧歌曲"),
                                QStringLiteral("ガギグ パピプ"), QStringLiteral("ひらがな"),
                                QStringLiteral("노래방 아리랑"), QStringLiteral("𠀋𡈽")})
        EXPECT_EQ(FoldForSearch(text), text) << text.toStdString();
    // The voicing marks make other kana: が is not か.
    EXPECT_NE(FoldForSearch(QStringLiteral("が")), FoldForSearch(QStringLiteral("か")));
}

TEST(SearchFold, EveryTypedWordMustOccur) {
    const QString key = FoldForSearch(QStringLiteral("Die Ärzte Schrei nach Liebe"));
    EXPECT_TRUE(MatchesWords(key, SearchWords(QStringLiteral("ARZTE"))));
    EXPECT_TRUE(MatchesWords(key, SearchWords(QStringLiteral("  liebe\tärzte  "))));
    EXPECT_TRUE(MatchesWords(key, SearchWords(QStringLiteral("schr lieb"))));
    EXPECT_FALSE(MatchesWords(key, SearchWords(QStringLiteral("ärzte hass"))));
    EXPECT_FALSE(MatchesWords(key, SearchWords(QStringLiteral("arzteschrei"))));
    // Nothing typed (or only spaces, an ideographic one among them): everything matches.
    EXPECT_TRUE(SearchWords(QStringLiteral(" \u3000 ")).isEmpty());
    EXPECT_TRUE(MatchesWords(key, SearchWords(QString())));
    EXPECT_EQ(SearchWords(QStringLiteral("周杰伦\u3000稻香")),
              (QStringList{QStringLiteral("周杰伦"), QStringLiteral("稻香")}));
}

TEST(SearchFold, UltraStarSongsAreFoundByArtistAndTitleNativeOnesByName) {
    library::SongEntry song;
    song.kind = library::SongEntry::Kind::UltraStar;
    song.strArtist = "Beyoncé";
    song.strTitle = "Halo";
    song.strName = "shown name";
    const QString key = library::SearchKey(song);
    EXPECT_TRUE(MatchesWords(key, SearchWords(QStringLiteral("beyonce halo"))));
    EXPECT_FALSE(MatchesWords(key, SearchWords(QStringLiteral("shown"))));
    library::SongEntry native;
    native.strName = "稻香";
    EXPECT_TRUE(MatchesWords(library::SearchKey(native), SearchWords(QStringLiteral("稻"))));
}

}  // namespace

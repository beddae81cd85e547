// Every face the windows ask for is drawn with the font it is mapped onto, not with whatever the
// font system falls back to.
#include "display/fonts.h"

#include <gtest/gtest.h>

#include <QFontInfo>

namespace {

TEST(Fonts, EveryFaceTheWindowsAskForIsARealFont) {
    const struct {
        const char* face;
        const char* family;
    } faces[] = {{"黑体", "WenQuanYi Zen Hei"},    {"宋体", "WenQuanYi Zen Hei"},
                 {"System", "WenQuanYi Zen Hei"},  {"Arial", "Liberation Sans"},
                 {"楷体_GB2312", "AR PL UKai CN"}, {"楷体", "AR PL UKai CN"}};
    for (const auto& [face, family] : faces) {
        const QFont font = display::MakeFont(QString::fromUtf8(face), 24);
        EXPECT_EQ(QFontInfo(font).family().toStdString(), family) << face;
    }
}

}  // namespace

// The user's song folders as the settings file keeps them: what is read back is checked.
#include "app/librarysettings.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <gtest/gtest.h>

namespace {

// Writes the folders' value as a person editing the settings file might.
void WriteValue(const QVariant& value) {
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    file.setValue("library/folders", value);
}

TEST(LibrarySettings, KeepsAbsoluteFoldersOnceInTheirOrder) {
    CLibrarySettings settings;
    EXPECT_TRUE(settings.Add("/music/UltraStar/"));
    EXPECT_TRUE(settings.Add("/home/歌手/歌曲"));
    EXPECT_FALSE(settings.Add("/music/UltraStar")) << "there already";
    EXPECT_FALSE(settings.Add("relative/folder"));
    EXPECT_FALSE(settings.Add(""));
    EXPECT_FALSE(settings.Add("/" + std::string(CLibrarySettings::kLongestPath, 'x')));
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(CLibrarySettings::Load().folders,
              (std::vector<std::string>{"/music/UltraStar", "/home/歌手/歌曲"}));
    settings.Remove("/music/UltraStar");
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(CLibrarySettings::Load().folders, std::vector<std::string>{"/home/歌手/歌曲"});
    settings.Remove("/home/歌手/歌曲");
    ASSERT_TRUE(settings.Save());
    EXPECT_TRUE(CLibrarySettings::Load().folders.empty());
}

TEST(LibrarySettings, ValuesEditedByHandAreCheckedOnLoading) {
    WriteValue(QStringLiteral("/one/folder"));
    EXPECT_EQ(CLibrarySettings::Load().folders, std::vector<std::string>{"/one/folder"});
    WriteValue(42);
    EXPECT_TRUE(CLibrarySettings::Load().folders.empty());
    WriteValue(QStringList{"/a", "b", "", "/a", "/c/"});
    EXPECT_EQ(CLibrarySettings::Load().folders, (std::vector<std::string>{"/a", "/c"}));
    QStringList many;
    for (int i = 0; i < 500; ++i) many.append(QStringLiteral("/f%1").arg(i));
    WriteValue(many);
    EXPECT_EQ(CLibrarySettings::Load().folders.size(), CLibrarySettings::kMostFolders);
    CLibrarySettings{}.Save();
}

}  // namespace

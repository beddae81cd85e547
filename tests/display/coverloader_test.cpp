// The cover loader: pictures decoded small on its own thread and delivered on the window's, the
// default art for whatever gives no picture, and nothing decoded on the window's thread.
#include "display/coverloader.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/eventually.h"
#include "tests/support/songwriter.h"
#include "tests/support/specialfiles.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

std::string Encoded(const QSize& size, const char* format) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toStdString();
}

TEST(CoverLoaderTest, DecodesSmallOffTheWindowsThreadAndDeliversOnIt) {
    TemporaryFolder folder;
    const struct {
        const char* name;
        std::string bytes;  // written to the file (none for "missing" and the special files)
        QSize fitted;       // the picture delivered; empty: the default art
    } cases[] = {
        {"wide.jpg", Encoded({1200, 600}, "JPG"), {64, 32}},
        {"square.png", Encoded({300, 300}, "PNG"), {64, 64}},
        {"named-wrong.jpg", Encoded({100, 200}, "PNG"), {32, 64}},
        {"broken.jpg", "\xFF\xD8\xFF not a picture after all", {}},
        {"truncated.png", Encoded({300, 300}, "PNG").substr(0, 60), {}},
        {"empty.png", "", {}},
        {"missing.png", "", {}},
        {"fifo.png", "", {}},
        {"folder.png", "", {}},
    };
    for (const auto& c : cases) {
        const fs::path path = folder.Path() / c.name;
        if (std::string(c.name) == "fifo.png")
            ASSERT_TRUE(MakeFifo(path));
        else if (std::string(c.name) == "folder.png")
            fs::create_directory(path);
        else if (std::string(c.name) != "missing.png")
            WriteFile(path, c.bytes);
    }

    CCoverLoader loader;
    QThread* const window = QThread::currentThread();
    std::atomic<int> decodesHere{0}, decodesAway{0};
    loader.SetDecodeHook(
        [&] { ++(QThread::currentThread() == window ? decodesHere : decodesAway); });
    std::vector<QString> delivered;
    loader.SetReadyHandler([&](const QString& path, int side) {
        EXPECT_EQ(QThread::currentThread(), window);
        EXPECT_EQ(side, 64);
        delivered.push_back(path);
    });
    QImage image;
    for (const auto& c : cases) {
        const QString path = QString::fromStdString((folder.Path() / c.name).string());
        EXPECT_EQ(loader.Find(path, 64, image), CCoverLoader::State::Pending) << c.name;
        EXPECT_EQ(loader.Find(path, 64, image), CCoverLoader::State::Pending) << "asked once";
    }
    EXPECT_EQ(loader.Find(QString(), 64, image), CCoverLoader::State::Missing);
    ASSERT_TRUE(Eventually([&] {
        QApplication::processEvents();
        return delivered.size() == std::size(cases);
    }));
    EXPECT_EQ(decodesHere, 0);
    EXPECT_EQ(decodesAway, static_cast<int>(std::size(cases)));

    const QImage art = CCoverLoader::DefaultArt(64);
    ASSERT_EQ(art.size(), QSize(64, 64));
    for (const auto& c : cases) {
        const QString path = QString::fromStdString((folder.Path() / c.name).string());
        const CCoverLoader::State state = loader.Find(path, 64, image);
        if (c.fitted.isEmpty()) {
            EXPECT_EQ(state, CCoverLoader::State::Missing) << c.name;
            EXPECT_EQ(loader.PictureOrDefault(path, 64), art) << c.name;
        } else {
            ASSERT_EQ(state, CCoverLoader::State::Ready) << c.name;
            EXPECT_EQ(image.size(), c.fitted) << c.name;
            EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        }
    }
    EXPECT_EQ(loader.Decoded(), static_cast<int>(std::size(cases))) << "each decoded once";
}

TEST(CoverLoaderTest, TheCacheKeepsThePicturesUsedLast) {
    TemporaryFolder folder;
    const std::string png = Encoded({64, 64}, "PNG");
    // Room for about two 32 × 32 pictures (4 KiB each).
    CCoverLoader loader(nullptr, 9000);
    int delivered = 0;
    loader.SetReadyHandler([&](const QString&, int) { ++delivered; });
    QImage image;
    std::vector<QString> paths;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(
            QString::fromStdString((folder.Path() / (std::to_string(i) + ".png")).string()));
        WriteFile(paths.back().toStdString(), png);
        loader.Find(paths.back(), 32, image);
        ASSERT_TRUE(Eventually([&] {
            QApplication::processEvents();
            return delivered == i + 1;
        }));
        if (i == 1) {
            EXPECT_EQ(loader.Find(paths[0], 32, image), CCoverLoader::State::Ready);
        }
    }
    // The first was used after the second: the second made room for the third.
    EXPECT_EQ(loader.Find(paths[0], 32, image), CCoverLoader::State::Ready);
    EXPECT_EQ(loader.Find(paths[2], 32, image), CCoverLoader::State::Ready);
    EXPECT_EQ(loader.Find(paths[1], 32, image), CCoverLoader::State::Pending);
}

}  // namespace

// The song list's rows as they are painted: the name never under the score, whatever its
// length and the row's width.
#include "app/songlistdelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStandardItemModel>

#include <gtest/gtest.h>

#include <algorithm>

#include "display/fonts.h"

namespace {

// One row of the given width painted on white, as the song list paints it.
QImage PaintRow(int width, const QString& name, const QString& hint, const QString& scores) {
    QStandardItemModel model;
    auto* item = new QStandardItem(name);
    if (!hint.isEmpty()) item->setData(hint, CSongListDelegate::kHintRole);
    if (!scores.isEmpty()) item->setData(scores, CSongListDelegate::kScoresRole);
    model.appendRow(item);
    QImage image(width, 24, QImage::Format_RGB32);
    image.fill(Qt::white);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.font = display::MakeFont(QStringLiteral("宋体"), 20);
    option.palette = QApplication::palette();
    option.palette.setColor(QPalette::Base, Qt::white);
    option.palette.setColor(QPalette::Text, Qt::black);
    option.state = QStyle::State_Enabled;
    CSongListDelegate delegate;
    QPainter painter(&image);
    delegate.paint(&painter, option, model.index(0, 0));
    return image;
}

// The leftmost and rightmost columns of a row's pixels of the score and of the name and hint.
struct Columns {
    int textLeft = 1 << 20, textRight = -1, scoreLeft = 1 << 20, scoreRight = -1;
};

Columns Find(const QImage& image) {
    Columns found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.lightness() > 235) continue;  // the ground
            // The score is purple, the name and the hint grey to black, smoothed towards white.
            const int chroma = std::max({pixel.red(), pixel.green(), pixel.blue()}) -
                               std::min({pixel.red(), pixel.green(), pixel.blue()});
            const bool score = chroma > 8;
            int& left = score ? found.scoreLeft : found.textLeft;
            int& right = score ? found.scoreRight : found.textRight;
            left = std::min(left, x);
            right = std::max(right, x);
        }
    return found;
}

TEST(SongListRow, TheNameAndItsHintEndBeforeTheScoreAtAnyWidth) {
    const QString longName =
        QStringLiteral("The Extraordinarily Long Named Philharmonic Orchestra - A Song");
    const struct {
        int width;
        QString name, hint;
    } cases[] = {
        {304, longName, QString()},
        {304, longName, QStringLiteral("Covers/The Extraordinary Orchestra")},
        {200, QStringLiteral("Jonathan Coulton - Code Monkey"), QStringLiteral("二重唱")},
        {120, longName, QStringLiteral("Rock/Queen")},
        {304, QStringLiteral("稻香"), QString()},
    };
    for (const auto& c : cases) {
        const Columns found = Find(PaintRow(c.width, c.name, c.hint, QStringLiteral("最好 100.0")));
        ASSERT_GE(found.textRight, 0) << c.width << " " << c.name.toStdString();
        ASSERT_GE(found.scoreRight, 0) << c.width << " " << c.name.toStdString();
        EXPECT_LT(found.textRight, found.scoreLeft) << c.width << " " << c.name.toStdString();
        EXPECT_LT(found.scoreRight, c.width) << c.width;
    }
    // A short name without a score is drawn whole: it ends well before the row does.
    EXPECT_LT(Find(PaintRow(304, QStringLiteral("稻香"), QString(), QString())).textRight, 100);
}

}  // namespace

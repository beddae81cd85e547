#include "display/fonts.h"

#include <QFontMetrics>

#include <cmath>

namespace display {

void InstallFontSubstitutions() {
    static const bool installed = [] {
        const QString chinese = QStringLiteral("WenQuanYi Zen Hei");
        QFont::insertSubstitution(QStringLiteral("黑体"), chinese);
        QFont::insertSubstitution(QStringLiteral("宋体"), chinese);
        QFont::insertSubstitution(QStringLiteral("System"), chinese);
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
        // The Kai (regular script) faces: the link's 楷体_GB2312 among them.
        const QString kai = QStringLiteral("AR PL UKai CN");
        for (const char* face : {"楷体_GB2312", "楷体", "KaiTi", "KaiTi_GB2312"})
            QFont::insertSubstitution(QString::fromUtf8(face), kai);
        return true;
    }();
    (void)installed;
}

QFont MakeFont(const QString& face, int height, int averageWidth, int weight) {
    InstallFontSubstitutions();
    QFont font(face);
    // The height asked for is the character cell (ascent and descent); Qt sizes by the em.
    font.setPixelSize(height);
    const QFontMetrics cell(font);
    if (cell.height() > 0 && cell.height() != height) {
        const int em =
            static_cast<int>(std::lround(height * static_cast<double>(height) / cell.height()));
        font.setPixelSize(std::max(1, em));
    }
    font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 1, 1000)));
    if (averageWidth > 0) {
        const int natural = QFontMetrics(font).averageCharWidth();
        if (natural > 0) font.setStretch(std::clamp(100 * averageWidth / natural, 1, 4000));
    }
    return font;
}

}  // namespace display

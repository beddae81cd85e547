#include "app/songdetailspanel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "display/coverloader.h"
#include "display/fonts.h"

namespace {

constexpr int kPadding = 8;

}  // namespace

CSongDetailsPanel::CSongDetailsPanel(CCoverLoader& covers, QWidget* parent)
    : QWidget(parent), m_covers(covers) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString CSongDetailsPanel::Details(const library::SongEntry& entry) {
    QStringList parts;
    if (entry.nLengthMs > 0) {
        const int seconds = (entry.nLengthMs + 500) / 1000;
        parts.append(
            QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')));
    }
    for (const std::string* field : {&entry.strYear, &entry.strGenre, &entry.strLanguage})
        if (!field->empty()) parts.append(QString::fromStdString(*field));
    return parts.join(QStringLiteral(" · "));
}

void CSongDetailsPanel::SetSong(const library::SongEntry* entry) {
    QStringList lines;
    QString cover;
    if (entry) {
        const bool titled = !entry->strTitle.empty();
        lines = {QString::fromStdString(titled ? entry->strTitle : entry->strName),
                 QString::fromStdString(titled ? entry->strArtist : std::string()),
                 Details(*entry)};
        cover = QString::fromStdString(entry->strCover);
    }
    if (lines == m_lines && cover == m_cover) return;
    m_lines = lines;
    m_cover = cover;
    update();
}

void CSongDetailsPanel::OnCoverReady(const QString& path) {
    if (!m_cover.isEmpty() && path == m_cover) update();
}

int CSongDetailsPanel::CoverSide() const {
    return std::max(8, std::min(height() - 2 * kPadding, width() * 2 / 5));
}

void CSongDetailsPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A card of the stage's colours over the panel behind it.
    painter.setPen(QPen(QColor(0xb9, 0x9c, 0xf0, 160), 1));
    painter.setBrush(QColor(0x1c, 0x0f, 0x48));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    if (m_lines.isEmpty()) return;

    const int side = CoverSide();
    const QRect coverRect(kPadding, (height() - side) / 2, side, side);
    const QImage cover = m_covers.PictureOrDefault(m_cover, side);
    painter.drawImage(coverRect.x() + (side - cover.width()) / 2,
                      coverRect.y() + (side - cover.height()) / 2, cover);

    // The texts beside it, each on one line, cut short with "…".
    const int left = coverRect.right() + 1 + kPadding;
    const int width = std::max(0, this->width() - left - kPadding);
    const bool roomy = height() >= 90;  // a card beside the list; else a strip of one line each
    const QFont titleFont = display::MakeFont(QStringLiteral("黑体"), roomy ? 20 : 16, 0, 700);
    const QFont textFont = display::MakeFont(QStringLiteral("黑体"), roomy ? 16 : 14);
    const QColor colours[3] = {QColor(0xff, 0xe5, 0x9a), QColor(0xff, 0xc4, 0xdf),
                               QColor(0xb9, 0x9c, 0xf0)};
    // The lines there are, by their kind; on the card each detail takes a line of its own.
    std::vector<std::pair<QString, int>> shown;
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].isEmpty()) continue;
        if (i == 2 && roomy)
            for (const QString& detail : m_lines[i].split(QStringLiteral(" · ")))
                shown.emplace_back(detail, i);
        else
            shown.emplace_back(m_lines[i], i);
    }
    int total = 0;
    for (const auto& [text, kind] : shown)
        total += QFontMetrics(kind == 0 ? titleFont : textFont).height() + 2;
    int y = std::max(kPadding / 2, (height() - total) / 2);
    for (const auto& [text, kind] : shown) {
        const QFont& font = kind == 0 ? titleFont : textFont;
        const QFontMetrics metrics(font);
        painter.setFont(font);
        painter.setPen(colours[kind]);
        painter.drawText(QRect(left, y, width, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(text, Qt::ElideRight, width));
        y += metrics.height() + 2;
    }
}

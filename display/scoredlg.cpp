#include "display/scoredlg.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

#include "display/fonts.h"
#include "res/resources.h"

namespace {

constexpr int kTemplateWidth = 800;  // 400 × 223 dialog units
constexpr int kTemplateHeight = 446;
const QRect kScoreRect(QPoint(175, 100), QPoint(624, 349));  // (175, 100)–(625, 350)
const QColor kButtonShadow(160, 160, 160);                   // the usual colour of button shadows
const QColor kLight(232, 232, 232);
const QColor kMagenta(255, 0, 255);

}  // namespace

CScoreDlg::CScoreDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_picture(res::LoadBitmap(res::kBitmapScore)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CScoreDlg::CreateModeless() {
    setModal(false);
    resize(kTemplateWidth, kTemplateHeight);
    // Two hidden buttons, so that Enter and Escape reach OK and Cancel.
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setGeometry(686, 14, 100, 28);
    ok->setDefault(true);
    ok->hide();
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setGeometry(686, 48, 100, 28);
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, [this] { OnOK(); });
    m_review = new QPushButton(QStringLiteral("回顾"), this);
    m_review->setObjectName(QStringLiteral("scoreReview"));
    m_review->setGeometry(kTemplateWidth - 132, kTemplateHeight - 56, 112, 36);
    m_review->setFont(display::MakeFont(QStringLiteral("黑体"), 18));
    m_review->setCursor(Qt::PointingHandCursor);
    m_review->setStyleSheet(QStringLiteral(
        "QPushButton { background: #ff80c0; color: white; border: none; border-radius: 18px; }"
        " QPushButton:hover { background: #ff5aa8; }"));
    m_review->setFocusPolicy(Qt::NoFocus);  // Enter stays OK's
    m_review->hide();
    connect(m_review, &QPushButton::clicked, this, [this] {
        OnOK();
        if (m_onReview) m_onReview();
    });
    hide();
}

void CScoreDlg::SetReview(std::function<void()> review) {
    m_onReview = std::move(review);
    if (m_review) m_review->setVisible(static_cast<bool>(m_onReview));
}

void CScoreDlg::OnOK() { hide(); }

void CScoreDlg::keyPressEvent(QKeyEvent* event) {
    // The OK button is hidden, so Enter is taken here; Escape reaches reject().
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

QString CScoreDlg::ScoreText(float score) {
    return QString::asprintf("%0.1f", static_cast<double>(score));
}

void CScoreDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!m_picture.isNull())
        painter.drawPixmap(rect(), m_picture, m_picture.rect());
    else
        painter.fillRect(rect(), Qt::black);
    DrawScore(painter, m_fScore);
    if (!m_strLevel.isEmpty()) {
        // The level under the score, white on a soft shadow.
        const QString text = QStringLiteral("评分：") + m_strLevel;
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(display::MakeFont(QStringLiteral("Arial"), 26, 0, 700));
        const int flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine;
        const QRect band(kScoreRect.left(), kScoreRect.bottom() - 10, kScoreRect.width(), 40);
        painter.setPen(kButtonShadow);
        painter.drawText(band.translated(2, 2), flags, text);
        painter.setPen(kMagenta);
        painter.drawText(band, flags, text);
    }
}

void CScoreDlg::DrawScore(QPainter& painter, float score) {
    const QString text = ScoreText(score);
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(display::MakeFont(QStringLiteral("Arial"), 200, 0, 50));
    // Centred on one line at the top of the rectangle, three times: shadow, light, magenta.
    const int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip;
    painter.setPen(kButtonShadow);
    painter.drawText(kScoreRect, flags, text);
    painter.setPen(kLight);
    painter.drawText(kScoreRect.translated(3, 3), flags, text);
    painter.setPen(kMagenta);
    painter.drawText(kScoreRect.translated(6, 6), flags, text);
    painter.restore();
}

#include "controls/hyperlink.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QUrl>

#include "res/resources.h"

namespace {

constexpr int kHoverCheckMs = 100;

}  // namespace

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
    m_timer.setInterval(kHoverCheckMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { CheckHover(); });
    m_open = [](const QString& target) {
        return QDesktopServices::openUrl(QUrl::fromUserInput(target));
    };
    m_start = [](const QString& command) {
        QStringList words = QProcess::splitCommand(command);
        if (words.isEmpty()) return false;
        const QString program = words.takeFirst();
        return QProcess::startDetached(program, words);
    };
}

void CHyperLink::Attach() {
    if (m_strURL.isEmpty()) m_strURL = text();
    if (text().isEmpty()) setText(m_strURL);
    MakeFont();
    FitToText();
    if (!m_linkCursor) SetPointerCursor(std::nullopt);
    setToolTip(m_strURL);
    m_bAttached = true;
    m_timer.start();
}

void CHyperLink::SetTarget(const QString& target) {
    m_strURL = target;
    if (m_bAttached) {
        FitToText();
        setToolTip(target);
    }
}

void CHyperLink::SetLinkColours(const QColor& link, const QColor& visited, const QColor& hover) {
    m_crLinkColour = link;
    m_crVisitedColour = visited;
    m_crHoverColour = hover.isValid() ? hover : palette().color(QPalette::Highlight);
    update();
}

void CHyperLink::MarkVisited(bool visited) {
    m_bVisited = visited;
    update();
}

void CHyperLink::ShowUnderline(bool underline) {
    m_bUnderline = underline;
    MakeFont();
    update();
}

void CHyperLink::SetAutoFit(bool autoFit) {
    m_bAdjustToFit = autoFit;
    FitToText();
}

void CHyperLink::SetPointerCursor(const std::optional<QCursor>& cursor) {
    if (cursor) {
        m_linkCursor = cursor;
    } else {
        // The program's own hand; the desktop's when it is missing.
        const QCursor hand = res::LoadCursor(res::kCursorHand);
        m_linkCursor = hand.shape() == Qt::ArrowCursor ? QCursor(Qt::PointingHandCursor) : hand;
    }
    setCursor(*m_linkCursor);
}

QColor CHyperLink::TextColour() const {
    if (m_bOverControl) return m_crHoverColour;
    return m_bVisited ? m_crVisitedColour : m_crLinkColour;
}

void CHyperLink::MakeFont() {
    QFont font = parentWidget() ? parentWidget()->font() : QApplication::font();
    font.setUnderline(m_bUnderline);
    setFont(font);
}

void CHyperLink::FitToText() {
    if (!m_bAdjustToFit) return;
    const QSize textSize = QFontMetrics(font()).size(Qt::TextSingleLine, text());
    QRect rect = geometry();
    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        const int shrink = (rect.height() - textSize.height()) / 2;
        rect.setTop(rect.top() + shrink);
        rect.setHeight(textSize.height());
    } else {
        rect.setHeight(textSize.height());
    }
    if (align & Qt::AlignHCenter) {
        const int shrink = (rect.width() - textSize.width()) / 2;
        rect.setLeft(rect.left() + shrink);
        rect.setWidth(textSize.width());
    } else if (align & Qt::AlignRight) {
        rect.setLeft(rect.right() + 1 - textSize.width());
    } else {
        rect.setWidth(textSize.width());
    }
    setGeometry(rect);
}

void CHyperLink::CheckHover() {
    // Every tick, hovered or not, the control is drawn anew.
    m_bOverControl = isVisible() && rect().contains(mapFromGlobal(QCursor::pos()));
    repaint();
}

void CHyperLink::SetOpeners(std::function<bool(const QString&)> open,
                            std::function<bool(const QString&)> start) {
    m_open = std::move(open);
    m_start = std::move(start);
}

QString CHyperLink::BrowserCommand() {
    const QString browser = qEnvironmentVariable("BROWSER");
    return browser.isEmpty() ? QStringLiteral("x-www-browser") : browser;
}

QString CHyperLink::CutBrowserCommand(const QString& command) {
    int at = command.indexOf(QStringLiteral("\"%1\""));
    if (at < 0) at = command.indexOf(QStringLiteral("%1"));
    return at < 0 ? command : command.left(at);
}

bool CHyperLink::OpenTarget(const QString& target) {
    if (m_open && m_open(target)) return true;
    const QString command = BrowserCommand();
    if (command.isEmpty() || !m_start) return false;
    return m_start(CutBrowserCommand(command) + ' ' + target);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        MarkVisited(true);
        repaint();
        OpenTarget(m_strURL);
    }
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::paintEvent(QPaintEvent*) {
    // Transparent: only the text, in the colour of the state.
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(TextColour());
    painter.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, text());
}

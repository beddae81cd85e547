#include "display/iconprogress.h"

#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QThread>

#include <algorithm>

#include "res/resources.h"

CIconProgress::CIconProgress() {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the background is never erased separately
    hide();
}

void CIconProgress::SubclassCreate(int controlId, QWidget* parent, int iconId, int spacing,
                                   const QColor& background, int zigZag) {
    if (!parent) return;
    const QString name = QString::number(controlId);
    QWidget* control = parent->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
    setParent(parent);
    if (control && control != this) {
        setGeometry(control->geometry());
        const bool visible = control->isVisibleTo(parent);
        control->setObjectName(name + QStringLiteral("-replaced"));
        control->hide();
        stackUnder(control);
        setVisible(visible);
    }
    setObjectName(name);
    m_nSpacing = spacing == 0 ? 1 : spacing;
    m_background = background;
    m_nZigZag = zigZag;
    const QPixmap icon = res::LoadIconPixmap(iconId);
    LayOut();
    m_arrIcons.fill(icon, m_nSlots);
    std::lock_guard lock(m_mutex);
    Settle();
}

void CIconProgress::SubclassCreate(int controlId, QWidget* parent, int iconId, int spacing,
                                   int zigZag) {
    SubclassCreate(controlId, parent, iconId, spacing, palette().color(QPalette::Button), zigZag);
}

void CIconProgress::LayOut() {
    const int w = width();
    const int h = height();
    m_bVertical = w <= h;
    m_nIconLength = res::kSystemIconSize;  // the system icon is square
    m_nIconBreadth = res::kSystemIconSize;
    m_nLength = m_bVertical ? h : w;
    m_nBreadth = m_bVertical ? w : h;
    m_nSlots = 1;
    while (m_nSlots * m_nSpacing + m_nIconLength < m_nLength) ++m_nSlots;
    const int extent = (m_nSlots - 1) * m_nSpacing + m_nIconLength;
    m_nStart = m_bVertical ? (extent + m_nLength) / 2 - m_nIconLength : (m_nLength - extent) / 2;
    m_nAcross = (m_nBreadth - m_nIconBreadth - m_nZigZag) / 2;
}

int CIconProgress::IconsFor(int position) const {
    std::lock_guard lock(m_mutex);
    if (position == m_nUpper) return m_nSlots;
    const float perSlot =
        static_cast<float>(m_nUpper - m_nLower + 1) / static_cast<float>(m_nSlots);
    return static_cast<int>(static_cast<float>(position - m_nLower) / perSlot);
}

void CIconProgress::Settle() {
    m_nPosition = std::clamp(m_nPosition, m_nLower, std::max(m_nLower, m_nUpper));
    if (m_nSlots <= 0) {
        m_nShown = 0;
    } else if (m_nPosition == m_nUpper) {
        m_nShown = m_nSlots;
    } else {
        const float perSlot =
            static_cast<float>(m_nUpper - m_nLower + 1) / static_cast<float>(m_nSlots);
        m_nShown = std::clamp(
            static_cast<int>(static_cast<float>(m_nPosition - m_nLower) / perSlot), 0, m_nSlots);
    }
}

void CIconProgress::Repaint() {
    // A repaint belongs to the widget's thread; from elsewhere it is posted there.
    if (QThread::currentThread() == thread())
        update();
    else
        QMetaObject::invokeMethod(
            this, [this] { update(); }, Qt::QueuedConnection);
}

int CIconProgress::SetPos(int position) {
    int previous;
    {
        std::lock_guard lock(m_mutex);
        previous = m_nPosition;
        m_nPosition = position;
        Settle();
    }
    Repaint();
    return previous;
}

int CIconProgress::OffsetPos(int delta) {
    int previous;
    {
        std::lock_guard lock(m_mutex);
        previous = m_nPosition;
        m_nPosition += delta;
        Settle();
    }
    Repaint();
    return previous;
}

int CIconProgress::StepIt() {
    int previous;
    {
        std::lock_guard lock(m_mutex);
        previous = m_nPosition;
        m_nPosition += m_nStep;
        Settle();
    }
    Repaint();
    return previous;
}

int CIconProgress::SetStep(int step) {
    std::lock_guard lock(m_mutex);
    const int previous = m_nStep;
    m_nStep = step;
    return previous;
}

void CIconProgress::SetRange(int16_t lower, int16_t upper) { SetRange32(lower, upper); }

void CIconProgress::SetRange32(int lower, int upper) {
    {
        std::lock_guard lock(m_mutex);
        m_nLower = lower;
        m_nUpper = upper;
        Settle();
    }
    Repaint();
}

int CIconProgress::GetPos() const {
    std::lock_guard lock(m_mutex);
    return m_nPosition;
}

void CIconProgress::GetRange(int& lower, int& upper) const {
    std::lock_guard lock(m_mutex);
    lower = m_nLower;
    upper = m_nUpper;
}

int CIconProgress::Shown() const {
    std::lock_guard lock(m_mutex);
    return m_nShown;
}

void CIconProgress::SetIcon(int iconId, int fromPosition) {
    const QPixmap icon = res::LoadIconPixmap(iconId);
    for (int i = std::max(0, IconsFor(fromPosition)); i < m_arrIcons.size(); ++i)
        m_arrIcons[i] = icon;
}

QPoint CIconProgress::SlotOrigin(int i) const {
    const int across = m_nAcross + (i % 2 ? m_nZigZag : 0);
    return m_bVertical ? QPoint(across, m_nStart - i * m_nSpacing)
                       : QPoint(m_nStart + i * m_nSpacing, across);
}

void CIconProgress::paintEvent(QPaintEvent*) {
    // Drawn off screen and copied in one go.
    QPixmap surface(size());
    surface.fill(m_background);
    {
        QPainter painter(&surface);
        const int shown = std::min(Shown(), static_cast<int>(m_arrIcons.size()));
        for (int i = 0; i < shown; ++i)
            if (!m_arrIcons[i].isNull()) painter.drawPixmap(SlotOrigin(i), m_arrIcons[i]);
    }
    QPainter(this).drawPixmap(0, 0, surface);
}

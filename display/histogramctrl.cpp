#include "display/histogramctrl.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "display/fonts.h"

namespace {

constexpr int kTickMs = 15;
const QColor kBackground(0, 0, 0);
const QColor kReference(0, 130, 66);
const QColor kBar(64, 0, 128);
const QColor kNear(189, 189, 0);
const QColor kHit(10, 192, 14);
const QColor kFar(43, 0, 0);
const QColor kStrip(26, 62, 70);
const QColor kLyric(162, 162, 162);

// The lyric unit as text to draw. A unit of two bytes may cut a character of the code page 936
// text at either end (after a word of single-byte letters); what is whole is drawn.
}  // namespace

CHistogramCtrl::CHistogramCtrl()
    : m_pModel(std::make_unique<engine::CHistogramModel>(800, 110)),
      m_fontLyric(display::MakeFont(QStringLiteral("黑体"), 25, 15)) {
    m_timer.setInterval(kTickMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { DrawTick(); });
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
}

CHistogramCtrl::~CHistogramCtrl() { m_timer.stop(); }

bool CHistogramCtrl::Create(QWidget* parent, const QRect& rect, int id) {
    if (!parent || rect.width() <= 0 || rect.height() <= 0) return false;
    setParent(parent);
    setObjectName(QString::number(id));
    setGeometry(rect);
    if (m_pModel->Width() != rect.width() || m_pModel->Height() != rect.height()) {
        m_pModel = std::make_unique<engine::CHistogramModel>(rect.width(), rect.height());
        m_pModel->SetSong(m_song);
    }
    show();
    if (!CreateSurface()) return false;
    LoadLyrics();
    Restart();
    return true;
}

bool CHistogramCtrl::CreateSurface() {
    if (!m_surface.isNull()) return false;
    m_surface = QImage(width(), height(), QImage::Format_RGB32);
    if (m_surface.isNull()) return false;
    m_surface.fill(kBackground);
    // The bar (10, 10)–(20, H − 10), right and bottom edges excluded.
    m_rcBar = QRect(10, 10, 10, height() - 20);
    update();
    return true;
}

void CHistogramCtrl::DestroyDisplay() {
    m_timer.stop();
    hide();
    m_surface = QImage();
}

void CHistogramCtrl::Restart() {
    m_pModel->Restart();
    m_timer.start();
}

bool CHistogramCtrl::LoadLyrics() {
    return m_pModel->LoadLyrics(m_songSource ? m_songSource() : engine::SongRef{});
}

void CHistogramCtrl::SetSong(std::shared_ptr<const engine::CSong> song) {
    m_song = std::move(song);
    m_pModel->SetSong(m_song);
}

void CHistogramCtrl::SetPitchMarker(int y, int nearFlag, int hitFlag, int farFlag) {
    m_pModel->SetPitchMarker(y, nearFlag, hitFlag, farFlag);
}

void CHistogramCtrl::DrawTick() {
    if (m_surface.isNull() || !m_clock) return;
    const engine::HistogramFrame& frame = m_pModel->Advance(m_clock());
    Scroll(frame.nScroll);

    QPainter painter(&m_surface);
    painter.setPen(QPen(kReference, 6, Qt::SolidLine, Qt::RoundCap));
    for (const engine::HistogramDot& dot : frame.dots) painter.drawPoint(dot.nX, dot.nY);
    for (const engine::HistogramLyric& unit : frame.lyrics) DrawLyric(painter, unit);

    // The marker: far wins over hit, hit over near; with no flag the dots' 6-pixel pen.
    QPen marker(kReference, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (frame.pen) {
        case engine::MarkerPen::Near:
            marker = QPen(kNear, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            break;
        case engine::MarkerPen::Hit:
            marker = QPen(kHit, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            break;
        case engine::MarkerPen::Far:
            marker = QPen(kFar, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            break;
        case engine::MarkerPen::Reference:
            break;
    }
    painter.setPen(marker);
    const QPoint chevron[3] = {
        {20, frame.nMarkerY + 7}, {50, frame.nMarkerY}, {20, frame.nMarkerY - 7}};
    painter.drawPolyline(chevron, 3);

    if (frame.bStrip) {
        // The 20-pixel outline of (0, 0)–(20, H) covers the left 29 columns; the bar lies on it.
        painter.fillRect(QRect(0, 0, 29, m_surface.height()), kStrip);
        painter.fillRect(m_rcBar, kBar);
    }
    painter.end();
    update();
}

void CHistogramCtrl::Scroll(int pixels) {
    if (pixels <= 0) return;
    const int w = m_surface.width();
    const int h = m_surface.height();
    if (pixels >= w) {
        m_surface.fill(kBackground);
        return;
    }
    // The picture moves left; the columns that come free on the right are cleared.
    const QRgb background = kBackground.rgb();
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_surface.scanLine(y));
        std::memmove(line, line + pixels, static_cast<std::size_t>(w - pixels) * sizeof(QRgb));
        std::fill(line + (w - pixels), line + w, background);
    }
}

void CHistogramCtrl::DrawLyric(QPainter& painter, const engine::HistogramLyric& unit) {
    const QString text = QString::fromStdString(unit.strText).trimmed();
    if (text.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(m_fontLyric);
    painter.setPen(kLyric);
    // The unit's top-left corner is given; the text sits on the font's ascent below it.
    painter.drawText(QPoint(unit.nX, unit.nY + QFontMetrics(m_fontLyric).ascent()), text);
    painter.restore();
}

void CHistogramCtrl::paintEvent(QPaintEvent*) {
    if (m_surface.isNull()) return;
    QPainter painter(this);
    painter.drawImage(0, 0, m_surface);
}

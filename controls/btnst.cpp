#include "controls/btnst.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEnterEvent>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <string>

#include "platform/messages.h"
#include "res/resources.h"

namespace {

// Every pixel becomes the grey of its luminance 0.299 R + 0.587 G + 0.114 B (truncated); the
// alpha stays, so the shape does too.
QImage GreyCopy(const QImage& source) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const int grey = static_cast<int>(qRed(pixel) * 0.299 + qGreen(pixel) * 0.587 +
                                              qBlue(pixel) * 0.114);
            line[x] = qRgba(grey, grey, grey, qAlpha(pixel));
        }
    }
    return image;
}

// The icon with that id at its own size: the system size when the icon has a picture of that
// size (or says nothing about its sizes), else its largest picture.
QPixmap IconAtOwnSize(int id) {
    const QIcon icon = res::LoadIcon(id);
    if (icon.isNull()) {
        platform::Trace("CButtonST: no icon " + std::to_string(id) + "\n");
        return QPixmap();
    }
    const QList<QSize> sizes = icon.availableSizes();
    QSize size(res::kSystemIconSize, res::kSystemIconSize);
    if (!sizes.isEmpty() && !sizes.contains(size)) {
        size = sizes.first();
        for (const QSize& s : sizes)
            if (s.width() * s.height() > size.width() * size.height()) size = s;
    }
    return icon.pixmap(size);
}

QPixmap BitmapResource(int id) {
    QPixmap bitmap = res::LoadBitmap(id);
    if (bitmap.isNull()) platform::Trace("CButtonST: no bitmap " + std::to_string(id) + "\n");
    return bitmap;
}

// The size a picture takes on the button, whatever its pixel density.
QSize LogicalSize(const QPixmap& picture) { return picture.deviceIndependentSize().toSize(); }

bool OpenWithDesktop(const QUrl& url) { return QDesktopServices::openUrl(url); }

// One-pixel lines along the edges of rect, the way a 3-D rectangle is drawn: the top and left
// lines stop one pixel short of the far corner, which belongs to the bottom and right lines.
void Draw3dRect(QPainter& painter, const QRect& rect, const QColor& topLeft,
                const QColor& bottomRight) {
    const int x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    painter.fillRect(QRect(x, y, w - 1, 1), topLeft);
    painter.fillRect(QRect(x, y, 1, h - 1), topLeft);
    painter.fillRect(QRect(x + w - 1, y, 1, h), bottomRight);
    painter.fillRect(QRect(x, y + h - 1, w, 1), bottomRight);
}

void FrameRect(QPainter& painter, const QRect& rect, const QColor& colour) {
    Draw3dRect(painter, rect, colour, colour);
}

}  // namespace

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent), m_linkOpener(OpenWithDesktop) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // every paint covers the whole button
    setMouseTracking(true);
    SetDefaultColours(false);
    // Connected before anyone else can be, so the button's own reaction comes first.
    connect(this, &QAbstractButton::clicked, this, [this] { OnClicked(); });
}

CButtonST::~CButtonST() = default;

void CButtonST::AttachStyle(unsigned style) {
    const unsigned kind = style & kStyleTypeMask;
    m_bIsCheckBox = (kind & kStyleCheckBox) != 0;
    setCheckable(m_bIsCheckBox);
    setDefault(kind == kStyleDefPushButton);
    update();  // from now on the button draws itself whatever its kind
}

void CButtonST::FreeImages() {
    for (IconSlot& slot : m_aIcons) slot = IconSlot();
    for (BitmapSlot& slot : m_aBitmaps) slot = BitmapSlot();
}

void CButtonST::Repaint(bool repaint) {
    if (repaint) update();
}

void CButtonST::LoadIcons(int inId, int outId) {
    const QPixmap in = IconAtOwnSize(inId);
    QPixmap out;
    if (outId == kAutoGrey) {
        if (!in.isNull()) out = QPixmap::fromImage(GreyCopy(in.toImage()));
    } else if (outId != 0) {
        out = IconAtOwnSize(outId);
    }
    SetIcons(in, out);
}

void CButtonST::SetIcons(const QPixmap& in, const QPixmap& out) {
    FreeImages();
    if (!in.isNull()) {
        m_aIcons[0] = {in, LogicalSize(in)};
        if (!out.isNull()) m_aIcons[1] = {out, LogicalSize(out)};
    }
    update();
}

void CButtonST::LoadBitmapImages(int inId, const QColor& inTransparent, int outId,
                                 const QColor& outTransparent) {
    SetBitmaps(BitmapResource(inId), inTransparent, outId != 0 ? BitmapResource(outId) : QPixmap(),
               outTransparent);
}

void CButtonST::SetBitmaps(const QPixmap& in, const QColor& inTransparent, const QPixmap& out,
                           const QColor& outTransparent) {
    FreeImages();
    const auto slot = [](const QPixmap& bitmap, const QColor& transparent) {
        BitmapSlot made{bitmap, LogicalSize(bitmap), QBitmap()};
        if (transparent.isValid()) made.mask = bitmap.createMaskFromColor(transparent);
        return made;
    };
    if (!in.isNull()) {
        m_aBitmaps[0] = slot(in, inTransparent);
        if (!out.isNull()) m_aBitmaps[1] = slot(out, outTransparent);
    }
    update();
}

void CButtonST::SetTransparent(bool repaint) {
    m_bDrawTransparent = true;
    m_background = QPixmap();
    Repaint(repaint);
}

void CButtonST::ShowBorder(bool show, bool repaint) {
    m_bShowBorder = show;
    Repaint(repaint);
}

void CButtonST::SetFlatStyle(bool flat, bool repaint) {
    m_bIsFlat = flat;
    Repaint(repaint);
}

void CButtonST::SetFocusFrame(bool draw, bool repaint) {
    m_bDrawFlatFocus = draw;
    Repaint(repaint);
}

void CButtonST::SetImageAlignment(int alignment, bool repaint) {
    if (alignment != kAlignLeft && alignment != kAlignTop && alignment != kAlignRight) return;
    m_nAlign = alignment;
    Repaint(repaint);
}

void CButtonST::SetStateColour(int state, const QColor& background, const QColor& foreground,
                               bool repaint) {
    if (state < kColourIn || state > kColourFocus) return;
    m_aColours[state] = {background, foreground};
    Repaint(repaint);
}

void CButtonST::SetDefaultColours(bool repaint) {
    const QColor face = palette().color(QPalette::Button);
    const QColor text = palette().color(QPalette::ButtonText);
    for (ColourPair& pair : m_aColours) pair = {face, text};
    Repaint(repaint);
}

void CButtonST::SetGreyDisabledBitmap(bool grey, bool repaint) {
    m_bGreyDisabled = grey;
    Repaint(repaint);
}

void CButtonST::SetLinkTarget(const QString& target) {
    m_strLinkTarget = target.left(kLinkTargetSize - 1);
}

void CButtonST::SetHoverCursor(int cursorId) {
    if (cursorId == 0)
        unsetCursor();
    else
        setCursor(res::LoadCursor(cursorId));
}

void CButtonST::SetTooltipText(const QString& text) { setToolTip(text); }

void CButtonST::SetCheck(bool checked, bool repaint) {
    if (!m_bIsCheckBox) return;
    setChecked(checked);
    Repaint(repaint);
}

bool CButtonST::GetCheck() const { return m_bIsCheckBox && isChecked(); }

void CButtonST::SetLinkOpener(LinkOpener opener) {
    m_linkOpener = opener ? std::move(opener) : LinkOpener(OpenWithDesktop);
}

void CButtonST::OnClicked() {
    // A check box has been toggled by now; it only needs drawing again.
    if (m_bIsCheckBox) {
        update();
        return;
    }
    if (m_strLinkTarget.isEmpty()) return;
    // A document relative to the working directory, or an address.
    const QUrl url = QUrl::fromUserInput(m_strLinkTarget, QDir::currentPath());
    if (!m_linkOpener(url))
        platform::Trace("CButtonST: could not open " + m_strLinkTarget.toStdString() + "\n");
}

void CButtonST::TrackHover(const QPointF& position, bool leftButtonHeld) {
    if (!m_bIsFlat || (leftButtonHeld && !m_bIsHover)) return;
    const bool over = rect().contains(position.toPoint());
    const bool active =
        m_bAlwaysTrack || QGuiApplication::applicationState() == Qt::ApplicationActive;
    if (!over || !active) {
        CancelHover();
    } else if (!m_bIsHover) {
        m_bIsHover = true;
        update();  // Qt reports the leave by itself
    }
}

void CButtonST::CancelHover() {
    if (!m_bIsFlat) return;
    m_bIsHover = false;
    update();
}

void CButtonST::enterEvent(QEnterEvent* event) {
    TrackHover(event->position(), QApplication::mouseButtons() & Qt::LeftButton);
    QPushButton::enterEvent(event);
}

void CButtonST::mouseMoveEvent(QMouseEvent* event) {
    TrackHover(event->position(), event->buttons() & Qt::LeftButton);
    QPushButton::mouseMoveEvent(event);
}

void CButtonST::leaveEvent(QEvent* event) {
    CancelHover();
    QPushButton::leaveEvent(event);
}

void CButtonST::focusOutEvent(QFocusEvent* event) {
    CancelHover();
    QPushButton::focusOutEvent(event);
}

void CButtonST::changeEvent(QEvent* event) {
    if ((event->type() == QEvent::ActivationChange && !isActiveWindow()) ||
        (event->type() == QEvent::EnabledChange && !isEnabled()))
        CancelHover();
    QPushButton::changeEvent(event);
}

void CButtonST::CaptureBackground() {
    m_background = QPixmap(size());
    m_background.fill(palette().color(QPalette::Button));
    QWidget* parent = parentWidget();
    if (!parent) return;
    // The parent's own picture under the button, then the siblings stacked below the button as
    // they are drawn there. The button itself stays out: it is being painted.
    const QRect place = geometry();
    parent->render(&m_background, QPoint(), QRegion(place), QWidget::DrawWindowBackground);
    for (QObject* child : parent->children()) {
        if (child == this) break;  // the rest lie above the button
        auto* sibling = qobject_cast<QWidget*>(child);
        if (!sibling || sibling->isWindow() || sibling->isHidden()) continue;
        const QRect overlap = place.intersected(sibling->geometry());
        if (overlap.isEmpty()) continue;
        sibling->render(&m_background, overlap.topLeft() - place.topLeft(),
                        QRegion(overlap.translated(-sibling->pos())),
                        QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
}

void CButtonST::FillStateBackground(QPainter& painter, const QRect& rect) {
    const int state = m_bIsHover || m_bIsPressed ? kColourIn
                      : m_bIsFocused             ? kColourFocus
                                                 : kColourOut;
    painter.fillRect(rect, m_aColours[state].background);
}

void CButtonST::PaintBorder(QPainter& painter, const QRect& rect) {
    const QColor highlight = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    if (m_bIsPressed)
        Draw3dRect(painter, rect, shadow, highlight);
    else
        Draw3dRect(painter, rect, highlight, shadow);
}

QRect CButtonST::PlaceImage(const QRect& area, bool hasText, QRect& text, int width,
                            int height) const {
    int x = area.left() + (area.width() - width) / 2;
    int y = area.top() + (area.height() - height) / 2;
    switch (m_nAlign) {
        case kAlignLeft:
            x = area.left() + 3;
            text.setLeft(x + width);
            break;
        case kAlignTop:
            y = area.top() + 3;
            text.setTop(y + height);
            break;
        case kAlignRight:
            x = area.left() + area.width() - 3 - width;
            y = area.top() + 3;
            text.setRight(x - 1);
            break;
    }
    if (!hasText) {
        x = area.left() + (area.width() - width) / 2;
        if (m_nAlign != kAlignRight) y = area.top() + (area.height() - height) / 2;
    }
    if (m_bIsPressed && !m_bIsCheckBox) {
        ++x;
        ++y;
    }
    return QRect(x, y, width, height);
}

void CButtonST::DrawImage(QPainter& painter, const QRect& area, bool hasText, QRect& text) {
    // The in image while pressed (a check box: checked or pressed) or hovered, else the out
    // image when there is one.
    const bool in = m_bIsPressed || m_bIsHover;
    QPixmap image;
    QSize imageSize;
    bool grey = m_bIsDisabled;
    if (!m_aIcons[0].icon.isNull()) {
        const IconSlot& slot = in || m_aIcons[1].icon.isNull() ? m_aIcons[0] : m_aIcons[1];
        image = slot.icon;
        imageSize = slot.size;
    } else if (!m_aBitmaps[0].bitmap.isNull()) {
        const BitmapSlot& slot =
            in || m_aBitmaps[1].bitmap.isNull() ? m_aBitmaps[0] : m_aBitmaps[1];
        image = slot.bitmap;
        if (!slot.mask.isNull()) image.setMask(slot.mask);
        imageSize = slot.size;
        grey = grey && m_bGreyDisabled;
    } else {
        return;
    }
    const QRect place = PlaceImage(area, hasText, text, imageSize.width(), imageSize.height());
    if (grey)
        painter.drawImage(place, GreyCopy(image.toImage()));
    else
        painter.drawPixmap(place, image);
}

void CButtonST::DrawText(QPainter& painter, const QRect& text) {
    const QRect rect = m_bIsPressed && !m_bIsCheckBox ? text.translated(1, 1) : text;
    const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    painter.setFont(font());
    if (m_bIsDisabled) {
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(rect.translated(1, 1), flags, QPushButton::text());
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(rect, flags, QPushButton::text());
        return;
    }
    const int state = m_bIsHover || m_bIsPressed ? kColourIn : kColourOut;
    painter.setPen(m_aColours[state].foreground);
    painter.drawText(rect, flags, QPushButton::text());
}

void CButtonST::paintEvent(QPaintEvent*) {
    m_bIsPressed = isDown() || (m_bIsCheckBox && isChecked());
    m_bIsFocused = hasFocus();
    m_bIsDisabled = !isEnabled();

    // Drawn off screen and copied in one go.
    QPixmap surface(size());
    surface.fill(palette().color(QPalette::Button));
    {
        QPainter painter(&surface);
        QRect area = rect();
        if (!m_bIsFlat && (m_bIsFocused || isDefault())) {
            FrameRect(painter, area, Qt::black);
            area.adjust(1, 1, -1, -1);
        }

        if (m_bDrawTransparent) {
            if (m_background.isNull()) CaptureBackground();
            painter.drawPixmap(area, m_background, area);
        } else {
            FillStateBackground(painter, area);
        }

        const QPalette& colours = palette();
        if (m_bIsPressed) {
            if (!m_bIsFlat)
                FrameRect(painter, area, colours.color(QPalette::Dark));
            else if (m_bShowBorder)
                PaintBorder(painter, area);
        } else if (!m_bIsFlat) {
            Draw3dRect(painter, area, colours.color(QPalette::Light),
                       colours.color(QPalette::Shadow));
            Draw3dRect(painter, area.adjusted(1, 1, -1, -1), colours.color(QPalette::Midlight),
                       colours.color(QPalette::Dark));
        } else if (m_bIsHover && m_bShowBorder) {
            PaintBorder(painter, area);
        }

        const bool hasText = !text().isEmpty();
        QRect textRect = area;
        DrawImage(painter, area, hasText, textRect);
        if (hasText) DrawText(painter, textRect);

        if (m_bIsFocused && (!m_bIsFlat || m_bDrawFlatFocus)) {
            QPen dotted(colours.color(QPalette::ButtonText), 0, Qt::DotLine);
            painter.setPen(dotted);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(area.adjusted(3, 3, -4, -4));
        }
    }
    QPainter(this).drawPixmap(0, 0, surface);
}

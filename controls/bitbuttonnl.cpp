#include "controls/bitbuttonnl.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include "platform/soundplayer.h"
#include "res/resources.h"

CBitButtonNL::CBitButtonNL(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    m_playSound = [](const QString& file, bool wait) {
        platform::PlaySoundFile(file.toStdString(), wait);
    };
    m_captionFont = parent ? parent->font() : QApplication::font();
}

void CBitButtonNL::Attach() {
    // A default push button is drawn by us like any other; it only remembers what it was.
    if (isDefault() || autoDefault()) {
        m_bDefaultButton = isDefault();
        setDefault(false);
        setAutoDefault(false);
    }
    m_captionFont = parentWidget() ? parentWidget()->font() : QApplication::font();
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);  // hover follows the mouse's movement
    update();
}

bool CBitButtonNL::LoadImages(int normal, int pressed, int hover, int disabled) {
    // 0 means none; a bitmap asked for that cannot be loaded releases them all.
    bool loaded = true;
    auto load = [&loaded](int id) {
        if (!id) return QPixmap();
        QPixmap image = res::LoadBitmap(id);
        loaded = loaded && !image.isNull();
        return image;
    };
    const QPixmap images[4] = {load(normal), load(pressed), load(hover), load(disabled)};
    if (!loaded) return SetImages(QPixmap());
    return SetImages(images[0], images[1], images[2], images[3]);
}

bool CBitButtonNL::SetImages(const QPixmap& normal, const QPixmap& pressed, const QPixmap& hover,
                             const QPixmap& disabled) {
    for (QPixmap& image : m_images) image = QPixmap();
    if (normal.isNull()) {
        update();
        return false;
    }
    m_images[kNormal] = normal;
    m_images[kPressed] = pressed;
    m_images[kHover] = hover;
    m_images[kDisabled] = disabled;
    update();
    return true;
}

void CBitButtonNL::FitToImage() {
    if (m_images[kNormal].isNull()) return;
    resize(m_images[kNormal].size());
}

void CBitButtonNL::ShowText(bool show, bool repaint) {
    m_bShowText = show;
    if (repaint) update();
}

void CBitButtonNL::ShowFocus(bool show, bool repaint) {
    m_bShowFocus = show;
    if (repaint) update();
}

void CBitButtonNL::SetTextColours(const QColor& normal, const QColor& pressed, const QColor& hover,
                                  bool repaint) {
    m_textColours[0] = normal;
    m_textColours[1] = pressed;
    m_textColours[2] = hover;
    if (repaint) update();
}

void CBitButtonNL::SetTextAlignment(int alignment, bool repaint) {
    if (alignment < 0 || alignment > 2) return;
    m_nTextAlign = alignment;
    if (repaint) update();
}

void CBitButtonNL::SetTextShadow(bool on, const QColor& colour, int dx, int dy, bool repaint) {
    m_bTextShadow = on;
    m_shadowColour = colour;
    m_shadowOffset = QPoint(dx, dy);
    if (repaint) update();
}

void CBitButtonNL::SetTextShadowColour(const QColor& colour, bool repaint) {
    m_shadowColour = colour;
    if (repaint) update();
}

void CBitButtonNL::SetEmbossDisabled(bool emboss, bool repaint) {
    m_bEmbossDisabled = emboss;
    if (repaint) update();
}

void CBitButtonNL::SetFocusInset(int x, int y, bool repaint) {
    m_focusInset = QPoint(x, y);
    if (repaint) update();
}

void CBitButtonNL::SetFontBold(bool bold, bool repaint) {
    m_captionFont.setWeight(bold ? QFont::Bold : QFont::Normal);
    if (repaint) update();
}

void CBitButtonNL::SetFontItalic(bool italic, bool repaint) {
    m_captionFont.setItalic(italic);
    if (repaint) update();
}

void CBitButtonNL::SetFontUnderline(bool underline, bool repaint) {
    m_captionFont.setUnderline(underline);
    if (repaint) update();
}

void CBitButtonNL::SetFontSize(int points, bool repaint) {
    m_captionFont.setPointSize(points);
    if (repaint) update();
}

void CBitButtonNL::SetFontFace(const QString& face, bool repaint) {
    m_captionFont.setFamily(face);
    if (repaint) update();
}

void CBitButtonNL::SetCaptionFont(const QFont& font, bool repaint) {
    m_captionFont = font;
    if (repaint) update();
}

void CBitButtonNL::SetButtonSound(const QString& file, int which, bool async) {
    if (which != kHoverSound && which != kClickSound) return;
    m_sounds[which] = file.left(260);
    m_soundAsync[which] = async;
}

QString CBitButtonNL::ButtonSound(int which) const {
    return which == kHoverSound || which == kClickSound ? m_sounds[which] : QString();
}

void CBitButtonNL::SetHoverCursor(const std::optional<QCursor>& cursor, bool repaint) {
    m_hoverCursor = cursor;
    if (cursor)
        setCursor(*cursor);
    else
        unsetCursor();
    if (repaint) update();
}

QPixmap CBitButtonNL::Greyed(const QPixmap& picture) {
    // The desktop's disabled look: grey by luminance, lightened towards the face colour.
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int grey = (qGray(p) + 2 * 192) / 3;
            line[x] = qRgba(grey, grey, grey, qAlpha(p));
        }
    }
    return QPixmap::fromImage(image);
}

void CBitButtonNL::PaintImage(QPainter& painter, bool, const QRect& item, bool pressed,
                              bool disabled) {
    if (m_images[kNormal].isNull()) return;
    QPoint at = item.topLeft();
    QPixmap image = m_images[kNormal];
    if (disabled) {
        image = m_images[kDisabled].isNull() ? Greyed(m_images[kNormal]) : m_images[kDisabled];
    } else if (pressed) {
        if (m_images[kPressed].isNull())
            at += m_pressOffset;
        else
            image = m_images[kPressed];
    } else if (m_bHover && !m_images[kHover].isNull()) {
        image = m_images[kHover];
    }
    painter.drawPixmap(at, image);
}

void CBitButtonNL::PaintText(QPainter& painter, const QString& text, const QRect& item,
                             QRect textRect, bool pressed, bool disabled) {
    (void)item;
    if (pressed) textRect.translate(m_pressOffset);
    painter.save();
    painter.setFont(m_captionFont);
    // Measured word-wrapped, then placed at a fifth, four fifths or half of the free width.
    const QRect measured =
        painter.boundingRect(textRect, Qt::AlignHCenter | Qt::TextWordWrap, text);
    const int freeWidth = textRect.width() - measured.width();
    const int freeHeight = textRect.height() - measured.height();
    const int x = textRect.left() + (m_nTextAlign == 0   ? freeWidth / 5
                                     : m_nTextAlign == 1 ? freeWidth * 4 / 5
                                                         : freeWidth / 2);
    const int y = textRect.top() + freeHeight / 2 - 1;
    const QRect place(x, y, measured.width(), measured.height());
    const int flags = Qt::AlignHCenter | Qt::TextWordWrap;
    if (disabled && m_bEmbossDisabled) {
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(place.translated(1, 1), flags, text);
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(place, flags, text);
    } else if (pressed) {
        painter.setPen(m_textColours[1]);
        painter.drawText(place, flags, text);
    } else {
        if (m_bTextShadow) {
            painter.setPen(m_shadowColour);
            painter.drawText(place.translated(m_shadowOffset), flags, text);
        }
        painter.setPen(m_bHover ? m_textColours[2] : m_textColours[0]);
        painter.drawText(place, flags, text);
    }
    painter.restore();
}

void CBitButtonNL::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    const bool pressed = isDown();
    const bool disabled = !isEnabled();
    const QRect item = rect();
    const bool hasText = m_bShowText && !text().isEmpty();
    PaintImage(painter, hasText, item, pressed, disabled);
    if (hasText) PaintText(painter, text(), item, item, pressed, disabled);
    if (m_bShowFocus && hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect =
            item.adjusted(m_focusInset.x(), m_focusInset.y(), -m_focusInset.x(), -m_focusInset.y());
        if (pressed) focus.rect.translate(m_pressOffset);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

void CBitButtonNL::SetHover(bool hover) {
    if (m_bHover == hover) return;
    m_bHover = hover;
    update();
    if (hover) Play(kHoverSound);
}

void CBitButtonNL::enterEvent(QEnterEvent* event) {
    if (!(QApplication::mouseButtons() & Qt::LeftButton) || m_bHover) SetHover(true);
    QPushButton::enterEvent(event);
}

void CBitButtonNL::mouseMoveEvent(QMouseEvent* event) {
    // Over the button with the left button up (or already hovered): hovered; elsewhere (the
    // mouse is held and dragged out) not.
    if (!rect().contains(event->position().toPoint()))
        SetHover(false);
    else if (!(event->buttons() & Qt::LeftButton) || m_bHover)
        SetHover(true);
    QPushButton::mouseMoveEvent(event);
}

void CBitButtonNL::leaveEvent(QEvent* event) {
    SetHover(false);
    QPushButton::leaveEvent(event);
}

void CBitButtonNL::focusOutEvent(QFocusEvent* event) {
    SetHover(false);
    QPushButton::focusOutEvent(event);
}

void CBitButtonNL::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    Play(kClickSound);
    QPushButton::mousePressEvent(event);
}

void CBitButtonNL::Play(int which) {
    if (!m_sounds[which].isEmpty() && m_playSound)
        m_playSound(m_sounds[which], !m_soundAsync[which]);
}

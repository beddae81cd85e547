// A push button that draws itself: an icon or a bitmap (optionally with text), flat with a hover
// highlight, and when asked, over a copy of its parent's background so that it looks transparent
// on a skinned dialog. The dialogs' buttons are all set up the same way: one icon, no text, no
// border, transparent.
//
// Clicks reach the parent as ordinary clicks (the clicked signal); the button's own reaction, a
// check box toggling or a link target being opened, happens first.
#pragma once

#include <QBitmap>
#include <QColor>
#include <QPixmap>
#include <QPushButton>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>

#include "controls/bcmenu.h"

class QImage;
class QPainter;

class CButtonST : public QPushButton {
public:
    // The low five bits of a dialog control's style.
    static constexpr unsigned kStyleTypeMask = 0x1f;
    static constexpr unsigned kStylePushButton = 0;
    static constexpr unsigned kStyleDefPushButton = 1;
    static constexpr unsigned kStyleCheckBox = 2;
    static constexpr unsigned kStyleAutoCheckBox = 3;

    // The colour pairs, one per state.
    enum { kColourIn = 0, kColourOut = 1, kColourFocus = 2 };
    // Where the image goes relative to the text.
    enum { kAlignLeft = 0, kAlignTop = 1, kAlignRight = 2 };
    // As the out icon of LoadIcons: a grey copy of the in icon.
    static constexpr int kAutoGrey = -2;
    // The link target holds at most this many characters, the terminator included.
    static constexpr int kLinkTargetSize = 260;

    // Opens a document or address; true when it could be opened.
    using LinkOpener = std::function<bool(const QUrl&)>;

    explicit CButtonST(QWidget* parent = nullptr);
    ~CButtonST() override;

    // Takes the kind of the dialog control the button stands for: a style with the bit of value 2
    // makes a check box, the default push button kind makes the default button.
    void AttachStyle(unsigned style);

    // Icons from the resources at their own size. An out id of 0 means no second icon, kAutoGrey a
    // grey copy of the first.
    void LoadIcons(int inId, int outId);
    // Slot 0 is shown when the button is pressed or hovered, slot 1 (when there is one) otherwise.
    // Any previous images are released; a null in icon leaves the button without images.
    void SetIcons(const QPixmap& in, const QPixmap& out = QPixmap());
    // Bitmaps from the resources, each drawn through a mask of its transparent colour; an out id
    // of 0 means no second bitmap.
    void LoadBitmapImages(int inId, const QColor& inTransparent, int outId,
                          const QColor& outTransparent);
    void SetBitmaps(const QPixmap& in, const QColor& inTransparent, const QPixmap& out = QPixmap(),
                    const QColor& outTransparent = QColor());

    // Switches transparency on (for good) and throws away the captured background, so that the
    // next paint captures it again from the parent.
    void SetTransparent(bool repaint = true);
    void ShowBorder(bool show, bool repaint = true);
    void SetFlatStyle(bool flat, bool repaint = true);
    // Draw the focus rectangle on a flat button too.
    void SetFocusFrame(bool draw, bool repaint = true);
    // kAlignLeft, kAlignTop or kAlignRight; other values are ignored.
    void SetImageAlignment(int alignment, bool repaint = true);
    // The background and foreground of kColourIn, kColourOut or kColourFocus.
    void SetStateColour(int state, const QColor& background, const QColor& foreground,
                        bool repaint = true);
    // Every state back to the button-face background and the button-text foreground.
    void SetDefaultColours(bool repaint = true);
    // Whether a disabled button draws its bitmap grey (icons are always drawn grey).
    void SetGreyDisabledBitmap(bool grey, bool repaint = true);
    // Whether hovering is tracked also while the application is not active.
    void SetAlwaysTrack(bool always) { m_bAlwaysTrack = always; }
    // Opened on a click; longer targets are cut to fit kLinkTargetSize.
    void SetLinkTarget(const QString& target);
    // The cursor over the button, from the resources; 0 restores the default handling.
    void SetHoverCursor(int cursorId);
    void SetTooltipText(const QString& text);

    // For check boxes; a push button stays unchecked.
    void SetCheck(bool checked, bool repaint = true);
    bool GetCheck() const;

    // Replaces how this button opens its link target (null restores the desktop's opener).
    void SetLinkOpener(LinkOpener opener);

    bool IsHover() const { return m_bIsHover; }
    bool IsFlat() const { return m_bIsFlat; }
    bool IsTransparent() const { return m_bDrawTransparent; }
    bool IsCheckBox() const { return m_bIsCheckBox; }
    bool HasBackgroundCopy() const { return !m_background.isNull(); }
    const QString& LinkTarget() const { return m_strLinkTarget; }
    const BCMenu& Menu() const { return m_menu; }

protected:
    // The background of the state: in-state when hovered or pressed, else the focused colour when
    // focused, else out-state.
    virtual void FillStateBackground(QPainter& painter, const QRect& rect);
    // The flat border: a one-pixel 3-D rectangle, sunken when pressed, raised otherwise.
    virtual void PaintBorder(QPainter& painter, const QRect& rect);

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

    bool m_bIsPressed = false;
    bool m_bIsFocused = false;
    bool m_bIsDisabled = false;

private:
    struct IconSlot {
        QPixmap icon;
        QSize size;
    };
    struct BitmapSlot {
        QPixmap bitmap;
        QSize size;
        QBitmap mask;
    };
    struct ColourPair {
        QColor background;
        QColor foreground;
    };

    void FreeImages();
    void Repaint(bool repaint);
    void CaptureBackground();
    void TrackHover(const QPointF& position, bool leftButtonHeld);
    void CancelHover();
    void OnClicked();
    // Where the image goes inside area; text is narrowed to the room the image leaves.
    QRect PlaceImage(const QRect& area, bool hasText, QRect& text, int width, int height) const;
    void DrawImage(QPainter& painter, const QRect& area, bool hasText, QRect& text);
    void DrawText(QPainter& painter, const QRect& text);

    bool m_bGreyDisabled = true;
    bool m_bIsFlat = true;
    bool m_bIsHover = false;
    bool m_bDrawTransparent = false;
    bool m_bIsCheckBox = false;
    int m_nAlign = kAlignLeft;
    bool m_bShowBorder = true;
    bool m_bDrawFlatFocus = false;
    bool m_bAlwaysTrack = true;
    ColourPair m_aColours[3];
    BCMenu m_menu;
    QString m_strLinkTarget;
    LinkOpener m_linkOpener;
    QPixmap m_background;
    IconSlot m_aIcons[2];
    BitmapSlot m_aBitmaps[2];
};

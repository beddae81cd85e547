// A push button painted from bitmaps: normal, and optionally pressed, hover and disabled, with
// an optional caption over the picture (aligned, embossed when disabled, with an optional
// shadow), optional sounds on hover and click, and a hover cursor.
#pragma once

#include <QColor>
#include <QCursor>
#include <QPixmap>
#include <QPushButton>
#include <QString>

#include <functional>
#include <optional>

class CBitButtonNL : public QPushButton {
public:
    enum ImageSlot { kNormal = 0, kPressed = 1, kHover = 2, kDisabled = 3 };
    enum SoundSlot { kHoverSound = 0, kClickSound = 1 };

    explicit CBitButtonNL(const QString& caption = QString(), QWidget* parent = nullptr);

    // Takes over a dialog push button: a default button becomes an ordinary one that remembers
    // it was the default; the caption font comes from the parent.
    void Attach();

    // Loads bitmaps by resource id (0: none) and sets them.
    bool LoadImages(int normal, int pressed = 0, int hover = 0, int disabled = 0);
    // The normal picture is required; with it missing every picture is released.
    bool SetImages(const QPixmap& normal, const QPixmap& pressed = QPixmap(),
                   const QPixmap& hover = QPixmap(), const QPixmap& disabled = QPixmap());
    // Makes the button the normal picture's size, where it is.
    void FitToImage();

    void ShowText(bool show = true, bool repaint = true);
    void ShowFocus(bool show = true, bool repaint = true);
    void SetTextColours(const QColor& normal, const QColor& pressed, const QColor& hover,
                        bool repaint = true);
    // 0 left, 1 right, 2 centred; anything else is ignored.
    void SetTextAlignment(int alignment, bool repaint = true);
    int TextAlignment() const { return m_nTextAlign; }
    void SetTextShadow(bool on, const QColor& colour, int dx = 3, int dy = 2, bool repaint = true);
    void SetTextShadowColour(const QColor& colour, bool repaint = true);
    void SetEmbossDisabled(bool emboss = true, bool repaint = true);
    void SetFocusInset(int x, int y, bool repaint = true);
    void SetFontBold(bool bold, bool repaint = true);
    void SetFontItalic(bool italic, bool repaint = true);
    void SetFontUnderline(bool underline, bool repaint = true);
    void SetFontSize(int points, bool repaint = true);
    void SetFontFace(const QString& face, bool repaint = true);
    void SetCaptionFont(const QFont& font, bool repaint = true);
    // A sound file for hover (0) or click (1); an empty name clears it.
    void SetButtonSound(const QString& file, int which, bool async = true);
    QString ButtonSound(int which) const;
    void SetHoverCursor(const std::optional<QCursor>& cursor, bool repaint = true);

    // Stand-in for the sound player, for tests: receives the file and whether to wait for it.
    void SetSoundPlayer(std::function<void(const QString&, bool)> player) {
        m_playSound = std::move(player);
    }

    bool IsHovered() const { return m_bHover; }
    bool WasDefault() const { return m_bDefaultButton; }
    const QPixmap& Image(int slot) const { return m_images[slot]; }

protected:
    // The picture for the state (step 2 of drawing) and the caption (step 3).
    virtual void PaintImage(QPainter& painter, bool hasText, const QRect& item, bool pressed,
                            bool disabled);
    virtual void PaintText(QPainter& painter, const QString& text, const QRect& item,
                           QRect textRect, bool pressed, bool disabled);

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void SetHover(bool hover);
    void Play(int which);
    static QPixmap Greyed(const QPixmap& picture);

    bool m_bShowFocus = false;
    bool m_bShowText = false;
    bool m_bHover = false;
    bool m_bDefaultButton = false;
    bool m_bEmbossDisabled = true;
    QPoint m_focusInset{3, 3};
    QPoint m_pressOffset{1, 1};
    QPixmap m_images[4];
    QColor m_textColours[3]{Qt::black, Qt::black, Qt::black};  // normal, pressed, hover
    int m_nTextAlign = 2;
    bool m_bTextShadow = false;
    QColor m_shadowColour{0, 0, 0};
    QPoint m_shadowOffset{3, 2};
    QFont m_captionFont;
    QString m_sounds[2];
    bool m_soundAsync[2] = {true, true};
    std::optional<QCursor> m_hoverCursor;
    std::function<void(const QString&, bool)> m_playSound;
};

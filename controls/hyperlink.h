// A static text that is a link: underlined, a hand cursor and a tooltip with the target, hover
// checked every 100 ms, the visited colour once clicked, and a click that opens the target with
// the desktop's opener, or else with the browser command.
#pragma once

#include <QColor>
#include <QCursor>
#include <QLabel>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class CHyperLink : public QLabel {
public:
    explicit CHyperLink(const QString& text = QString(), QWidget* parent = nullptr);

    // Makes the control a link once it has its text, alignment and place: the target defaults
    // to the text and the text to the target, the underlined font, the fit, the cursor, the
    // tooltip and the 100 ms hover timer.
    void Attach();

    void SetTarget(const QString& target);
    QString GetTarget() const { return m_strURL; }
    // An invalid hover colour stands for the desktop's highlight colour.
    void SetLinkColours(const QColor& link, const QColor& visited, const QColor& hover = QColor());
    QColor GetLinkColour() const { return m_crLinkColour; }
    QColor GetVisitedColour() const { return m_crVisitedColour; }
    QColor GetHoverColour() const { return m_crHoverColour; }
    void MarkVisited(bool visited = true);
    bool GetVisited() const { return m_bVisited; }
    void ShowUnderline(bool underline = true);
    bool GetUnderline() const { return m_bUnderline; }
    void SetAutoFit(bool autoFit = true);
    bool GetAutoFit() const { return m_bAdjustToFit; }
    // With no cursor the hand comes back.
    void SetPointerCursor(const std::optional<QCursor>& cursor);
    bool IsHovered() const { return m_bOverControl; }

    // The colour the text is drawn in now: hover, else visited, else link.
    QColor TextColour() const;

    // Opens a document or address: the desktop's opener first, then the browser command with
    // the target appended. Returns whether either started.
    bool OpenTarget(const QString& target);
    // The browser command cut before its placeholder: at "\"%1\"" if it has one, else at "%1",
    // else whole.
    static QString CutBrowserCommand(const QString& command);

    // Stand-ins for the desktop, for tests: the opener of addresses and the starter of commands.
    void SetOpeners(std::function<bool(const QString&)> open,
                    std::function<bool(const QString&)> start);
    // The browser command: $BROWSER, else the system's x-www-browser.
    static QString BrowserCommand();

    // The hover check the timer runs.
    void CheckHover();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void MakeFont();
    void FitToText();

    QColor m_crLinkColour{0, 0, 255};
    QColor m_crVisitedColour{85, 26, 139};
    QColor m_crHoverColour{255, 0, 0};
    bool m_bOverControl = false;
    bool m_bVisited = false;
    bool m_bUnderline = true;
    bool m_bAdjustToFit = true;
    bool m_bAttached = false;
    QString m_strURL;
    std::optional<QCursor> m_linkCursor;
    QTimer m_timer;
    std::function<bool(const QString&)> m_open;
    std::function<bool(const QString&)> m_start;
};

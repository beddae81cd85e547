// A progress bar drawn as a row (or, in a control at least as tall as it is wide, a column from
// the bottom up) of icons: the position within the range decides how many slots, from the start,
// show their icon. It takes the place of a placeholder control of its parent.
//
// SetPos, OffsetPos, StepIt, SetRange and GetPos may be called from any thread (the playback
// poller moves the time bar); the repaint always happens on the widget's own thread.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QVector>
#include <QWidget>

#include <mutex>

class CIconProgress : public QWidget {
public:
    CIconProgress();

    // Takes over the parent's control with that id (its object name): its place, size, object
    // name and visibility; the control itself is hidden. Loads the icon, lays out the slots.
    void SubclassCreate(int controlId, QWidget* parent, int iconId, int spacing,
                        const QColor& background, int zigZag);
    // The same on the colour of button faces.
    void SubclassCreate(int controlId, QWidget* parent, int iconId, int spacing, int zigZag);

    // Each returns the previous position; the new one is held within the range.
    int SetPos(int position);
    int OffsetPos(int delta);
    int StepIt();
    int SetStep(int step);
    void SetRange(int16_t lower, int16_t upper);
    void SetRange32(int lower, int upper);
    int GetPos() const;
    void GetRange(int& lower, int& upper) const;
    // Puts another icon into every slot from the one for that position on; no repaint.
    void SetIcon(int iconId, int fromPosition);

    // Slots with an icon at a position.
    int IconsFor(int position) const;

    int Slots() const { return m_nSlots; }
    int Shown() const;
    bool IsVertical() const { return m_bVertical; }
    // Top-left corner of slot i.
    QPoint SlotOrigin(int i) const;
    const QVector<QPixmap>& Icons() const { return m_arrIcons; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void LayOut();
    // Called with the lock held: keeps the position in range and recounts the icons.
    void Settle();
    void Repaint();

    mutable std::mutex m_mutex;  // guards the range, position, step and m_nShown
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPosition = 0;
    int m_nStep = 10;
    int m_nShown = 0;

    QColor m_background;
    int m_nSpacing = 1;
    int m_nZigZag = 0;
    bool m_bVertical = false;
    int m_nIconLength = 32;
    int m_nIconBreadth = 32;
    int m_nLength = 0;
    int m_nBreadth = 0;
    int m_nSlots = 0;
    int m_nStart = 0;
    int m_nAcross = 0;
    QVector<QPixmap> m_arrIcons;
};

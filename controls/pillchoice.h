// A row of exclusive choices drawn as pills in the window's look: the chosen one pink with white
// bold text, the others dark and see-through with a pink rim. A caption may stand before them.
// Clicking a pill (or Space on the focused one) chooses it and tells the owner.
#pragma once

#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

class CPillChoice : public QWidget {
public:
    // caption may be empty; options are the pills' texts, left to right.
    CPillChoice(QWidget* parent, const QString& caption, const QStringList& options);

    // The pill chosen, 0 for the first; choosing from the program tells nobody.
    int Chosen() const { return m_group.checkedId(); }
    void Choose(int index);
    QPushButton* Pill(int index) const;
    // Called with the index when the user chooses a pill.
    std::function<void(int)> onChosen;

private:
    QButtonGroup m_group;
    QLabel* m_caption = nullptr;
    std::vector<QPushButton*> m_pills;
};

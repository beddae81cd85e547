#include "controls/pillchoice.h"

#include <QHBoxLayout>

namespace {

constexpr const char* kPillStyle =
    "QPushButton { color: #f6e9ff; background: rgba(40, 16, 72, 150);"
    " border: 2px solid #e96aa8; border-radius: 11px; padding: 2px 8px; font-weight: bold; }"
    "QPushButton:hover { background: rgba(233, 106, 168, 90); }"
    "QPushButton:checked { color: white; border-color: #fff0f7;"
    " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ff8fc3, stop:1 #e2478f); }"
    "QPushButton:focus { border-color: #ffd76a; }";
constexpr const char* kCaptionStyle = "QLabel { color: #f6e9ff; font-weight: bold; }";

}  // namespace

CPillChoice::CPillChoice(QWidget* parent, const QString& caption, const QStringList& options)
    : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!caption.isEmpty()) {
        m_caption = new QLabel(caption, this);
        m_caption->setStyleSheet(QString::fromLatin1(kCaptionStyle));
        layout->addWidget(m_caption);
    }
    m_group.setExclusive(true);
    for (int i = 0; i < options.size(); ++i) {
        auto* pill = new QPushButton(options[i], this);
        pill->setCheckable(true);
        pill->setStyleSheet(QString::fromLatin1(kPillStyle));
        pill->setCursor(Qt::PointingHandCursor);
        m_group.addButton(pill, i);
        layout->addWidget(pill, 1);
        m_pills.push_back(pill);
    }
    if (!m_pills.empty()) m_pills.front()->setChecked(true);
    connect(&m_group, &QButtonGroup::idClicked, this, [this](int index) {
        if (onChosen) onChosen(index);
    });
}

void CPillChoice::Choose(int index) {
    if (QPushButton* pill = Pill(index)) pill->setChecked(true);
}

QPushButton* CPillChoice::Pill(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < m_pills.size()
               ? m_pills[static_cast<std::size_t>(index)]
               : nullptr;
}

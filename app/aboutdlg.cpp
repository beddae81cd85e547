#include "app/aboutdlg.h"

#include <QLabel>
#include <QPushButton>

#include "display/fonts.h"
#include "res/resources.h"

namespace {

QRect Units(int x, int y, int w, int h) { return QRect(2 * x, 2 * y, 2 * w, 2 * h); }

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("关于 Quorvel"));
    setFont(display::MakeFont(QStringLiteral("宋体"), 18));
    setFixedSize(470, 110);
    auto* icon = new QLabel(this);
    icon->setPixmap(res::LoadIconPixmap(res::kIconApp));
    icon->setGeometry(Units(11, 17, 16, 16));
    auto* name = new QLabel(QStringLiteral("Quorvel 2.0 版"), this);
    name->setGeometry(Units(40, 10, 119, 8));
    auto* line = new QLabel(QStringLiteral("K 歌练唱：跟着旋律唱，逐句打分"), this);
    line->setGeometry(Units(40, 25, 119, 8));
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(Units(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

#include "app/introducedlg.h"

#include <QDesktopServices>
#include <QDir>
#include <QPainter>
#include <QPushButton>
#include <QUrl>

#include <cstdio>
#include <cstring>

#include "app/controlids.h"
#include "display/fonts.h"
#include "platform/codepage.h"
#include "platform/filebytes.h"
#include "res/resources.h"

namespace {

QRect Units(int x, int y, int w, int h) { return QRect(2 * x, 2 * y, 2 * w, 2 * h); }

}  // namespace

CIntroduceDlg::CIntroduceDlg(QWidget* parent) : QDialog(parent, Qt::Dialog) {
    m_open = [](const QString& folder) {
        return QDesktopServices::openUrl(
            QUrl::fromLocalFile(QDir::current().absoluteFilePath(folder)));
    };
}

void CIntroduceDlg::CreateModeless(CMicrophonePanel::Devices devices) {
    display::InstallFontSubstitutions();
    setModal(false);
    resize(800, 600);
    setFont(display::MakeFont(QStringLiteral("System"), 20));

    m_btnClose = new CButtonST(this);
    m_btnClose->setObjectName(QStringLiteral("1"));
    m_btnClose->setGeometry(Units(7, 255, 54, 44));
    connect(m_btnClose, &QPushButton::clicked, this, [this] { hide(); });

    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setGeometry(Units(343, 285, 50, 14));
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, [this] { hide(); });

    m_listHelp = new QListWidget(this);
    m_listHelp->setObjectName(QString::number(ids::kHelpList));
    m_listHelp->setGeometry(Units(32, 19, 336, 231));

    m_btnOpenFolder = new CButtonST(this);
    m_btnOpenFolder->setObjectName(QString::number(ids::kFolderButton));
    m_btnOpenFolder->setGeometry(Units(212, 82, 67, 61));
    connect(m_btnOpenFolder, &QPushButton::clicked, this, [this] { OnOpenSongFolder(); });

    m_hint = new QLabel(QStringLiteral("歌曲包解压后复制到该文件夹下对应类目"), this);
    m_hint->setObjectName(QString::number(ids::kFolderHint));
    m_hint->setGeometry(Units(127, 69, 145, 8));
    m_hint->setAttribute(Qt::WA_TranslucentBackground);

    // The microphone, left of the folder button on the page's card.
    m_microphone = new CMicrophonePanel(this, std::move(devices));
    m_microphone->setGeometry(56, 164, 352, 246);
    m_microphone->hide();

    // The user's other song folders, below the folder button.
    m_libraryFolders = new CLibraryFolderPanel(this);
    m_libraryFolders->setGeometry(424, 288, 316, 114);
    m_libraryFolders->hide();

    // Initialisation of the page: the folder button's look.
    m_btnOpenFolder->LoadIcons(res::kIconFolder, 0);
    m_btnOpenFolder->ShowBorder(false, true);
    m_btnOpenFolder->SetTransparent(true);
    m_btnClose->LoadIcons(res::kIconBack, 0);
    m_btnClose->ShowBorder(false, true);
    m_btnClose->SetTransparent(true);
    hide();
}

QWidget* CIntroduceDlg::Control(int id) const { return findChild<QWidget*>(QString::number(id)); }

void CIntroduceDlg::LoadHelpText(const std::string& path) {
    // Read whole through the shared reader: never blocking (a FIFO is refused), a regular file
    // of at most kHelpFileLimit bytes only. A help file that cannot be read shows no help.
    std::string bytes, problem;
    if (!platform::ReadFileBytes(path, bytes, problem, platform::kHelpFileLimit)) return;
    int position = 0;
    std::size_t next = 0;
    // Up to 999 bytes at a time, through a line feed; an empty line ends the help.
    while (next < bytes.size() && bytes[next] != '\n') {
        std::size_t end = bytes.find('\n', next);
        end = end == std::string::npos ? bytes.size() : end + 1;
        end = std::min(end, next + 999);
        std::string line = bytes.substr(next, end - next);
        next = end;
        line.resize(std::strlen(line.c_str()));  // a zero byte ends the text, as in C
        if (!line.empty()) line.pop_back();      // its line feed (or last byte)
        std::string utf8;
        if (!platform::Cp936ToUtf8(line, utf8)) utf8 = line;  // shown as it is
        m_listHelp->insertItem(position++, QString::fromUtf8(utf8.c_str()));
        m_listHelp->insertItem(position++, QString());
    }
}

void CIntroduceDlg::OnOpenSongFolder() {
    if (m_open) m_open(QStringLiteral("歌曲"));
}

void CIntroduceDlg::paintEvent(QPaintEvent*) {
    if (isMinimized()) return;
    QPainter painter(this);
    const QPixmap background = res::LoadBitmap(res::kBitmapCard);
    if (!background.isNull()) painter.drawPixmap(rect(), background, background.rect());
}

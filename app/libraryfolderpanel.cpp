#include "app/libraryfolderpanel.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/controlids.h"
#include "app/librarysettings.h"

CLibraryFolderPanel::CLibraryFolderPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::number(ids::kLibraryFolderPanel));
    m_title = new QLabel(QStringLiteral("歌曲文件夹（连同其中的子文件夹）："), this);
    m_list = new QListWidget(this);
    m_list->setObjectName(QString::number(ids::kLibraryFolderList));
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_add = new QPushButton(QStringLiteral("添加…"), this);
    m_add->setObjectName(QString::number(ids::kAddFolderButton));
    m_remove = new QPushButton(QStringLiteral("移除"), this);
    m_remove->setObjectName(QString::number(ids::kRemoveFolderButton));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_title);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    connect(m_add, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(m_remove, &QPushButton::clicked, this, [this] { OnRemove(); });
    connect(m_list, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
    m_choose = [this] {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("添加歌曲文件夹"),
                                                 QDir::homePath());
    };
    Reload();
}

void CLibraryFolderPanel::Reload() {
    m_list->clear();
    for (const std::string& folder : CLibrarySettings::Load().folders)
        m_list->addItem(QString::fromStdString(folder));
    UpdateButtons();
}

void CLibraryFolderPanel::UpdateButtons() {
    m_remove->setEnabled(m_list->currentRow() >= 0);
    m_add->setEnabled(static_cast<std::size_t>(m_list->count()) < CLibrarySettings::kMostFolders);
}

void CLibraryFolderPanel::OnAdd() {
    if (!m_choose) return;
    const QString chosen = m_choose();  // a dialog with its own event loop; no lock is held
    if (chosen.isEmpty()) return;
    CLibrarySettings settings = CLibrarySettings::Load();
    if (!settings.Add(QDir(chosen).absolutePath().toStdString())) return;  // there already
    settings.Save();
    Reload();
    m_list->setCurrentRow(m_list->count() - 1);
    if (m_changed) m_changed();
}

void CLibraryFolderPanel::OnRemove() {
    const QListWidgetItem* item = m_list->currentItem();
    if (!item) return;
    CLibrarySettings settings = CLibrarySettings::Load();
    settings.Remove(item->text().toStdString());
    settings.Save();
    Reload();
    if (m_changed) m_changed();
}

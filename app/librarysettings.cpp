#include "app/librarysettings.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>

namespace {

constexpr const char* kFoldersKey = "library/folders";

}  // namespace

bool CLibrarySettings::Add(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path.front() != '/' || path.size() > kLongestPath ||
        path.find('\0') != std::string::npos || folders.size() >= kMostFolders ||
        std::find(folders.begin(), folders.end(), path) != folders.end())
        return false;
    folders.push_back(std::move(path));
    return true;
}

void CLibrarySettings::Remove(const std::string& folder) {
    folders.erase(std::remove(folders.begin(), folders.end(), folder), folders.end());
}

CLibrarySettings CLibrarySettings::Load() {
    CLibrarySettings settings;
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    if (file.status() != QSettings::NoError) return settings;
    const QVariant value = file.value(kFoldersKey);
    // One folder reads back as a plain string, several as a list.
    QStringList folders;
    if (value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QVariantList)
        folders = value.toStringList();
    else if (value.typeId() == QMetaType::QString)
        folders = QStringList{value.toString()};
    for (const QString& folder : folders) settings.Add(folder.toStdString());
    return settings;
}

bool CLibrarySettings::Save() const {
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    QStringList list;
    for (const std::string& folder : folders) list.append(QString::fromStdString(folder));
    file.setValue(kFoldersKey, list);
    file.sync();
    return file.status() == QSettings::NoError;
}

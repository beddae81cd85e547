#include "app/listsettings.h"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace {

constexpr const char* kOrderKey = "list/order";

}  // namespace

CListSettings CListSettings::Load() {
    CListSettings settings;
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    if (file.status() != QSettings::NoError) return settings;
    const QVariant value = file.value(kOrderKey);
    if (value.typeId() != QMetaType::QString) return settings;
    const QByteArray name = value.toString().trimmed().toUtf8();
    if (const auto order = library::SongOrderFromName(std::string_view(name.data(), name.size())))
        settings.order = *order;
    return settings;
}

bool CListSettings::Save() const {
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    file.setValue(kOrderKey, QString::fromLatin1(library::SongOrderName(order)));
    file.sync();
    return file.status() == QSettings::NoError;
}

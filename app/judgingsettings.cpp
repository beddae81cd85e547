#include "app/judgingsettings.h"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace {

constexpr const char* kLevelKey = "judging/level";

}  // namespace

CJudgingSettings CJudgingSettings::Load() {
    CJudgingSettings settings;
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    if (file.status() != QSettings::NoError) return settings;
    const QVariant value = file.value(kLevelKey);
    if (value.typeId() != QMetaType::QString) return settings;
    const QByteArray name = value.toString().trimmed().toUtf8();
    if (const auto level = engine::ParseJudgingLevel(std::string_view(name.data(), name.size())))
        settings.level = *level;
    return settings;
}

bool CJudgingSettings::Save() const {
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    file.setValue(kLevelKey, QString::fromLatin1(engine::JudgingLevelName(level)));
    file.sync();
    return file.status() == QSettings::NoError;
}

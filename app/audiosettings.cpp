#include "app/audiosettings.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include "engine/singingengine.h"

namespace {

constexpr const char* kDeviceKey = "microphone/device";
constexpr const char* kLatencyKey = "microphone/latencyMs";
constexpr const char* kLatencySetKey = "microphone/latencySet";
constexpr int kLongestDeviceName = 256;

// A plain string value (not a list or a map), or nothing.
bool PlainString(const QVariant& value, QString& text) {
    if (!value.isValid() || value.typeId() == QMetaType::QStringList ||
        value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QVariantMap ||
        !value.canConvert<QString>())
        return false;
    text = value.toString();
    return true;
}

}  // namespace

CAudioSettings CAudioSettings::Load() {
    CAudioSettings settings;
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    if (file.status() != QSettings::NoError) return settings;

    QString device;
    if (PlainString(file.value(kDeviceKey), device) && device.size() <= kLongestDeviceName) {
        bool printable = true;
        for (QChar c : device) printable = printable && c.isPrint();
        if (printable) settings.strDevice = device.toStdString();
    }
    QString latency;
    QString set;
    bool number = false;
    const int ms =
        PlainString(file.value(kLatencyKey), latency) ? latency.trimmed().toInt(&number) : 0;
    if (number && ms >= 0 && ms <= engine::kMaxLatencyMs &&
        PlainString(file.value(kLatencySetKey), set) && set.trimmed() == QStringLiteral("true")) {
        settings.nLatencyMs = ms;
        settings.bLatencySet = true;
    }
    return settings;
}

bool CAudioSettings::Save() const {
    QSettings file(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    file.setValue(kDeviceKey, QString::fromStdString(strDevice));
    file.setValue(kLatencyKey, bLatencySet ? nLatencyMs : 0);
    file.setValue(kLatencySetKey, bLatencySet);
    file.sync();
    return file.status() == QSettings::NoError;
}

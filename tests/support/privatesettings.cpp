// Points the user's Qt settings and data folder (the song library's cache) of a test program at a
// fresh folder for the whole run, so that the tests neither read nor change the settings or data
// of whoever runs them.
#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include "tests/support/songwriter.h"

namespace {

class PrivateSettings : public ::testing::Environment {
public:
    void SetUp() override {
        const QString path = QString::fromStdString(m_folder.Path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
        qputenv("XDG_DATA_HOME", (path + QStringLiteral("/data")).toLocal8Bit());
    }

private:
    testing_support::TemporaryFolder m_folder;
};

[[maybe_unused]] ::testing::Environment* const g_settings =
    ::testing::AddGlobalTestEnvironment(new PrivateSettings);

}  // namespace

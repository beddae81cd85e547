// Points the user's Qt settings and data folder (the song library's cache, the history) of a test
// program at a fresh folder for each test, so that the tests neither read nor change the settings
// or data of whoever runs them, nor each other's, in whatever order they run.
#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/songwriter.h"

namespace {

class PrivateSettings : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        m_folder = std::make_unique<testing_support::TemporaryFolder>();
        const QString path = QString::fromStdString(m_folder->Path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
        qputenv("XDG_DATA_HOME", (path + QStringLiteral("/data")).toLocal8Bit());
    }
    void OnTestEnd(const ::testing::TestInfo&) override { m_folder.reset(); }

private:
    std::unique_ptr<testing_support::TemporaryFolder> m_folder;
};

// Added before main runs the tests (the listeners take ownership).
[[maybe_unused]] const bool g_settings = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new PrivateSettings);
    return true;
}();

}  // namespace

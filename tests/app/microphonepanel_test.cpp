// The microphone settings: what is kept across a restart, the settings page's panel with stand-in
// devices (a microphone fed by hand, clicks on a clock the test moves), and the main window on a
// machine without a microphone.
#include "app/microphonepanel.h"

#include <QApplication>
#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "app/audiosettings.h"
#include "app/controlids.h"
#include "app/introducedlg.h"
#include "app/quorveldlg.h"
#include "engine/latencycalibrator.h"
#include "platform/manualcapture.h"
#include "platform/messages.h"
#include "tests/support/brokencapture.h"
#include "tests/support/clockplayer.h"
#include "tests/support/songwriter.h"

namespace {

using namespace testing_support;

// Runs the window's events until the condition holds; false when it never does.
template <typename Condition>
bool Settles(Condition condition, std::chrono::seconds limit = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string SettingsFile() {
    return QSettings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel")).fileName().toStdString();
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::remove_all(SettingsFile()); }
    void TearDown() override { std::filesystem::remove_all(SettingsFile()); }
    static void WriteSettings(const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(SettingsFile()).parent_path());
        std::ofstream(SettingsFile(), std::ios::binary | std::ios::trunc) << text;
    }
};

TEST_F(SettingsTest, WhatIsSavedIsLoadedAgain) {
    EXPECT_EQ(CAudioSettings::Load(), CAudioSettings{});
    CAudioSettings saved;
    saved.strDevice = "USB 麦克风 (hw:1,0)";
    saved.nLatencyMs = 137;
    saved.bLatencySet = true;
    ASSERT_TRUE(saved.Save());
    EXPECT_EQ(CAudioSettings::Load(), saved);
    EXPECT_EQ(saved.LatencyMs(40), 137);
    saved.bLatencySet = false;
    ASSERT_TRUE(saved.Save());
    const CAudioSettings loaded = CAudioSettings::Load();
    EXPECT_FALSE(loaded.bLatencySet);
    EXPECT_EQ(loaded.LatencyMs(40), 40) << "unset: what the stream reports";
}

TEST_F(SettingsTest, NonsenseGivesTheDefaults) {
    const std::string files[] = {
        std::string("\x00\xff\xfe garbage \x01\x02[[[\n=\n", 20),
        "[microphone]\nlatencyMs=abc\nlatencySet=true\ndevice=@Variant(\\0\\0\\0\\x7f\\0\\0)\n",
        "[microphone]\nlatencyMs=5000\nlatencySet=true\n",
        "[microphone]\nlatencyMs=-3\nlatencySet=true\n",
        "[microphone]\nlatencyMs=120\nlatencySet=maybe\n",
        "[microphone]\ndevice=a, b, c\nlatencyMs=1, 2\nlatencySet=true, false\n",
        "[microphone]\ndevice=" + std::string(300, 'x') + "\n",
        "[microphone]\ndevice=bad\\tname\n",
    };
    for (const std::string& text : files) {
        WriteSettings(text);
        EXPECT_EQ(CAudioSettings::Load(), CAudioSettings{}) << text;
    }
    // Values that make sense beside ones that do not are kept.
    WriteSettings("[microphone]\ndevice=pulse\nlatencyMs=2000\nlatencySet=true\n");
    EXPECT_EQ(CAudioSettings::Load().strDevice, "pulse");
    EXPECT_FALSE(CAudioSettings::Load().bLatencySet);
}

TEST_F(SettingsTest, AFileThatCannotBeReadGivesTheDefaults) {
    std::filesystem::create_directories(SettingsFile());  // a folder where the file should be
    EXPECT_EQ(CAudioSettings::Load(), CAudioSettings{});
    CAudioSettings settings;
    settings.nLatencyMs = 50;
    settings.bLatencySet = true;
    EXPECT_FALSE(settings.Save());
}

// Clicks that sound on a clock the test sets.
class StandInClicks : public platform::CClickPlayer {
public:
    bool Play(std::vector<int16_t> samples, int, std::string& error) override {
        if (fail) {
            error = "no output device";
            return false;
        }
        played = !samples.empty();
        return played;
    }
    int Position() const override { return clock.load(); }
    void Stop() override { stopped = true; }

    std::atomic<bool> played{false};
    std::atomic<bool> stopped{false};
    std::atomic<int> clock{0};
    bool fail = false;
};

// The stand-in devices of one panel, and what they were asked.
struct StandIns {
    std::atomic<platform::CManualCapture*> microphone{nullptr};
    std::atomic<int> opened{0};
    std::atomic<StandInClicks*> clicks{nullptr};
    std::set<std::string> broken;  // device names that cannot open
    bool failClicks = false;

    CMicrophonePanel::Devices Devices() {
        CMicrophonePanel::Devices devices;
        devices.makeCapture = [this]() -> std::unique_ptr<platform::CCaptureDevice> {
            ++opened;
            if (broken.count(CAudioSettings::Load().strDevice))
                return std::make_unique<BrokenCapture>();
            auto device = std::make_unique<platform::CManualCapture>();
            microphone = device.get();
            return device;
        };
        devices.listInputs = [] { return std::vector<std::string>{"Desk mic", "USB mic"}; };
        devices.makeClicks = [this] {
            auto player = std::make_unique<StandInClicks>();
            player->fail = failClicks;
            clicks = player.get();
            return player;
        };
        return devices;
    }
};

// Stereo 16-bit bytes of a mono signal.
std::string Stereo(const int16_t* samples, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < 2; ++c) {
            bytes += char(uint16_t(samples[i]) & 0xff);
            bytes += char(uint16_t(samples[i]) >> 8);
        }
    return bytes;
}

class PanelTest : public SettingsTest {
protected:
    void Open() {
        m_page = std::make_unique<CIntroduceDlg>(nullptr);
        m_page->CreateModeless(m_devices.Devices());
        m_page->Microphone()->show();
        m_page->show();
        ASSERT_TRUE(Settles([&] { return Panel().IsListening(); }))
            << Panel().Status().toStdString();
    }
    CMicrophonePanel& Panel() { return *m_page->Microphone(); }
    platform::CManualCapture& Microphone() { return *m_devices.microphone.load(); }

    platform::MessageCapture m_messages;
    StandIns m_devices;
    std::unique_ptr<CIntroduceDlg> m_page;
};

TEST_F(PanelTest, ListsTheDefaultDeviceFirstAndShowsTheLevelAndTheNote) {
    Open();
    QComboBox* box = Panel().DeviceBox();
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(0), QStringLiteral("默认设备"));
    EXPECT_EQ(box->itemText(1), QStringLiteral("Desk mic"));
    EXPECT_EQ(box->itemText(2), QStringLiteral("USB mic"));
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_EQ(Panel().Meter(), 0);

    // A 220 Hz tone at −12 dBFS RMS: the meter at 80, the note A3.
    std::vector<int16_t> tone(960 * 3);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = int16_t(std::lround(0.25 * std::sqrt(2.0) * 32768 *
                                      std::sin(2 * M_PI * 220 * double(i) / 8000)));
    const std::string bytes = Stereo(tone.data(), int(tone.size()));
    Microphone().Feed(bytes.data(), bytes.size());
    ASSERT_TRUE(Settles([&] { return Panel().NoteText() == QStringLiteral("A3"); }))
        << Panel().NoteText().toStdString();
    EXPECT_NEAR(Panel().Meter(), 80, 1);

    const std::vector<int16_t> silence(960, 0);
    const std::string quiet = Stereo(silence.data(), 960);
    Microphone().Feed(quiet.data(), quiet.size());
    ASSERT_TRUE(Settles([&] { return Panel().Meter() == 0; }));
    EXPECT_EQ(Panel().NoteText(), QStringLiteral("—"));
}

TEST_F(PanelTest, AChosenDeviceIsKeptAndOpenedAndAOneThatFailsSaysSo) {
    Open();
    const int before = m_devices.opened;
    Panel().OnDeviceChosen(2);
    EXPECT_EQ(CAudioSettings::Load().strDevice, "USB mic");
    ASSERT_TRUE(Settles([&] { return m_devices.opened > before && Panel().IsListening(); }));
    EXPECT_EQ(Panel().DeviceBox()->currentText(), QStringLiteral("USB mic"));

    m_devices.broken.insert("Desk mic");
    Panel().OnDeviceChosen(1);
    ASSERT_TRUE(Settles([&] {
        return !Panel().IsListening() && Panel().Status().contains(QStringLiteral("无法打开"));
    }));
    EXPECT_EQ(Panel().Meter(), 0);
    Panel().OnCalibrate();
    EXPECT_FALSE(Panel().IsCalibrating()) << "nothing to record the clicks with";
}

TEST_F(PanelTest, ATypedLatencyIsKept) {
    Open();
    Panel().LatencyBox()->setValue(333);
    EXPECT_EQ(CAudioSettings::Load().nLatencyMs, 333);
    EXPECT_TRUE(CAudioSettings::Load().bLatencySet);
    Panel().LatencyBox()->setValue(5000);  // held in range
    EXPECT_EQ(CAudioSettings::Load().nLatencyMs, 1000);
}

// Plays a calibration: the microphone hears the click track delayMs late plus the claps chosen,
// and hands back each 0.12 s buffer handBackMs after its last sample, on the clicks' clock.
void Calibrate(CMicrophonePanel& panel, StandIns& devices, int delayMs, int handBackMs,
               const std::set<int>& heard) {
    panel.OnCalibrate();
    ASSERT_TRUE(panel.IsCalibrating());
    ASSERT_TRUE(Settles([&] { return devices.clicks.load() && devices.clicks.load()->played; }));
    // The clock is set on the worker right after Play returns; buffers before it have no stamp,
    // and the first click is a second into the track.
    const engine::ClickTrack track = engine::MakeClickTrack(8000);
    std::vector<int16_t> recording(track.samples.size() + 8 * 3000, 0);
    for (int click : heard) {
        const std::size_t from = std::size_t(track.clickMs[std::size_t(click)] * 8);
        for (std::size_t i = 0; i < 120; ++i)
            recording[from + std::size_t(delayMs * 8) + i] = track.samples[from + i];
    }
    for (std::size_t start = 0; start + 960 <= recording.size() && panel.IsCalibrating();
         start += 960) {
        devices.clicks.load()->clock = int((start + 960) / 8) + handBackMs;
        const std::string bytes = Stereo(recording.data() + start, 960);
        devices.microphone.load()->Feed(bytes.data(), bytes.size());
        panel.OnTick();  // as the timer does, before the monitor's ring can fill
    }
    ASSERT_TRUE(Settles([&] { return !panel.IsCalibrating(); }));
}

TEST_F(PanelTest, CalibrationSetsTheMedianOffsetOfTheOnsetsFound) {
    Open();
    Calibrate(Panel(), m_devices, 150, 30, {0, 1, 2, 3, 4, 5, 6, 7});
    EXPECT_NEAR(Panel().LatencyShown(), 180, 2);
    EXPECT_NEAR(CAudioSettings::Load().nLatencyMs, 180, 2);
    EXPECT_TRUE(CAudioSettings::Load().bLatencySet);
    EXPECT_TRUE(Panel().Status().contains(QStringLiteral("8 声中听到 8 声")))
        << Panel().Status().toStdString();
    EXPECT_TRUE(Settles([&] { return m_devices.clicks.load()->stopped.load(); }));
}

TEST_F(PanelTest, FewerThanFiveOnsetsKeepTheOldLatencyAndSayWhy) {
    CAudioSettings settings;
    settings.nLatencyMs = 95;
    settings.bLatencySet = true;
    ASSERT_TRUE(settings.Save());
    Open();
    EXPECT_EQ(Panel().LatencyShown(), 95);
    Calibrate(Panel(), m_devices, 150, 30, {1, 4, 6, 7});
    EXPECT_EQ(Panel().LatencyShown(), 95);
    EXPECT_EQ(CAudioSettings::Load().nLatencyMs, 95);
    EXPECT_TRUE(Panel().Status().contains(QStringLiteral("只听到 4 声")))
        << Panel().Status().toStdString();
}

TEST_F(PanelTest, ClicksThatCannotPlayEndTheCalibrationWithAReason) {
    m_devices.failClicks = true;
    Open();
    Panel().OnCalibrate();
    ASSERT_TRUE(Settles([&] { return !Panel().IsCalibrating(); }));
    EXPECT_TRUE(Panel().Status().contains(QStringLiteral("no output device")));
    EXPECT_TRUE(Panel().CalibrateButton()->isEnabled());
}

// The main window on a machine with no microphone, until a device that opens is chosen.
class NoMicrophoneTest : public SettingsTest {
protected:
    NoMicrophoneTest() : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(m_library.Path());
    }
    ~NoMicrophoneTest() override { std::filesystem::current_path(m_previous); }

    std::unique_ptr<CQuorvelDlg> MakeDialog() {
        m_stand.broken = {"", "Desk mic"};  // the default device does not open either
        const CMicrophonePanel::Devices panel = m_stand.Devices();
        CQuorvelDlg::Devices devices;
        devices.makeCapture = panel.makeCapture;
        devices.listInputs = panel.listInputs;
        devices.makeClicks = panel.makeClicks;
        devices.makePlayer = [] { return std::make_unique<ClockPlayer>(); };
        return std::make_unique<CQuorvelDlg>(std::move(devices));
    }

    TemporaryFolder m_library;
    std::filesystem::path m_previous;
    platform::MessageCapture m_messages;
    StandIns m_stand;
};

TEST_F(NoMicrophoneTest, TheWindowIsBuiltWholeAndSingingLeadsToTheSettings) {
    auto dialog = MakeDialog();
    EXPECT_TRUE(dialog->OnInitDialog());
    dialog->show();
    EXPECT_EQ(m_messages.Messages(),
              (std::vector<std::string>{"Audio can not be open!", "打开录音设备出错！"}));
    EXPECT_FALSE(dialog->HasMicrophone());
    // The home screen with its skinned buttons, nothing raw over it.
    std::set<int> visible;
    for (QWidget* child : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        bool number = false;
        const int id = child->objectName().toInt(&number);
        if (number && child->isVisible()) visible.insert(id);
    }
    EXPECT_EQ(visible, (std::set<int>{ids::kStartButton, ids::kSettingsButton, ids::kHelpButton,
                                      ids::kExitButton}));
    EXPECT_EQ(dialog->Control(ids::kStartButton)->size(), QSize(246, 44))
        << "the button fits its picture";
    EXPECT_NE(dialog->ScoreDlg(), nullptr);
    ASSERT_NE(dialog->IntroDlg(), nullptr);

    m_messages.Clear();
    dialog->OnStartSinging();
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_NE(m_messages.Messages()[0].find("没有可用的麦克风"), std::string::npos);
    EXPECT_EQ(dialog->Screen(), 0);
    EXPECT_TRUE(dialog->IntroDlg()->isVisible());
    CMicrophonePanel& panel = *dialog->IntroDlg()->Microphone();
    EXPECT_TRUE(panel.isVisible());
    ASSERT_TRUE(Settles([&] { return panel.DeviceBox()->count() == 3; }));
    EXPECT_FALSE(panel.IsListening());

    // A device that opens, and back to the window: singing works without a restart.
    panel.OnDeviceChosen(2);
    ASSERT_TRUE(Settles([&] { return panel.IsListening(); }));
    dialog->IntroDlg()->hide();
    ASSERT_TRUE(Settles([&] { return dialog->HasMicrophone(); }));
    m_messages.Clear();
    dialog->OnStartSinging();
    EXPECT_TRUE(m_messages.Messages().empty());
    EXPECT_EQ(dialog->Screen(), 3) << "the type choice";
}

TEST_F(NoMicrophoneTest, TheSettingsPageTakesTheWindowsDeviceAndGivesItBack) {
    auto dialog = MakeDialog();
    CAudioSettings settings;
    settings.strDevice = "USB mic";
    ASSERT_TRUE(settings.Save());
    ASSERT_TRUE(dialog->OnInitDialog());
    EXPECT_TRUE(dialog->HasMicrophone());
    EXPECT_TRUE(m_messages.Messages().empty());
    dialog->OnSettingsPage();
    EXPECT_FALSE(dialog->HasMicrophone()) << "closed while the page listens";
    CMicrophonePanel& panel = *dialog->IntroDlg()->Microphone();
    ASSERT_TRUE(Settles([&] { return panel.IsListening(); }));
    dialog->IntroDlg()->hide();
    ASSERT_TRUE(Settles([&] { return dialog->HasMicrophone(); }));
    // The help page does not open the microphone.
    const int opened = m_stand.opened;
    dialog->OnHelpPage();
    EXPECT_FALSE(panel.isVisible());
    QApplication::processEvents();
    EXPECT_EQ(m_stand.opened, opened);
}

}  // namespace

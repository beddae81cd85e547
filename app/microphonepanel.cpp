#include "app/microphonepanel.h"

#include <QGridLayout>
#include <QMetaObject>
#include <QSignalBlocker>

#include <algorithm>
#include <string>

#include "app/audiosettings.h"
#include "display/fonts.h"
#include "engine/inputlevel.h"
#include "engine/singingengine.h"
#include "platform/messages.h"
#include "platform/portaudiocapture.h"

namespace {

constexpr int kTickMs = 50;
// Time the clicks may take beyond their own length before a calibration gives up.
constexpr auto kCalibrationSlack = std::chrono::seconds(8);

constexpr const char* kLook = R"(
QLabel { color: #4b2d73; background: transparent; }
QComboBox, QSpinBox { color: #2d1a47; background: white; border: 1px solid #c9a6e8;
                      border-radius: 4px; padding: 2px 6px; }
QPushButton { color: white; border: 1px solid #b0407a; border-radius: 8px; padding: 3px 12px;
              background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f06aa8, stop:1 #b4367a); }
QPushButton:disabled { background: #c8b6d8; border-color: #b8a6c8; }
QProgressBar { border: 1px solid #c9a6e8; border-radius: 4px; background: #f3ecfa; }
QProgressBar::chunk { border-radius: 3px;
    background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #6fd38a, stop:0.7 #f4d35e,
                                stop:1 #f06a6a); }
)";

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

CMicrophonePanel::CMicrophonePanel(QWidget* parent, Devices devices)
    : QWidget(parent), m_devicesMaker(std::move(devices)) {
    setObjectName(QStringLiteral("microphone"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFont(display::MakeFont(QStringLiteral("宋体"), 16));
    setStyleSheet(QString::fromLatin1(kLook));
    m_worker.setMaxThreadCount(1);  // device operations one after another, in order
    // One thread for the panel's life once it has worked: a thread that ends while a song is
    // sung would make the program's thread count change under the session.
    m_worker.setExpiryTimeout(-1);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(10);
    grid->addWidget(new QLabel(Text("录音设备"), this), 0, 0);
    m_devices = new QComboBox(this);
    m_devices->setObjectName(QStringLiteral("device"));
    grid->addWidget(m_devices, 0, 1, 1, 2);

    grid->addWidget(new QLabel(Text("音量"), this), 1, 0);
    m_meter = new QProgressBar(this);
    m_meter->setObjectName(QStringLiteral("level"));
    m_meter->setRange(0, 100);
    m_meter->setValue(0);
    m_meter->setTextVisible(false);
    m_meter->setFixedHeight(14);
    grid->addWidget(m_meter, 1, 1);
    m_note = new QLabel(Text("—"), this);
    m_note->setObjectName(QStringLiteral("note"));
    m_note->setMinimumWidth(48);
    m_note->setAlignment(Qt::AlignCenter);
    grid->addWidget(m_note, 1, 2);

    grid->addWidget(new QLabel(Text("延迟"), this), 2, 0);
    m_latency = new QSpinBox(this);
    m_latency->setObjectName(QStringLiteral("latency"));
    m_latency->setRange(0, engine::kMaxLatencyMs);
    m_latency->setSuffix(Text(" 毫秒"));
    m_latency->setKeyboardTracking(false);  // one value when the typing is done
    grid->addWidget(m_latency, 2, 1);
    m_calibrate = new QPushButton(Text("校准"), this);
    m_calibrate->setObjectName(QStringLiteral("calibrate"));
    m_calibrate->setCursor(Qt::PointingHandCursor);
    grid->addWidget(m_calibrate, 2, 2);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(m_status, 3, 0, 1, 3);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(1, 1);

    connect(m_devices, &QComboBox::activated, this, [this](int index) { OnDeviceChosen(index); });
    connect(m_latency, &QSpinBox::valueChanged, this, [this](int ms) { OnLatencyTyped(ms); });
    connect(m_calibrate, &QPushButton::clicked, this, [this] { OnCalibrate(); });
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTick(); });
}

CMicrophonePanel::~CMicrophonePanel() {
    m_timer.stop();
    m_bListening = false;
    m_onClosed = nullptr;
    Post([this] {
        m_monitor.SetClock(nullptr);
        if (m_pClicks) m_pClicks->Stop();
        m_monitor.Stop();
        m_pDevice.reset();
    });
    m_worker.waitForDone();
}

void CMicrophonePanel::Post(std::function<void()> task) { m_worker.start(std::move(task)); }

void CMicrophonePanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_bShown) return;
    m_bShown = true;
    ShowLatency();
    Listen();
    m_timer.start();
}

void CMicrophonePanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!m_bShown) return;
    m_bShown = false;
    m_timer.stop();
    StopListening(true);
}

void CMicrophonePanel::ShowLatency() {
    const CAudioSettings settings = CAudioSettings::Load();
    const QSignalBlocker quiet(m_latency);
    m_latency->setValue(settings.LatencyMs(m_nReportedMs));
}

void CMicrophonePanel::StopListening(bool closedHandler) {
    ++m_nGeneration;
    m_bListening = false;
    if (m_calibrator) {
        m_calibrator.reset();
        m_calibrate->setEnabled(true);
        m_status->setText(Text("校准中断了，延迟不变。"));
    }
    Post([this, closedHandler] {
        m_monitor.SetClock(nullptr);
        if (m_pClicks) m_pClicks->Stop();
        m_monitor.Stop();
        m_pDevice.reset();
        if (closedHandler)
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!m_bShown && m_onClosed) m_onClosed();
                },
                Qt::QueuedConnection);
    });
}

void CMicrophonePanel::Listen() {
    StopListening(false);
    const int generation = m_nGeneration;
    m_status->setText(Text("正在打开录音设备……"));
    Post([this, generation] {
        Opened opened;
        if (m_devicesMaker.listInputs) opened.names = m_devicesMaker.listInputs();
        m_pDevice = m_devicesMaker.makeCapture ? m_devicesMaker.makeCapture() : nullptr;
        if (!m_pDevice) {
            opened.strError = "no capture device";
        } else if (m_monitor.Start(*m_pDevice, opened.strError)) {
            opened.bOpen = true;
            opened.nReportedMs = m_pDevice->InputLatencyMs();
            if (auto* portAudio = dynamic_cast<platform::CPortAudioCapture*>(m_pDevice.get()))
                opened.strFallback = portAudio->FallbackReason();
        } else {
            m_pDevice.reset();
        }
        QMetaObject::invokeMethod(
            this, [this, generation, opened] { OnOpened(generation, opened); },
            Qt::QueuedConnection);
    });
}

void CMicrophonePanel::OnOpened(int generation, const Opened& opened) {
    if (generation != m_nGeneration) return;  // hidden or restarted meanwhile
    CAudioSettings settings = CAudioSettings::Load();
    const std::string chosen = settings.strDevice;
    if (!opened.strFallback.empty()) {
        // The chosen device is gone: the default takes its place, also from now on.
        settings.strDevice.clear();
        settings.Save();
    }
    {
        const QSignalBlocker quiet(m_devices);
        m_devices->clear();
        m_devices->addItem(Text("默认设备"), QString());
        for (const std::string& name : opened.names)
            m_devices->addItem(QString::fromStdString(name), QString::fromStdString(name));
        const int index = m_devices->findData(QString::fromStdString(settings.strDevice));
        if (index >= 0) {
            m_devices->setCurrentIndex(index);
        } else {  // a device that is not listed now, but was not found missing either
            m_devices->addItem(QString::fromStdString(settings.strDevice),
                               QString::fromStdString(settings.strDevice));
            m_devices->setCurrentIndex(m_devices->count() - 1);
        }
    }
    m_nReportedMs = opened.nReportedMs;
    ShowLatency();
    m_bListening = opened.bOpen;
    if (!opened.bOpen) {
        m_meter->setValue(0);
        m_note->setText(Text("—"));
        m_status->setText(Text("录音设备无法打开（") + QString::fromStdString(opened.strError) +
                          Text("）。请选择其他录音设备。"));
    } else if (settings.bLatencySet) {
        m_status->setText(Text("麦克风已打开。对着麦克风唱一个音，看音量和音名。"));
    } else {
        m_status->setText(
            Text("麦克风已打开。延迟 %1 毫秒是设备报告的值，可以校准。").arg(m_nReportedMs));
    }
    if (!opened.strFallback.empty())
        platform::ShowMessage("录音设备“" + chosen + "”已不可用，改用默认录音设备。",
                              platform::MessageIcon::Exclamation);
}

void CMicrophonePanel::OnDeviceChosen(int index) {
    if (index < 0) return;
    CAudioSettings settings = CAudioSettings::Load();
    settings.strDevice = m_devices->itemData(index).toString().toStdString();
    settings.Save();
    if (m_bShown) Listen();
}

void CMicrophonePanel::OnLatencyTyped(int ms) {
    CAudioSettings settings = CAudioSettings::Load();
    settings.nLatencyMs = std::clamp(ms, 0, engine::kMaxLatencyMs);
    settings.bLatencySet = true;
    settings.Save();
    m_status->setText(Text("延迟已设为 %1 毫秒。").arg(settings.nLatencyMs));
}

void CMicrophonePanel::OnCalibrate() {
    if (m_calibrator) return;
    if (!m_bListening) {
        m_status->setText(Text("录音设备没有打开，无法校准。"));
        return;
    }
    engine::ClickTrack track = engine::MakeClickTrack(48000);
    m_calibrator.emplace(track.clickMs, int(engine::kCaptureFormat.nSamplesPerSec));
    m_calibrationDeadline = std::chrono::steady_clock::now() +
                            std::chrono::milliseconds(track.LengthMs()) + kCalibrationSlack;
    m_calibrate->setEnabled(false);
    m_status->setText(Text("请听 8 声“嗒”：每一声都拍一下手，或唱一声“ta”。"));
    const int generation = m_nGeneration;
    Post([this, generation, samples = std::move(track.samples), rate = track.nRate]() mutable {
        if (!m_pClicks && m_devicesMaker.makeClicks) m_pClicks = m_devicesMaker.makeClicks();
        std::string error = "no output";
        if (m_pClicks && m_pClicks->Play(std::move(samples), rate, error)) {
            m_monitor.SetClock(m_pClicks.get());  // the first click is a second away
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, error] {
                if (generation != m_nGeneration || !m_calibrator) return;
                m_calibrator.reset();
                m_calibrate->setEnabled(true);
                m_status->setText(Text("无法播放校准声音（") + QString::fromStdString(error) +
                                  Text("），延迟不变。"));
            },
            Qt::QueuedConnection);
    });
}

void CMicrophonePanel::OnTick() {
    if (!m_bListening) return;
    std::vector<int16_t> last;
    m_monitor.Drain([&](const int16_t* samples, int count, int32_t clockMs) {
        if (m_calibrator) m_calibrator->AddBuffer(samples, count, clockMs);
        last.assign(samples, samples + count);
    });
    if (!last.empty()) {
        const int count = int(last.size());
        m_meter->setValue(engine::MeterPercent(engine::LevelDbfs(last.data(), count)));
        const std::string note = engine::NoteName(
            engine::BlockPitch(last.data(), count, int(engine::kCaptureFormat.nSamplesPerSec)));
        m_note->setText(note.empty() ? Text("—") : QString::fromStdString(note));
    }
    if (m_calibrator &&
        (m_calibrator->HasEnough() || std::chrono::steady_clock::now() > m_calibrationDeadline))
        FinishCalibration();
}

void CMicrophonePanel::FinishCalibration() {
    const engine::LatencyEstimate estimate = m_calibrator->Estimate();
    m_calibrator.reset();
    m_calibrate->setEnabled(true);
    Post([this] {
        m_monitor.SetClock(nullptr);
        if (m_pClicks) m_pClicks->Stop();
    });
    CAudioSettings settings = CAudioSettings::Load();
    const int found = estimate.nFound;
    // For whoever runs the program from a terminal (and the end-to-end test).
    platform::Trace("latency calibration: " + std::to_string(found) + " of 8 clicks heard" +
                    (estimate.Enough() ? ", " + std::to_string(estimate.nLatencyMs) + " ms\n"
                                       : ", latency kept\n"));
    if (!estimate.Enough()) {
        m_status->setText(Text("8 声中只听到 %1 声，至少要 %2 声，延迟仍为 %3 毫秒。请靠近麦克风，"
                               "每一声“嗒”都拍手或唱“ta”，再试一次。")
                              .arg(found)
                              .arg(engine::kMinCalibrationOnsets)
                              .arg(settings.LatencyMs(m_nReportedMs)));
        return;
    }
    settings.nLatencyMs = estimate.nLatencyMs;
    settings.bLatencySet = true;
    settings.Save();
    ShowLatency();
    m_status->setText(
        Text("延迟已校准为 %1 毫秒（8 声中听到 %2 声）。").arg(estimate.nLatencyMs).arg(found));
}

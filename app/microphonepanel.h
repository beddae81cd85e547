// The microphone part of the settings page: the recording device, a live level meter with the
// note the microphone hears, and the latency L, typed in or measured with clicks.
//
// While the panel is shown it listens to the chosen device through its own stream; the main
// window closes its capture device before showing the page and opens it again once the panel
// reports that its stream is closed (SetClosedHandler), so one device is never opened twice.
// Every device operation (listing, opening, closing, playing the clicks) runs on the panel's one
// worker thread, in order; results come back to the window's thread as queued calls, so the
// window never waits for a device. The level and the recording reach the window's thread through
// the monitor's lock-free ring, read by a timer.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/inputmonitor.h"
#include "engine/latencycalibrator.h"
#include "platform/capturedevice.h"
#include "platform/clickplayer.h"

class CMicrophonePanel : public QWidget {
public:
    struct Devices {
        // A capture device for the device the settings name (read when called).
        std::function<std::unique_ptr<platform::CCaptureDevice>()> makeCapture;
        // The names of the recording devices.
        std::function<std::vector<std::string>()> listInputs;
        // What plays the calibration clicks on the accompaniment's output.
        std::function<std::unique_ptr<platform::CClickPlayer>()> makeClicks;
    };

    CMicrophonePanel(QWidget* parent, Devices devices);
    ~CMicrophonePanel() override;

    // Called on the window's thread once the panel's stream is closed after it was hidden.
    void SetClosedHandler(std::function<void()> closed) { m_onClosed = std::move(closed); }

    // The user's actions, as the controls call them.
    void OnDeviceChosen(int index);
    void OnCalibrate();
    void OnLatencyTyped(int ms);
    // The timer's: takes what the microphone recorded, updates the meter and the note, and ends
    // a calibration that has heard enough (or waited too long).
    void OnTick();

    // What the panel shows.
    bool IsListening() const { return m_bListening; }
    bool IsCalibrating() const { return m_calibrator.has_value(); }
    QString Status() const { return m_status->text(); }
    QString NoteText() const { return m_note->text(); }
    int Meter() const { return m_meter->value(); }
    int LatencyShown() const { return m_latency->value(); }
    QComboBox* DeviceBox() const { return m_devices; }
    QPushButton* CalibrateButton() const { return m_calibrate; }
    QSpinBox* LatencyBox() const { return m_latency; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // What the worker found when it opened the monitor stream.
    struct Opened {
        std::vector<std::string> names;
        bool bOpen = false;
        std::string strError;
        std::string strFallback;  // why the chosen device gave way to the default
        int nReportedMs = 0;
    };

    void Listen();  // (re)opens the monitor stream for the chosen device
    void StopListening(bool closedHandler);
    void OnOpened(int generation, const Opened& opened);
    void FinishCalibration();
    void ShowLatency();
    void Post(std::function<void()> task);  // runs task on the worker

    Devices m_devicesMaker;
    std::function<void()> m_onClosed;
    QThreadPool m_worker;
    QTimer m_timer;

    // The worker's: the stream and the clicks.
    std::unique_ptr<platform::CCaptureDevice> m_pDevice;
    std::unique_ptr<platform::CClickPlayer> m_pClicks;
    engine::CInputMonitor m_monitor;

    // The window thread's.
    bool m_bShown = false;
    bool m_bListening = false;  // the monitor is started and may be drained
    int m_nGeneration = 0;      // answers from the worker for an older request are dropped
    int m_nReportedMs = 0;
    std::optional<engine::CLatencyCalibrator> m_calibrator;
    std::chrono::steady_clock::time_point m_calibrationDeadline;

    QComboBox* m_devices = nullptr;
    QProgressBar* m_meter = nullptr;
    QLabel* m_note = nullptr;
    QSpinBox* m_latency = nullptr;
    QPushButton* m_calibrate = nullptr;
    QLabel* m_status = nullptr;
};

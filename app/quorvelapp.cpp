#include "app/quorvelapp.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/audiosettings.h"
#include "app/messageboxsink.h"
#include "app/quorveldlg.h"
#include "engine/inputmonitor.h"
#include "platform/portaudiocapture.h"
#include "platform/wavefilecapture.h"

CQuorvelApp::Options CQuorvelApp::ParseCommandLine(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--capture-file") == 0 && i + 1 < argc)
            options.strCaptureFile = argv[++i];
        else if (std::strcmp(argv[i], "--check-microphone") == 0)
            options.bCheckMicrophone = true;
        else if (std::strcmp(argv[i], "--help") == 0)
            options.bHelp = true;
        else
            options.strError = std::string("unknown argument: ") + argv[i];
    }
    return options;
}

int CQuorvelApp::CheckMicrophone() {
    // The device the settings page chose, else (or when it is gone) the default one.
    platform::CPortAudioCapture device(CAudioSettings::Load().strDevice);
    if (!device.Open(engine::kCaptureFormat, [](platform::WaveHeader*) {})) {
        std::fprintf(stderr, "quorvel: no recording device opens: %s\n",
                     device.LastError().c_str());
        return 1;
    }
    device.Close();
    std::printf("quorvel: the recording device opens\n");
    return 0;
}

int CQuorvelApp::InitInstance(int argc, char** argv) {
    const Options options = ParseCommandLine(argc, argv);
    if (options.bHelp || !options.strError.empty()) {
        if (!options.strError.empty())
            std::fprintf(stderr, "quorvel: %s\n", options.strError.c_str());
        std::fprintf(
            stderr,
            "usage: quorvel [--capture-file FILE.wav] [--check-microphone]\n"
            "Run it in the folder that holds the song library (歌曲/单曲, 歌曲/串烧歌曲).\n"
            "--check-microphone: exits 0 when the recording device opens, 1 when none does.\n");
        return options.bHelp ? 0 : 2;
    }
    if (options.bCheckMicrophone) return CheckMicrophone();
    QApplication app(argc, argv);
    CMessageBoxSink messages;
    platform::SetMessageSink(&messages);

    CQuorvelDlg::Devices devices;
    if (!options.strCaptureFile.empty()) {
        const std::string file = options.strCaptureFile;
        devices.makeCapture = [file] { return std::make_unique<platform::CWaveFileCapture>(file); };
    }
    int result = 0;
    {
        CQuorvelDlg dialog(std::move(devices));
        dialog.OnInitDialog();
        // The application's loop, not the dialog's own: a change of the window's frame hides and
        // shows it again, which would end a dialog loop in the middle of a song.
        QObject::connect(&dialog, &QDialog::finished, &app, [&result](int code) {
            result = code;
            QApplication::quit();
        });
        dialog.show();
        QApplication::exec();
    }
    platform::SetMessageSink(nullptr);
    (void)result;  // the dialog's result is not looked at
    return 0;
}

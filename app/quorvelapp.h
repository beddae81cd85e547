// The program: a Qt application that runs the main dialog until it closes.
#pragma once

#include <string>

class CQuorvelApp {
public:
    struct Options {
        std::string strCaptureFile;     // sing from this WAV instead of the microphone
        bool bCheckMicrophone = false;  // only try whether the recording device opens
        bool bHelp = false;
        std::string strError;  // a command line it could not take
    };

    static Options ParseCommandLine(int argc, char** argv);

    // Runs the program; returns the exit status.
    int InitInstance(int argc, char** argv);
    // Opens and closes the recording device: 0 when it opens, 1 (with the reason) when not.
    static int CheckMicrophone();
};

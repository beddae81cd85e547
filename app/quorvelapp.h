// The program: a Qt application that runs the main dialog until it closes.
#pragma once

#include <string>

class CQuorvelApp {
public:
    struct Options {
        std::string strCaptureFile;  // sing from this WAV instead of the microphone
        bool bHelp = false;
        std::string strError;  // a command line it could not take
    };

    static Options ParseCommandLine(int argc, char** argv);

    // Runs the program; returns the exit status.
    int InitInstance(int argc, char** argv);
};

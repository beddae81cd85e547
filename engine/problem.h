// Why something the singer asked for cannot be done, as a value: a song that cannot be loaded, a
// capture device that cannot be opened. Whoever drives the session shows it once everything has
// gone quiet; tools that list problems read the file and the problem.
#pragma once

#include <string>

#include "platform/messages.h"

namespace engine {

struct Problem {
    std::string strFile;     // the file at fault ("" when none is)
    std::string strProblem;  // what is wrong, to follow the file's name
    std::string strMessage;  // the message shown to the singer
    platform::MessageIcon icon = platform::MessageIcon::Exclamation;
    bool bBeep = false;  // the warning beep goes before the message

    // A problem that names no file: the message is all there is to say.
    static Problem Message(std::string message, platform::MessageIcon icon, bool beep = false) {
        Problem problem;
        problem.strProblem = message;
        problem.strMessage = std::move(message);
        problem.icon = icon;
        problem.bBeep = beep;
        return problem;
    }

    // "file: problem", or only the problem when no file is at fault.
    std::string Describe() const {
        return strFile.empty() ? strProblem : strFile + ": " + strProblem;
    }

    // Beeps when asked, then shows the message through the program's message sink.
    void Show() const {
        if (bBeep) platform::MessageBeep(icon);
        platform::ShowMessage(strMessage, icon);
    }
};

}  // namespace engine

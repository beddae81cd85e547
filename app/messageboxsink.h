// Messages of the windowed program: message boxes over the active window (with the warning beep
// where one is asked for) and trace lines on standard error. A message or beep raised on another
// thread is shown on the UI thread later; the sink must outlive the application's event loop.
#pragma once

#include "platform/messages.h"

class CMessageBoxSink : public platform::MessageSink {
public:
    void ShowMessage(const std::string& text, platform::MessageIcon icon,
                     const std::string& caption) override;
    void Beep(platform::MessageIcon icon) override;
    void Trace(const std::string& line) override;
};

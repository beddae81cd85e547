// A capture device that cannot open, as on a machine without a microphone.
#pragma once

#include <string>

#include "platform/capturedevice.h"

namespace testing_support {

class BrokenCapture : public platform::CCaptureDevice {
public:
    ~BrokenCapture() override { Close(); }

protected:
    bool OpenStream(const platform::WaveFormat&, std::string& error) override {
        error = "no such device";
        return false;
    }
    bool StartStream(std::string&) override { return false; }
    void StopStream() override {}
    void CloseStream() override {}
};

}  // namespace testing_support

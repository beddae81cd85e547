// A capture device whose samples are fed by hand: the headless scorer plays a recording through
// it on a virtual clock, and the tests drive the buffer cycle with it. Fed bytes are handed on at
// once, on the feeding thread.
#pragma once

#include "platform/capturedevice.h"

namespace platform {

class CManualCapture : public CCaptureDevice {
public:
    ~CManualCapture() override { Close(); }

    // Records bytes of the opened format, as if the microphone had captured them. Nothing is
    // recorded while the device is not started.
    void Feed(const char* bytes, std::size_t count) { Deliver(bytes, count); }
    // The same for bytes whose last one was recorded at clockAtEnd on the stamp clock.
    void FeedAt(const char* bytes, std::size_t count, int32_t clockAtEnd) {
        DeliverStamped(bytes, count, clockAtEnd);
    }

protected:
    bool OpenStream(const WaveFormat&, std::string&) override { return true; }
    bool StartStream(std::string&) override { return true; }
    void StopStream() override {}
    void CloseStream() override {}
};

}  // namespace platform

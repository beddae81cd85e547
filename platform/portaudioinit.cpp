#include "platform/portaudioinit.h"

#include <mutex>

namespace platform {
namespace {

std::mutex& InitializationMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

PaError InitializePortAudio() {
    std::lock_guard lock(InitializationMutex());
    return Pa_Initialize();
}

PaError TerminatePortAudio() {
    std::lock_guard lock(InitializationMutex());
    return Pa_Terminate();
}

}  // namespace platform

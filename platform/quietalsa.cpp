#include "platform/quietalsa.h"

#include <alsa/asoundlib.h>

#include <mutex>

namespace platform {
namespace {

void Quiet(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void QuietAlsaProbes() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(Quiet); });
}

}  // namespace platform

// PortAudio probes every ALSA device it can name, and on a machine without sound cards ALSA
// reports each failed probe on standard error. The program does not use ALSA otherwise: every
// user of PortAudio calls this before it first starts PortAudio. Safe from any thread.
#pragma once

namespace platform {

void QuietAlsaProbes();

}  // namespace platform

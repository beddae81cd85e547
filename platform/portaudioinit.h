// PortAudio's initialisation, counted by PortAudio itself, is not safe to run on two threads at
// once; the song list's preview opens and closes its output on a thread of its own while the
// user-interface thread opens the microphone and the accompaniment. Every part of the program
// initialises and terminates PortAudio through these, one thread at a time.
#pragma once

#include <portaudio.h>

namespace platform {

PaError InitializePortAudio();
PaError TerminatePortAudio();

}  // namespace platform

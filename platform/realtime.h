// Scheduling for the threads that feed the sound: a busy desktop must not keep them waiting.
#pragma once

namespace platform {

// Asks for real-time scheduling (SCHED_FIFO at the lowest real-time priority the user's limit
// allows) for the calling thread; where that is not granted, a nicer place among the others (a
// lower nice value). Falls back quietly: false when neither was granted.
bool RaiseThisThread();

}  // namespace platform

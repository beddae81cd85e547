#include "platform/realtime.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace platform {

bool RaiseThisThread() {
    // Real time, within RLIMIT_RTPRIO (root and users granted it by the system's limits).
    rlimit limit{};
    const int lowest = sched_get_priority_min(SCHED_FIFO);
    const bool allowed =
        ::getuid() == 0 || (::getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur >= rlim_t(1));
    if (allowed && lowest >= 0) {
        sched_param param{};
        param.sched_priority = std::max(lowest, 1);
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return true;
    }
    // A lower nice value for this thread alone (Linux schedules threads by their own ids).
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    return ::setpriority(PRIO_PROCESS, thread, -10) == 0;
}

}  // namespace platform

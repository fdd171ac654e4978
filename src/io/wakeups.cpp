// Prompt wake-ups: the threads that wait on the line get a core soon after they wake.
#include "io/wakeups.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <cstdint>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace io {

void preferPromptWakeUps()
{
#ifdef Q_OS_LINUX
    // The kernel's own layout of sched_attr: glibc has no wrapper, and <linux/sched/types.h>
    // clashes with <sched.h>.
    struct Attr
    {
        std::uint32_t size, policy;
        std::uint64_t flags;
        std::int32_t nice;
        std::uint32_t priority;
        std::uint64_t runtime, deadline, period;
        std::uint32_t utilMin, utilMax;
    } attr {};
    // A reply is handed from the worker to the window in well under a millisecond of work, but
    // a woken thread may wait for a busy program's slice to end, up to a scheduler tick (4 ms on
    // a 250 Hz kernel). Since Linux 6.12 an ordinary thread may ask for a shorter slice (its
    // runtime, 0.1 ms at the least), and a woken thread with a shorter slice than the running
    // one may take its core at once. Older kernels ignore the field. Nice value and policy are
    // kept as they are.
    if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0 || attr.policy != SCHED_OTHER)
        return;
    attr.size = sizeof attr;
    attr.runtime = 100000;
    static_cast<void>(syscall(SYS_sched_setattr, 0, &attr, 0));
#endif
}

} // namespace io

#include "platform/Cores.h"

#include <sched.h>

namespace oriel::platform {

unsigned UsableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? unsigned(count) : 1;
}

int CurrentCore()
{
    return ::sched_getcpu();
}

void AvoidCore(int core)
{
    if (core < 0 || core >= CPU_SETSIZE)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0 || !CPU_ISSET(core, &set) || CPU_COUNT(&set) < 2)
        return;
    CPU_CLR(core, &set);
    ::sched_setaffinity(0, sizeof set, &set);
}

} // namespace oriel::platform

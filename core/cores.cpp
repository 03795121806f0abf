#include "cores.h"

#include <malloc.h>

#include <algorithm>
#include <sched.h>
#include <thread>

int UsableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void ReturnLargeFreedBlocks()
{
    // A fixed threshold also stops the C library from raising it after each large free.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
}

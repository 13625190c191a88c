// Which processor cores a thread runs on, for work split between threads.
#pragma once

namespace oriel::platform {

// The cores this process may run on (its affinity, which a container or
// `taskset` may have narrowed below the cores the machine has); at least 1.
unsigned UsableCores();

// The core the calling thread runs on now; -1 when that cannot be told.
int CurrentCore();

// Asks that the calling thread run on any usable core but `core`: for a
// thread just started to work beside its starter, which ran on `core`. A
// new thread is often put on its starter's core and moved away only after
// a few milliseconds, which is as long as such work lasts. Nothing happens
// when `core` is -1 or no other core is usable.
void AvoidCore(int core);

} // namespace oriel::platform

#pragma once
// How many threads a piece of work may use.

// The cores this process may run on (its CPU affinity, which a container or taskset can
// narrow), at least 1.
int UsableCores();

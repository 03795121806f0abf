#pragma once
// How many threads a piece of work may use.

// The cores this process may run on (its CPU affinity, which a container or taskset can
// narrow), at least 1.
int UsableCores();

// Freed blocks of a few megabytes and more go back to the system at once, whichever thread
// freed them. Without it the C library keeps such blocks in the heap of the thread that freed
// them once it has seen one, so a window whose workers decode picture after picture grows by
// each worker's largest decode. For the window, not for the batch, which keeps its blocks
// for the next image on purpose.
void ReturnLargeFreedBlocks();

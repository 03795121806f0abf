#pragma once
// What the tests of the engine's saving reach into; the program never calls these.

// With false, pending saves use the hidden file beside the target, as on a file system that
// cannot make unnamed files. True by default.
void PxAllowUnnamedPendingFilesForTests(bool allowed);

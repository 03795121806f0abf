#pragma once
// What the tests of the image list reach into; the program never calls these.

// Forgets the failed files and the thumbnail-limit notice that all lists share.
void ResetImageListSharedStateForTests();

#pragma once
// What the tests of backups reach into; the program never calls these.

// Forgets the folder of this run, so that the next EnsureBackupFolder makes a fresh one.
void ResetBackupFolderForTests();

#pragma once
// What the tests of backups reach into; the program never calls these.

// Forgets the folder of this run, so that the next EnsureBackupFolder makes a fresh one.
void ResetBackupFolderForTests();
// Removes this run's backup folder, forgets it and empties the undo history: a test starts
// and ends with nothing to undo.
void ResetUndoStateForTests();

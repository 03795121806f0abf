#pragma once
// Two batches that replace the same file at once would each back up the same original and
// replace each other's result, and undo could then no longer tell which came last. Every
// Pixorta process of a user takes this lock on a file from the moment it looks at what stands
// there until it has replaced it, so the second one waits its turn.

#include <QString>

class CPathLock {
public:
    // Waits up to timeoutMs for the lock of path. The locks live beside the undo journal,
    // which every process of the user shares; where no lock can be made at all, nothing is
    // locked and Held() is still true (the journal's hashes still keep the originals).
    explicit CPathLock(const QString &path, int timeoutMs = 30000);
    ~CPathLock();
    CPathLock(const CPathLock &) = delete;
    CPathLock &operator=(const CPathLock &) = delete;

    // False when another process held it for the whole wait.
    bool Held() const { return m_held; }
    // The folder of the lock files (below the journal's folder).
    static QString Folder();

private:
    int m_fd = -1;
    bool m_held = false;
};

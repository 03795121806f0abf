#pragma once
// A save in two halves. The first (PxImage::SaveToPending) encodes into a fresh file in the
// target's folder and may run on any thread; the second (Commit) looks at the target as it
// stands now and puts the file in its place, so whoever keeps the order of changes to the
// user's files can do that part in order. Until committed, nothing the user owns has changed; a
// pending save that is dropped leaves nothing behind.
//
// The file has no name until the commit (O_TMPFILE), so a process killed half way leaves no
// trace in the user's folder. Where the file system cannot make unnamed files it is a hidden
// file ".NAME.pxsave-PID-N-XXXXXXXX" beside the target instead; such files that a killed
// process left are removed by the first save into their folder once they are a day old.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class PxPendingSave {
public:
    PxPendingSave() = default;
    ~PxPendingSave();
    PxPendingSave(PxPendingSave &&other) noexcept;
    PxPendingSave &operator=(PxPendingSave &&other) noexcept;
    PxPendingSave(const PxPendingSave &) = delete;
    PxPendingSave &operator=(const PxPendingSave &) = delete;

    bool IsPending() const { return m_fd >= 0; }
    // The file that Commit replaces (a symbolic link's destination, not the link).
    const std::filesystem::path &Target() const { return m_target; }
    // Where what was encoded can be read while it is pending: "/proc/self/fd/N" for a file
    // without a name, else the hidden file beside the target.
    const std::filesystem::path &EncodedFile() const { return m_encoded; }
    // Empty: a pending save is always a file. For readers that also accept encoded bytes.
    const std::vector<uint8_t> &EncodedBytes() const { return m_bytes; }

    // Puts the encoded file in the target's place in one step, its data on the disk first, so
    // the target is always either the old file or the whole new one. A folder or a
    // write-protected file at the target is left alone (false, empty error: nothing of the
    // engine went wrong); a pipe, socket or device is left alone with "not a regular file".
    // Otherwise the new file takes over the old one's owner and permissions. error gets the
    // engine's text for any other failure.
    bool Commit(std::string *error = nullptr);
    // Commits to path instead, a name in the same folder as the target (the file was encoded
    // there and can only be named there); false, changing nothing, for a path elsewhere.
    bool Retarget(const std::filesystem::path &path);
    // Drops the encoded file; the target stays as it is.
    void Discard();

private:
    friend class PxImage;
    std::filesystem::path m_target;
    // The hidden file's name while the file has one of its own.
    std::filesystem::path m_temp;
    std::filesystem::path m_encoded;
    std::vector<uint8_t> m_bytes;
    int m_fd = -1;
};

#pragma once
// A save in two halves. The first (PxImage::SaveToPending) encodes into a fresh hidden file
// beside the target and may run on any thread; the second (Commit) looks at the target as it
// stands now and renames the file over it, so whoever keeps the order of changes to the user's
// files can do that part in order. Until committed, nothing the user owns has changed; a
// pending save that is dropped deletes its file.

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

    bool IsPending() const { return !m_temp.empty() || m_direct; }
    // The file that Commit replaces (a symbolic link's destination, not the link).
    const std::filesystem::path &Target() const { return m_target; }
    // What was encoded: the hidden file beside the target, or for a device or pipe the bytes
    // themselves (then the path is empty).
    const std::filesystem::path &EncodedFile() const { return m_temp; }
    const std::vector<uint8_t> &EncodedBytes() const { return m_bytes; }

    // Replaces the target with the encoded file: a folder or a write-protected file at the
    // target is left alone (false, empty error: nothing of the engine went wrong), a device
    // or pipe is written to directly. Otherwise the new file takes over the old one's owner
    // and permissions. error gets the engine's text for any other failure.
    bool Commit(std::string *error = nullptr);
    // Deletes the encoded file; the target stays as it is.
    void Discard();

private:
    friend class PxImage;
    std::filesystem::path m_target;
    std::filesystem::path m_temp;
    // A device or pipe at the target cannot be replaced; its bytes wait here instead.
    std::vector<uint8_t> m_bytes;
    bool m_direct = false;
};

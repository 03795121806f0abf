#pragma once
// The engine's stream: every codec reads and writes through it, so the same code serves
// files on disk, memory buffers (tests, fuzzing) and the atomic save.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

// The reason the engine gives for a pipe, socket or device where a file was expected.
inline constexpr const char *kPxNotRegularFile = "not a regular file";

// Opens path for reading when it is a regular file (a link to one counts): a descriptor, or -1
// with errno. Nothing else is ever opened, so a pipe without a writer or a device cannot block
// the caller, not even one swapped in between the look and the open. *special is set when
// something other than a folder (a pipe, socket or device) was refused; a folder fails with
// EISDIR.
int PxOpenRegularFile(const std::filesystem::path &path, bool *special = nullptr);

class PxFile {
public:
    virtual ~PxFile() = default;
    virtual size_t Read(void *buffer, size_t size, size_t count) = 0;
    virtual size_t Write(const void *buffer, size_t size, size_t count) = 0;
    // origin is SEEK_SET, SEEK_CUR or SEEK_END.
    virtual bool Seek(int64_t offset, int origin) = 0;
    virtual int64_t Tell() = 0;
    virtual int64_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    // True once any read or write has failed (a short read counts), until ClearError().
    virtual bool Error() = 0;
    // Forgets earlier failures, e.g. before content detection tries the next codec.
    virtual void ClearError() {}
    virtual int GetC();
    virtual bool PutC(uint8_t c);
    bool PutWord(uint16_t w); // low byte first
};

class PxIOFile : public PxFile {
public:
    PxIOFile() = default;
    explicit PxIOFile(FILE *fp) : m_fp(fp) {}
    ~PxIOFile() override;
    PxIOFile(const PxIOFile &) = delete;
    PxIOFile &operator=(const PxIOFile &) = delete;

    // A mode that only reads ("r", "rb") opens regular files alone (see PxOpenRegularFile);
    // the others open what stands at path, as fopen does.
    bool Open(const std::filesystem::path &path, const char *mode);
    // Takes fd over (it is closed on failure too).
    bool OpenDescriptor(int fd, const char *mode);
    // True when the last Open refused a pipe, socket or device.
    bool RefusedSpecialFile() const { return m_refusedSpecial; }
    // Flushes and closes; false when anything written did not reach the file.
    bool Close();
    FILE *GetFP() const { return m_fp; }

    size_t Read(void *buffer, size_t size, size_t count) override;
    size_t Write(const void *buffer, size_t size, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    int64_t Size() override;
    bool Flush() override;
    bool Eof() override;
    bool Error() override;
    void ClearError() override;
    int GetC() override;
    bool PutC(uint8_t c) override;

private:
    FILE *m_fp = nullptr;
    bool m_owned = false;
    bool m_failed = false;
    bool m_refusedSpecial = false;
};

// Reads from a caller's buffer, or writes into a growing buffer of its own.
class PxMemFile : public PxFile {
public:
    PxMemFile() = default;
    PxMemFile(const uint8_t *data, size_t size) : m_readOnly(data), m_size(size) {}

    const std::vector<uint8_t> &Buffer() const { return m_buffer; }

    size_t Read(void *buffer, size_t size, size_t count) override;
    size_t Write(const void *buffer, size_t size, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    int64_t Size() override;
    bool Flush() override { return true; }
    bool Eof() override;
    bool Error() override { return m_failed; }
    void ClearError() override { m_failed = false; }
    int GetC() override;
    bool PutC(uint8_t c) override;

private:
    const uint8_t *Data() const { return m_readOnly ? m_readOnly : m_buffer.data(); }
    const uint8_t *m_readOnly = nullptr;
    std::vector<uint8_t> m_buffer;
    size_t m_size = 0;
    size_t m_pos = 0;
    bool m_eof = false;
    bool m_failed = false;
};

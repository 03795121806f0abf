/* A disk that fails on cue, for the tests of what a failure must never cost. Preloaded into a
 * program (LD_PRELOAD), it counts the calls that write, sync, rename or link files below
 * PIXORTA_FAIL_ROOT and makes the PIXORTA_FAIL_AT-th of them fail, and every one after it
 * (a disk that is full stays full): writes with ENOSPC, syncs with EIO. PIXORTA_FAIL_AT=0
 * fails nothing; PIXORTA_FAIL_COUNT names a file that receives how many calls were counted,
 * so a test knows every position there is to fail. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

static atomic_long counted;
static long failAt = -1;
static const char *root;
static size_t rootLength;

__attribute__((constructor)) static void Setup(void)
{
    if (failAt >= 0)
        return;
    const char *at = getenv("PIXORTA_FAIL_AT");
    root = getenv("PIXORTA_FAIL_ROOT");
    rootLength = root ? strlen(root) : 0;
    failAt = at ? atol(at) : 0;
}

static int Below(const char *path)
{
    Setup();
    return root && path && strncmp(path, root, rootLength) == 0;
}

static int FdBelow(int fd)
{
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return 0;
    target[n] = 0;
    return Below(target);
}

/* True when this call is to fail: it is counted, and at or past the position. */
static int Fails(int counts, int err)
{
    Setup();
    if (!counts)
        return 0;
    const long n = atomic_fetch_add(&counted, 1) + 1;
    if (failAt > 0 && n >= failAt) {
        errno = err;
        return 1;
    }
    return 0;
}

#define REAL(name)                                                                         \
    static __typeof__(&name) real_##name;                                                  \
    if (!real_##name)                                                                      \
    real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

ssize_t write(int fd, const void *buffer, size_t size)
{
    REAL(write);
    if (fd > 2 && Fails(FdBelow(fd), ENOSPC))
        return -1;
    return real_write(fd, buffer, size);
}

ssize_t pwrite(int fd, const void *buffer, size_t size, off_t offset)
{
    REAL(pwrite);
    if (Fails(FdBelow(fd), ENOSPC))
        return -1;
    return real_pwrite(fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void *buffer, size_t size, off_t offset)
{
    REAL(pwrite64);
    if (Fails(FdBelow(fd), ENOSPC))
        return -1;
    return real_pwrite64(fd, buffer, size, offset);
}

ssize_t writev(int fd, const struct iovec *iov, int count)
{
    REAL(writev);
    if (fd > 2 && Fails(FdBelow(fd), ENOSPC))
        return -1;
    return real_writev(fd, iov, count);
}

size_t fwrite(const void *buffer, size_t size, size_t count, FILE *stream)
{
    REAL(fwrite);
    const int fd = fileno(stream);
    if (fd > 2 && Fails(FdBelow(fd), ENOSPC))
        return 0;
    return real_fwrite(buffer, size, count, stream);
}

int fflush(FILE *stream)
{
    REAL(fflush);
    const int fd = stream ? fileno(stream) : -1;
    if (fd > 2 && Fails(FdBelow(fd), ENOSPC))
        return EOF;
    return real_fflush(stream);
}

int fclose(FILE *stream)
{
    REAL(fclose);
    const int fd = fileno(stream);
    const int fails = fd > 2 && Fails(FdBelow(fd), ENOSPC);
    const int result = real_fclose(stream);
    if (fails) {
        errno = ENOSPC;
        return EOF;
    }
    return result;
}

int fsync(int fd)
{
    REAL(fsync);
    if (Fails(FdBelow(fd), EIO))
        return -1;
    return real_fsync(fd);
}

int fdatasync(int fd)
{
    REAL(fdatasync);
    if (Fails(FdBelow(fd), EIO))
        return -1;
    return real_fdatasync(fd);
}

int rename(const char *from, const char *to)
{
    REAL(rename);
    if (Fails(Below(from) || Below(to), ENOSPC))
        return -1;
    return real_rename(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    REAL(renameat);
    if (Fails(Below(from) || Below(to), ENOSPC))
        return -1;
    return real_renameat(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    REAL(renameat2);
    if (Fails(Below(from) || Below(to), ENOSPC))
        return -1;
    return real_renameat2(fromDir, from, toDir, to, flags);
}

int linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    REAL(linkat);
    if (Fails(Below(to), ENOSPC))
        return -1;
    return real_linkat(fromDir, from, toDir, to, flags);
}

ssize_t sendfile(int out, int in, off_t *offset, size_t count)
{
    REAL(sendfile);
    if (Fails(FdBelow(out), ENOSPC))
        return -1;
    return real_sendfile(out, in, offset, count);
}

ssize_t copy_file_range(int in, off_t *inOffset, int out, off_t *outOffset, size_t count,
                        unsigned flags)
{
    REAL(copy_file_range);
    if (Fails(FdBelow(out), ENOSPC))
        return -1;
    return real_copy_file_range(in, inOffset, out, outOffset, count, flags);
}

__attribute__((destructor)) static void Report(void)
{
    const char *file = getenv("PIXORTA_FAIL_COUNT");
    if (!file)
        return;
    REAL(write);
    const int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return;
    char text[32];
    const int n = snprintf(text, sizeof text, "%ld\n", atomic_load(&counted));
    real_write(fd, text, (size_t)n);
    close(fd);
}

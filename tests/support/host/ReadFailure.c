/* A library of the build machine, loaded into a program under test through
 * LD_PRELOAD, that makes one file read like a disk with a bad sector: every
 * read of the file at READ_FAILURE_OFFSET or beyond fails with EIO, and one
 * that reaches it stops there. READ_FAILURE_PATH names the file. Under Wine
 * it acts on the Linux reads of the Wine process as well. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static int IsFailingFile(int descriptor, off_t* failAt) {
    static char target[PATH_MAX];
    static int known = 0;
    if (known == 0) {
        const char* path = getenv("READ_FAILURE_PATH");
        const char* offset = getenv("READ_FAILURE_OFFSET");
        known = path != NULL && offset != NULL && realpath(path, target) != NULL ? 1 : -1;
    }
    if (known < 0) {
        return 0;
    }
    char link[64];
    char name[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    const ssize_t length = readlink(link, name, sizeof name - 1);
    if (length < 0) {
        return 0;
    }
    name[length] = 0;
    *failAt = (off_t)strtoll(getenv("READ_FAILURE_OFFSET"), NULL, 10);
    return strcmp(name, target) == 0;
}

/* The count that may be read at position, or -1 with errno set. */
static ssize_t Allowed(int descriptor, off_t position, size_t count) {
    off_t failAt = 0;
    if (!IsFailingFile(descriptor, &failAt)) {
        return (ssize_t)count;
    }
    if (position >= failAt) {
        errno = EIO;
        return -1;
    }
    return (ssize_t)((off_t)count < failAt - position ? (off_t)count : failAt - position);
}

ssize_t read(int descriptor, void* buffer, size_t count) {
    static ssize_t (*real)(int, void*, size_t);
    if (real == NULL) {
        real = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    }
    const ssize_t allowed = Allowed(descriptor, lseek(descriptor, 0, SEEK_CUR), count);
    return allowed < 0 ? -1 : real(descriptor, buffer, (size_t)allowed);
}

ssize_t __read_chk(int descriptor, void* buffer, size_t count, size_t size) {
    (void)size;
    return read(descriptor, buffer, count);
}

ssize_t pread(int descriptor, void* buffer, size_t count, off_t offset) {
    static ssize_t (*real)(int, void*, size_t, off_t);
    if (real == NULL) {
        real = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread");
    }
    const ssize_t allowed = Allowed(descriptor, offset, count);
    return allowed < 0 ? -1 : real(descriptor, buffer, (size_t)allowed, offset);
}

ssize_t pread64(int descriptor, void* buffer, size_t count, off_t offset) {
    return pread(descriptor, buffer, count, offset);
}

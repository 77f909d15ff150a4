/* A preload library that makes the Nth call of one C library function fail, for the fault
 * sweep over the Linux program. It stands between the program and libc for every call that
 * the program's file, directory and memory code makes (and for the allocations inside libc,
 * which reach malloc through its PLT).
 *
 *   PAGEHOP_FAULT=name:N      fail the Nth call of `name` (1-based)
 *   PAGEHOP_FAULT_STICKY=1    and every later call of it too (a full disk, a dead device)
 *   PAGEHOP_FAULT_COUNTS=path at exit, write "name count" for every function to the file
 *   PAGEHOP_TRACE=path        append "fsync", "unlink <path>" or "rename <from> <to>" to the
 *                             file at each such call
 *   PAGEHOP_RENAME=from:to    rename `from` to `to` just before the call named by
 *   PAGEHOP_RENAME_AT=name:N  (1-based), which then goes on as usual: a page replaced by an
 *                             editor, or the folder renamed, while the run is at that point
 *   PAGEHOP_PAUSE=name:N      just before the Nth call of `name`, create the file
 *   PAGEHOP_PAUSE_FILE=path   `path` and wait until it is gone (60 s at most), so that a test
 *                             can change the folder at exactly that point, and then go on
 *   PAGEHOP_NO_RENAME_FLAGS=1 renameat2 with flags fails with EINVAL, as on a file system that
 *                             cannot rename without replacing (NFS, 9p); not counted as a fault
 *   PAGEHOP_NO_LINKS=1        link fails with EPERM, as on a file system that makes no hard
 *                             links (FAT, exFAT); not counted as a fault
 *
 * A failing call does what the system does when it fails: it returns the error value with
 * errno set; close closes the descriptor all the same; write writes nothing (ENOSPC, as a full
 * disk). The console goes through stdio, whose own writes do not pass through these symbols:
 * it is neither counted nor failed, as it reports the failures and is not the device that fills
 * up. Counting starts when the library is initialised, before the program's main. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum {
  F_READ, F_WRITE, F_LSEEK64, F_CLOSE, F_FTRUNCATE64, F_FSYNC, F_OPEN, F_FSTAT, F_LSTAT, F_STAT,
  F_FACCESSAT, F_OPENDIR, F_READDIR64, F_FSTATAT64, F_GETCWD, F_UNLINK, F_RENAMEAT2, F_RENAME,
  F_LINK, F_FCHMOD, F_MALLOC, F_CALLOC, F_REALLOC, F_COUNT
};

static const char* const NAMES[F_COUNT] = {
    "read",   "write",   "lseek64",   "close",   "ftruncate64", "fsync",     "open",
    "fstat",  "lstat",   "stat",      "faccessat", "opendir",   "readdir64", "fstatat64",
    "getcwd", "unlink",  "renameat2", "rename",  "link",        "fchmod",    "malloc",
    "calloc", "realloc"};

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);

static unsigned long calls[F_COUNT];
static int armed;          /* counting is on */
static int target = -1;    /* the function that fails */
static unsigned long nth;  /* its call that fails first */
static int sticky;         /* later calls fail too */
static const char* counts_path;
static int trace = -1;                 /* PAGEHOP_TRACE, open for appending */
static int rename_call = -1;           /* PAGEHOP_RENAME_AT: the call before which ... */
static unsigned long rename_nth;       /* ... its Nth ... */
static char rename_from[4096], rename_to[4096];  /* ... PAGEHOP_RENAME is carried out */
static int pause_call = -1;            /* PAGEHOP_PAUSE: the call before which ... */
static unsigned long pause_nth;        /* ... its Nth ... */
static const char* pause_file;         /* ... the run waits while this file exists */
static int no_rename_flags;            /* PAGEHOP_NO_RENAME_FLAGS */
static int no_links;                   /* PAGEHOP_NO_LINKS */

static void* lookup(int f);

/* Makes the pause file and waits, a millisecond at a time, until the test has removed it. */
static void pause_here(void) {
  int (*open_real)(const char*, int, ...) = (int (*)(const char*, int, ...))lookup(F_OPEN);
  int fd = open_real(pause_file, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) ((int (*)(int))lookup(F_CLOSE))(fd);
  struct timespec millisecond = {0, 1000000};
  for (int i = 0; i < 60000 && access(pause_file, F_OK) == 0; ++i) nanosleep(&millisecond, NULL);
}

/* Counts the call, carries out a rename or a pause due before it, and tells whether it is to
 * fail. */
static int fails(int f) {
  if (!armed) return 0;
  unsigned long n = ++calls[f];
  if (f == rename_call && n == rename_nth) {
    ((int (*)(const char*, const char*))lookup(F_RENAME))(rename_from, rename_to);
  }
  if (f == pause_call && n == pause_nth && pause_file) pause_here();
  return f == target && (n == nth || (sticky && n > nth));
}

static void trace_line(const char* what, const char* path) {
  if (trace < 0) return;
  char line[4200];
  int length = snprintf(line, sizeof line, "%s%s%s\n", what, path ? " " : "", path ? path : "");
  if (length > 0) {
    ((ssize_t(*)(int, const void*, size_t))lookup(F_WRITE))(
        trace, line, (size_t)length < sizeof line ? (size_t)length : sizeof line);
  }
}

/* The function named before the colon of `setting` and the number after it. */
static int call_of(const char* setting, unsigned long* n) {
  const char* colon = setting ? strchr(setting, ':') : NULL;
  if (!colon) return -1;
  *n = strtoul(colon + 1, NULL, 10);
  for (int f = 0; f < F_COUNT; ++f) {
    size_t length = (size_t)(colon - setting);
    if (strlen(NAMES[f]) == length && strncmp(NAMES[f], setting, length) == 0) return f;
  }
  return -1;
}

/* The C library's own functions, looked up before counting starts, so that no lookup runs
 * (and allocates) while a fault is armed. */
static void* real[F_COUNT];
static void* lookup(int f) {
  if (!real[f]) real[f] = dlsym(RTLD_NEXT, NAMES[f]);
  return real[f];
}
#define REAL(type, f) ((type)lookup(f))

__attribute__((constructor)) static void start(void) {
  for (int f = 0; f < F_MALLOC; ++f) lookup(f);
  target = call_of(getenv("PAGEHOP_FAULT"), &nth);
  sticky = getenv("PAGEHOP_FAULT_STICKY") != NULL;
  counts_path = getenv("PAGEHOP_FAULT_COUNTS");
  const char* trace_path = getenv("PAGEHOP_TRACE");
  if (trace_path) trace = REAL(int (*)(const char*, int, ...), F_OPEN)(
                      trace_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const char* names = getenv("PAGEHOP_RENAME");
  const char* colon = names ? strchr(names, ':') : NULL;
  if (colon && (size_t)(colon - names) < sizeof rename_from && strlen(colon + 1) < sizeof rename_to) {
    memcpy(rename_from, names, (size_t)(colon - names));
    strcpy(rename_to, colon + 1);
    rename_call = call_of(getenv("PAGEHOP_RENAME_AT"), &rename_nth);
  }
  pause_call = call_of(getenv("PAGEHOP_PAUSE"), &pause_nth);
  pause_file = getenv("PAGEHOP_PAUSE_FILE");
  no_rename_flags = getenv("PAGEHOP_NO_RENAME_FLAGS") != NULL;
  no_links = getenv("PAGEHOP_NO_LINKS") != NULL;
  armed = 1;
}

__attribute__((destructor)) static void stop(void) {
  armed = 0;
  if (!counts_path) return;
  FILE* out = fopen(counts_path, "w");
  if (!out) return;
  for (int f = 0; f < F_COUNT; ++f) fprintf(out, "%s %lu\n", NAMES[f], calls[f]);
  fclose(out);
}

/* --- descriptors --------------------------------------------------------------------------- */

int ftruncate64(int fd, off64_t length) {
  if (fails(F_FTRUNCATE64)) return errno = EIO, -1;
  return REAL(int (*)(int, off64_t), F_FTRUNCATE64)(fd, length);
}

int fsync(int fd) {
  trace_line("fsync", NULL);
  if (fails(F_FSYNC)) return errno = EIO, -1;
  return REAL(int (*)(int), F_FSYNC)(fd);
}

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  if (fails(F_OPEN)) return errno = EMFILE, -1;
  return REAL(int (*)(const char*, int, ...), F_OPEN)(path, flags, mode);
}

ssize_t read(int fd, void* dst, size_t bytes) {
  if (fails(F_READ)) return errno = EIO, -1;
  return REAL(ssize_t(*)(int, void*, size_t), F_READ)(fd, dst, bytes);
}

ssize_t write(int fd, const void* src, size_t bytes) {
  if (fails(F_WRITE)) return errno = ENOSPC, -1;
  return REAL(ssize_t(*)(int, const void*, size_t), F_WRITE)(fd, src, bytes);
}

off64_t lseek64(int fd, off64_t offset, int whence) {
  if (fails(F_LSEEK64)) return errno = EIO, -1;
  return REAL(off64_t(*)(int, off64_t, int), F_LSEEK64)(fd, offset, whence);
}

int close(int fd) {
  int failed = fails(F_CLOSE);
  int result = REAL(int (*)(int), F_CLOSE)(fd);
  if (failed) return errno = EIO, -1;
  return result;
}

int fstat(int fd, struct stat* status) {
  if (fails(F_FSTAT)) return errno = EIO, -1;
  return REAL(int (*)(int, struct stat*), F_FSTAT)(fd, status);
}

int lstat(const char* path, struct stat* status) {
  if (fails(F_LSTAT)) return errno = EIO, -1;
  return REAL(int (*)(const char*, struct stat*), F_LSTAT)(path, status);
}

int stat(const char* path, struct stat* status) {
  if (fails(F_STAT)) return errno = EIO, -1;
  return REAL(int (*)(const char*, struct stat*), F_STAT)(path, status);
}

int faccessat(int dir, const char* path, int mode, int flags) {
  if (fails(F_FACCESSAT)) return errno = EIO, -1;
  return REAL(int (*)(int, const char*, int, int), F_FACCESSAT)(dir, path, mode, flags);
}

/* --- directories and names ------------------------------------------------------------------- */

DIR* opendir(const char* path) {
  if (fails(F_OPENDIR)) return errno = EMFILE, NULL;
  return REAL(DIR * (*)(const char*), F_OPENDIR)(path);
}

struct dirent64* readdir64(DIR* stream) {
  if (fails(F_READDIR64)) return errno = EIO, NULL;
  return REAL(struct dirent64 * (*)(DIR*), F_READDIR64)(stream);
}

int fstatat64(int dir, const char* path, struct stat64* status, int flags) {
  if (fails(F_FSTATAT64)) return errno = EIO, -1;
  return REAL(int (*)(int, const char*, struct stat64*, int), F_FSTATAT64)(dir, path, status, flags);
}

char* getcwd(char* buffer, size_t size) {
  if (fails(F_GETCWD)) return errno = EACCES, NULL;
  return REAL(char* (*)(char*, size_t), F_GETCWD)(buffer, size);
}

int unlink(const char* path) {
  trace_line("unlink", path);
  if (fails(F_UNLINK)) return errno = EIO, -1;
  return REAL(int (*)(const char*), F_UNLINK)(path);
}

static void trace_rename(const char* from, const char* to) {
  char both[8200];
  snprintf(both, sizeof both, "%s %s", from, to);
  trace_line("rename", both);
}

/* A rename is traced once it has happened: a file system that refuses the flags refuses the
 * attempt, and the run then renames another way. */
int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned int flags) {
  if (fails(F_RENAMEAT2)) return errno = EIO, -1;
  if (flags && no_rename_flags) return errno = EINVAL, -1;
  int result = REAL(int (*)(int, const char*, int, const char*, unsigned int), F_RENAMEAT2)(
      from_dir, from, to_dir, to, flags);
  if (result == 0) trace_rename(from, to);
  return result;
}

int rename(const char* from, const char* to) {
  if (fails(F_RENAME)) return errno = EIO, -1;
  int result = REAL(int (*)(const char*, const char*), F_RENAME)(from, to);
  if (result == 0) trace_rename(from, to);
  return result;
}

int link(const char* from, const char* to) {
  if (fails(F_LINK)) return errno = EIO, -1;
  if (no_links) return errno = EPERM, -1;
  return REAL(int (*)(const char*, const char*), F_LINK)(from, to);
}

int fchmod(int fd, mode_t mode) {
  if (fails(F_FCHMOD)) return errno = EIO, -1;
  return REAL(int (*)(int, mode_t), F_FCHMOD)(fd, mode);
}

/* --- memory: straight to libc's allocator, so no lookup can recurse ----------------------- */

void* malloc(size_t size) {
  if (fails(F_MALLOC)) return errno = ENOMEM, NULL;
  return __libc_malloc(size);
}

void* calloc(size_t n, size_t size) {
  if (fails(F_CALLOC)) return errno = ENOMEM, NULL;
  return __libc_calloc(n, size);
}

void* realloc(void* block, size_t size) {
  if (fails(F_REALLOC)) return errno = ENOMEM, NULL;
  return __libc_realloc(block, size);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// platform.cpp - clock, folders, files, local time and the rawshark search
// on POSIX.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/text.h"

// ---------------------------------------------------------------- clock

static int64_t RealClock() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

static std::atomic<PerfClockFn> ClockFn{&RealClock};

int64_t PerfCounter() { return ClockFn.load(std::memory_order_relaxed)(); }

int64_t PerfFrequency() { return 1000000000LL; }

void PerfSetClock(PerfClockFn clock) { ClockFn.store(clock ? clock : &RealClock, std::memory_order_relaxed); }

// ---------------------------------------------------------------- folders

static char ProgramFolderText[kPathMax];
static std::once_flag ProgramFolderOnce;
static std::atomic<const char*> ProgramFolderOverride{nullptr};
static char ProgramFolderOverrideText[kPathMax];

static void ProgramFolderInit() {
    char exe[kPathMax];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        TextCopy(ProgramFolderText, sizeof ProgramFolderText, ".");
        return;
    }
    exe[n] = '\0';
    char* slash = strrchr(exe, '/');
    if (slash == exe) {
        slash[1] = '\0';  // the root folder keeps its '/'
    } else if (slash) {
        *slash = '\0';
    }
    TextCopy(ProgramFolderText, sizeof ProgramFolderText, exe);
}

const char* ProgramFolder() {
    const char* o = ProgramFolderOverride.load(std::memory_order_acquire);
    if (o) return o;
    std::call_once(ProgramFolderOnce, ProgramFolderInit);
    return ProgramFolderText;
}

void PlatformSetProgramFolder(const char* folder) {
    if (!folder) {
        ProgramFolderOverride.store(nullptr, std::memory_order_release);
        return;
    }
    TextCopy(ProgramFolderOverrideText, sizeof ProgramFolderOverrideText, folder);
    ProgramFolderOverride.store(ProgramFolderOverrideText, std::memory_order_release);
}

static int JoinPath(const char* folder, const char* name, char* out, size_t size) {
    if (!out || size == 0) return 0;
    out[0] = '\0';
    size_t len = TextCopy(out, size, folder);
    if (len >= size) return 0;
    if (len == 0 || out[len - 1] != '/') {
        if (TextAppend(out, size, "/") >= size) return 0;
    }
    if (TextAppend(out, size, name) >= size) return 0;
    return 1;
}

int DataFolder(char* out, size_t size) {
    if (!out || size == 0) return 0;
    const char* home = getenv("LUMO_HOME");
    if (home && home[0]) {
        size_t len = TextCopy(out, size, home);
        if (len >= size) return 0;
        while (len > 1 && out[len - 1] == '/') out[--len] = '\0';
        return 1;
    }
    const char* program = ProgramFolder();
    if (access(program, W_OK) == 0) {
        return TextCopy(out, size, program) < size;
    }
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return JoinPath(xdg, "lumo", out, size);
    const char* user = getenv("HOME");
    if (!user || !user[0]) user = "/tmp";
    char config[kPathMax];
    if (!JoinPath(user, ".config", config, sizeof config)) return 0;
    return JoinPath(config, "lumo", out, size);
}

int DataFilePath(const char* name, char* out, size_t size) {
    char folder[kPathMax];
    if (!DataFolder(folder, sizeof folder)) return 0;
    return JoinPath(folder, name, out, size);
}

int ProgramFilePath(const char* name, char* out, size_t size) { return JoinPath(ProgramFolder(), name, out, size); }

int DataFolderCreate() {
    char folder[kPathMax];
    if (!DataFolder(folder, sizeof folder)) return 0;
    // mkdir -p: create every missing parent in turn
    for (char* p = folder + 1; *p; ++p) {
        if (*p != '/') continue;
        *p = '\0';
        if (mkdir(folder, 0755) != 0 && errno != EEXIST) {
            *p = '/';
            return 0;
        }
        *p = '/';
    }
    if (mkdir(folder, 0755) != 0 && errno != EEXIST) return 0;
    struct stat st;
    return stat(folder, &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------- files

int FileExists(const char* path) {
    if (!path || !path[0]) return 0;
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// Rewrites path in place: the fallback when no file can be created beside it.
static FILE* OpenInPlace(AtomicFile* file, const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    file->stream = fdopen(fd, "wb");
    if (!file->stream) {
        close(fd);
        return nullptr;
    }
    TextCopy(file->target, sizeof file->target, path);
    return file->stream;
}

// The system's reason for the failure just met (errno); "" when errno is 0:
// the failure was ours (an empty path, a path too long).
static void SetSystemReason(char* err) { ErrorSet(err, "%s", errno ? strerror(errno) : ""); }

// FileAtomicOpen without the reason: errno holds it.
static FILE* AtomicOpen(AtomicFile* file, const char* path) {
    memset(file, 0, sizeof *file);
    if (!path || !path[0]) return nullptr;

    // A symbolic link stays a link: the file it names is replaced.
    char target[kPathMax];
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (!realpath(path, target)) return OpenInPlace(file, path);
    } else if (TextCopy(target, sizeof target, path) >= sizeof target) {
        return nullptr;
    }
    int haveOld = stat(target, &st) == 0;
    if (haveOld && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    // A device or a pipe (/dev/null, /dev/stdout, a FIFO) cannot be
    // replaced, only written to.
    if (haveOld && !S_ISREG(st.st_mode)) return OpenInPlace(file, target);

    const char* slash = strrchr(target, '/');
    std::string folder = slash ? std::string(target, static_cast<size_t>(slash - target) + 1) : std::string();
    std::string base = slash ? std::string(slash + 1) : std::string(target);

    // A unique name beside the target; O_EXCL and the 0666 mode let the umask
    // decide a new file's permissions as it would for a plain create.
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    std::string temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[64];
        snprintf(suffix, sizeof suffix, ".tmp.%d.%u", static_cast<int>(getpid()),
                 counter.fetch_add(1, std::memory_order_relaxed));
        temp = folder + "." + base + suffix;
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        if (errno == EACCES || errno == EROFS || errno == EPERM) return OpenInPlace(file, target);
        return nullptr;
    }
    if (temp.size() >= sizeof file->temp || (haveOld && fchmod(fd, st.st_mode & 07777) != 0)) {
        close(fd);
        unlink(temp.c_str());
        return nullptr;
    }
    file->stream = fdopen(fd, "wb");
    if (!file->stream) {
        close(fd);
        unlink(temp.c_str());
        return nullptr;
    }
    TextCopy(file->temp, sizeof file->temp, temp.c_str());
    TextCopy(file->target, sizeof file->target, target);
    return file->stream;
}

FILE* FileAtomicOpen(AtomicFile* file, const char* path, char* err) {
    errno = 0;
    FILE* out = AtomicOpen(file, path);
    if (!out) SetSystemReason(err);
    return out;
}

// FileAtomicClose without the reason: errno holds it.
static int AtomicClose(AtomicFile* file, int keep) {
    if (!file->stream) return 0;
    int ok = keep ? 1 : 0;
    if (ok && (fflush(file->stream) != 0 || ferror(file->stream))) ok = 0;
    if (ok && file->temp[0] && fsync(fileno(file->stream)) != 0) ok = 0;
    if (fclose(file->stream) != 0) ok = 0;
    file->stream = nullptr;
    if (file->temp[0]) {
        if (ok && rename(file->temp, file->target) != 0) ok = 0;
        if (!ok) {
            int reason = errno;  // the failure's, not the clean-up's
            unlink(file->temp);
            errno = reason;
        }
    }
    return ok;
}

int FileAtomicClose(AtomicFile* file, int keep, char* err) {
    // errno is not cleared: a stream whose error flag an earlier write set
    // fails here with that write's reason.
    int ok = AtomicClose(file, keep);
    if (!ok && keep) SetSystemReason(err);
    return ok;
}

int FileWriteAtomic(const char* path, const void* data, size_t length, char* err) {
    if (!data && length) {
        ErrorClear(err);
        return 0;
    }
    AtomicFile file;
    FILE* out = FileAtomicOpen(&file, path, err);
    if (!out) return 0;
    errno = 0;
    int ok = length == 0 || fwrite(data, 1, length, out) == length;
    if (!ok) {
        SetSystemReason(err);
        FileAtomicClose(&file, 0, nullptr);
        return 0;
    }
    return FileAtomicClose(&file, 1, err);
}

// ---------------------------------------------------------------- local time

int LocalTimeOf(int64_t epochMicros, LocalTime* out) {
    memset(out, 0, sizeof *out);
    int64_t seconds = epochMicros / 1000000;
    int64_t micro = epochMicros % 1000000;
    if (micro < 0) {
        micro += 1000000;
        --seconds;
    }
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (!localtime_r(&t, &tm)) return 0;
    out->year = tm.tm_year + 1900;
    out->month = tm.tm_mon + 1;
    out->day = tm.tm_mday;
    out->hour = tm.tm_hour;
    out->minute = tm.tm_min;
    out->second = tm.tm_sec;
    out->micro = static_cast<int32_t>(micro);
    out->utcOffset = static_cast<int32_t>(tm.tm_gmtoff);
    return 1;
}

// ---------------------------------------------------------------- rawshark

static int IsRawsharkName(const char* path) {
    const char* slash = strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    return strcmp(base, "rawshark") == 0;
}

int PlatformFindRawshark(char* path, size_t size) {
    if (!path || size == 0) return 0;
    if (path[0] && FileExists(path) && IsRawsharkName(path)) return 1;
    path[0] = '\0';

    const char* env = getenv("PATH");
    if (env) {
        std::string dirs(env);
        size_t start = 0;
        while (start <= dirs.size()) {
            size_t end = dirs.find(':', start);
            if (end == std::string::npos) end = dirs.size();
            std::string dir = dirs.substr(start, end - start);
            start = end + 1;
            if (dir.empty() || dir[0] != '/') continue;  // relative PATH entries are not trusted
            std::string candidate = dir + (dir.back() == '/' ? "" : "/") + "rawshark";
            if (FileExists(candidate.c_str()) && access(candidate.c_str(), X_OK) == 0) {
                if (TextCopy(path, size, candidate.c_str()) < size) return 1;
                path[0] = '\0';
            }
        }
    }
    if (FileExists("/usr/bin/rawshark")) {
        if (TextCopy(path, size, "/usr/bin/rawshark") < size) return 1;
        path[0] = '\0';
    }
    return 0;
}

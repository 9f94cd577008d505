// The threads of this process, by id, as the kernel lists them.
#ifndef ORVA_TESTS_THREADS_H
#define ORVA_TESTS_THREADS_H

#include <dirent.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>

inline std::set<std::string> ThreadIds()
{
    std::set<std::string> ids;
    if (DIR *tasks = opendir("/proc/self/task")) {
        while (dirent *entry = readdir(tasks))
            if (entry->d_name[0] != '.')
                ids.insert(entry->d_name);
        closedir(tasks);
    }
    return ids;
}

inline int ThreadCount() { return static_cast<int>(ThreadIds().size()); }

// No thread but those in `before` runs: one that was ending as `before` was
// taken may leave the list later, so only new ones count.
inline bool NoneNew(const std::set<std::string> &before)
{
    const std::set<std::string> now = ThreadIds();
    return std::includes(before.begin(), before.end(), now.begin(), now.end());
}

inline long ThreadId() { return syscall(SYS_gettid); }

// Whether thread `tid` of this process is blocked in system call `number`:
// SYS_futex waits for a lock, SYS_clock_nanosleep sleeps.
inline bool WaitsIn(long tid, long number)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/self/task/%ld/syscall", tid);
    long current = -1;
    if (FILE *file = fopen(path, "r")) {
        if (fscanf(file, "%ld", &current) != 1)
            current = -1;
        fclose(file);
    }
    return current == number;
}

#endif

// The process's file descriptors and threads from /proc, its heap from the allocator in use, a thread's CPU time.
#include "platform/platform.h"

#include <dirent.h>
#include <time.h>

#include <cstdio>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVEX_ASAN_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ORVEX_ASAN_ALLOCATOR 1
#endif
#if defined(ORVEX_ASAN_ALLOCATOR)
// The sanitizer runtime's count (declared here: not every compiler ships its header).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace platform {

namespace {
uint64_t CountOpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return 0;
    uint64_t n = 0;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++n;
    closedir(dir);
    return n > 0 ? n - 1 : 0;  // the directory's own descriptor
}

// A "Name:   value" line of /proc/self/status, in its own unit (kB for sizes).
uint64_t StatusValue(const char* name) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    uint64_t value = 0;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            unsigned long long v = 0;
            if (std::sscanf(line + length + 1, "%llu", &v) == 1) value = v;
            break;
        }
    }
    std::fclose(f);
    return value;
}

uint64_t HeapBytesInUse() {
#if defined(ORVEX_ASAN_ALLOCATOR)
    return __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#else
    return StatusValue("VmRSS") * 1024u;
#endif
}
}  // namespace

uint64_t ThreadCpuUs() {
    timespec t{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return 0;
    return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

ProcessResources CurrentProcessResources() {
    ProcessResources r;
    r.handles = CountOpenDescriptors();
    r.threads = StatusValue("Threads");
    r.memoryBytes = HeapBytesInUse();
    return r;
}

}  // namespace platform

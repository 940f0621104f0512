#include "tests/support/soak.h"

#include <algorithm>
#include <cstdio>

#include "tests/support/host_session.h"

SoakReport RunSoak(const J2534Functions& f, int warmUp, int total, uint32_t readTimeoutMs) {
    SoakReport r;
    for (int i = 0; i < total; ++i) {
        if (i == warmUp) r.afterWarmUp = r.peak = platform::CurrentProcessResources();
        const HostSession s = RunHostSession(f, readTimeoutMs);
        const std::string failure = SessionFailure(s);
        if (!failure.empty()) {
            r.failure = "session " + std::to_string(i + 1) + ": " + failure;
            break;
        }
        ++r.sessions;
        if (i >= warmUp) {
            const platform::ProcessResources now = platform::CurrentProcessResources();
            r.peak.handles = std::max(r.peak.handles, now.handles);
            r.peak.threads = std::max(r.peak.threads, now.threads);
            r.peak.memoryBytes = std::max(r.peak.memoryBytes, now.memoryBytes);
        }
    }
    r.atEnd = platform::CurrentProcessResources();
    return r;
}

std::string SoakGrowthBeyondBounds(const SoakReport& r) {
    std::string out;
    auto check = [&out](const char* what, uint64_t before, uint64_t after, uint64_t bound) {
        if (after > before + bound)
            out += std::string(what) + " grew from " + std::to_string(before) + " to " + std::to_string(after) +
                   " (bound +" + std::to_string(bound) + ")\n";
    };
    check("handles", r.afterWarmUp.handles, r.atEnd.handles, kSoakHandleGrowth);
    check("threads", r.afterWarmUp.threads, r.atEnd.threads, kSoakThreadGrowth);
    check("memory bytes", r.afterWarmUp.memoryBytes, r.atEnd.memoryBytes, kSoakMemoryGrowth);
    return out;
}

std::string SoakSummary(const SoakReport& r) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%d sessions; after the warm-up / at the end / peak: handles %llu / %llu / %llu, threads %llu / "
                  "%llu / %llu, memory %llu / %llu / %llu KiB",
                  r.sessions, static_cast<unsigned long long>(r.afterWarmUp.handles),
                  static_cast<unsigned long long>(r.atEnd.handles), static_cast<unsigned long long>(r.peak.handles),
                  static_cast<unsigned long long>(r.afterWarmUp.threads),
                  static_cast<unsigned long long>(r.atEnd.threads), static_cast<unsigned long long>(r.peak.threads),
                  static_cast<unsigned long long>(r.afterWarmUp.memoryBytes / 1024),
                  static_cast<unsigned long long>(r.atEnd.memoryBytes / 1024),
                  static_cast<unsigned long long>(r.peak.memoryBytes / 1024));
    return line;
}

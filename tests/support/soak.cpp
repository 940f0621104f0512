#include "tests/support/soak.h"

#include <algorithm>
#include <cstdio>

#include "dpdu_api/pdu_api.h"
#include "tests/support/host_session.h"

namespace {
// The resources once threads that are ending have gone: the periodic sender leaves a few
// milliseconds after the close, and is not kept. Taken when the thread count has stayed the same
// for five looks 20 ms apart (at most 3 s).
platform::ProcessResources SettledResources() {
    platform::ProcessResources now = platform::CurrentProcessResources();
    int same = 0;
    for (int i = 0; i < 150 && same < 5; ++i) {
        platform::SleepMs(20);
        const platform::ProcessResources later = platform::CurrentProcessResources();
        same = later.threads == now.threads ? same + 1 : 0;
        now = later;
    }
    return now;
}
}  // namespace

SoakReport RunSoak(const J2534Functions& f, int warmUp, int total, uint32_t readTimeoutMs) {
    SoakReport r;
    r.warmUp = static_cast<uint64_t>(warmUp);
    for (int i = 0; i < total; ++i) {
        if (i == warmUp) r.afterWarmUp = r.peak = SettledResources();
        const HostSession s = RunHostSession(f, readTimeoutMs);
        const std::string failure = SessionFailure(s);
        if (!failure.empty()) {
            r.failure = "session " + std::to_string(i + 1) + ": " + failure;
            break;
        }
        ++r.sessions;
        if (i >= warmUp && (i - warmUp) % 10 == 9) {  // counting handles costs much under Wine
            const platform::ProcessResources now = platform::CurrentProcessResources();
            r.peak.handles = std::max(r.peak.handles, now.handles);
            r.peak.threads = std::max(r.peak.threads, now.threads);
            r.peak.memoryBytes = std::max(r.peak.memoryBytes, now.memoryBytes);
        }
    }
    r.atEnd = SettledResources();
    return r;
}

namespace {
// Loads the library, hands it to use and unloads it: once to start, then ten times measured.
template <typename Use>
platform::ProcessResources LoadCycleCost(const std::string& libraryPath, Use use) {
    auto cycle = [&] {
        platform::LibraryHandle lib = platform::LoadLibraryFile(libraryPath);
        if (!lib) return;
        use(lib);
        platform::FreeLibraryFile(lib);
    };
    constexpr int kRounds = 10;
    cycle();
    const platform::ProcessResources before = platform::CurrentProcessResources();
    for (int i = 0; i < kRounds; ++i) cycle();
    const platform::ProcessResources after = platform::CurrentProcessResources();
    auto perRound = [](uint64_t a, uint64_t b) { return b > a ? (b - a + kRounds - 1) / kRounds : 0; };
    platform::ProcessResources cost;
    cost.handles = perRound(before.handles, after.handles);
    cost.threads = perRound(before.threads, after.threads);
    cost.memoryBytes = perRound(before.memoryBytes, after.memoryBytes);
    return cost;
}
}  // namespace

platform::ProcessResources VendorLibraryCycleCost(const std::string& libraryPath) {
    return LoadCycleCost(libraryPath, [](platform::LibraryHandle lib) {
        auto construct = reinterpret_cast<PDUConstructFn>(platform::GetLibrarySymbol(lib, "PDUConstruct"));
        auto destruct = reinterpret_cast<PDUDestructFn>(platform::GetLibrarySymbol(lib, "PDUDestruct"));
        if (construct && destruct && construct(nullptr, nullptr) == PDU_STATUS_NOERROR) destruct();
    });
}

platform::ProcessResources DriverLibraryCycleCost(const std::string& libraryPath) {
    return LoadCycleCost(libraryPath, [](platform::LibraryHandle lib) {
        J2534Functions f;
        if (!BindJ2534Functions([lib](const char* name) { return platform::GetLibrarySymbol(lib, name); }, &f)) return;
        j2534::ULONG device = 0;
        if (f.Open(nullptr, &device) == 0) f.Close(device);
    });
}

std::string SoakGrowthBeyondBounds(const SoakReport& r, const platform::ProcessResources& perSession) {
    const uint64_t sessions = r.sessions > 0 ? static_cast<uint64_t>(r.sessions) : 0;
    const uint64_t measured = sessions > r.warmUp ? sessions - r.warmUp : 0;
    std::string out;
    auto check = [&out](const char* what, uint64_t before, uint64_t after, uint64_t bound) {
        if (after > before + bound)
            out += std::string(what) + " grew from " + std::to_string(before) + " to " + std::to_string(after) +
                   " (bound +" + std::to_string(bound) + ")\n";
    };
    check("handles", r.afterWarmUp.handles, r.atEnd.handles, kSoakHandleGrowth + measured * perSession.handles);
    check("threads", r.afterWarmUp.threads, r.atEnd.threads, kSoakThreadGrowth + measured * perSession.threads);
    check("memory bytes", r.afterWarmUp.memoryBytes, r.atEnd.memoryBytes,
          kSoakMemoryGrowth + measured * perSession.memoryBytes);
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

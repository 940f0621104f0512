// Download speed through the driver against the limit of the path: a 256 KiB image in 0x36
// blocks of 4094 bytes to a simulated ECU on a bus-timed 500 kbit/s CAN bus, once over the
// VCI's own ISO-TP (limit: the bus, seven payload bytes per 8-byte frame) and once over the
// driver's software ISO-TP on a raw CAN link (limit: seven bytes per millisecond of pacing).
#include <chrono>
#include <cstdio>
#include <string>

#include "benchmarks/bench_support.h"
#include "benchmarks/direct_dpdu.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"
#include "tools/passthru/j2534_library.h"
#include "tools/passthru/uds_session.h"

namespace {

[[noreturn]] void Fail(const std::string& what) { BenchFail("flash_throughput", what); }

constexpr size_t kImageBytes = 256 * 1024;
constexpr size_t kBlockBytes = 4094;  // 0x36, the block counter and 4092 bytes of the image

// Bits of a classic CAN data frame with an 11-bit id and 8 data bytes, stuff bits counted as
// one per five bits of the stuffed part: the frame time the simulated bus charges.
constexpr double kFrameBits = 47.0 + 64.0 + (34.0 + 64.0) / 5.0;
constexpr double kBusLimit = 7.0 / (kFrameBits / 500000.0);  // bytes per second
constexpr double kPacingLimit = 7000.0;

double DownloadBytesPerSecond(const std::string& name, const std::string& driverIni) {
    const std::string driverPath =
        DriverWithVciSim("flash_throughput", name,
                         "[General]\nTiming=bus\nCanBaudrate=500000\n[Ecu1]\nName=Engine\nMaxBlockLength=4094\n", driverIni);
    J2534Library lib;
    std::string error;
    if (!LoadJ2534Library(driverPath, &lib, &error)) Fail(error);
    UdsSession session;
    if (!OpenUdsSession(&lib, SessionOptions(), &session, &error)) Fail(error);
    auto positive = [&](const Bytes& request) {
        Answer a = RequestAnswer(session, request);
        if (!a.received || ClassifyAnswer(request[0], a.data) != AnswerKind::Positive)
            Fail(name + ": no positive answer to " + HexText(request) + " " + a.error);
    };
    positive({0x10, 0x02});
    positive({0x34, 0x00, 0x44, 0, 0, 0, 0, 0x00, 0x04, 0x00, 0x00});
    const auto start = std::chrono::steady_clock::now();
    uint8_t counter = 1;
    for (size_t sent = 0; sent < kImageBytes; ++counter) {
        const size_t n = std::min(kBlockBytes - 2, kImageBytes - sent);
        Bytes block(2 + n, static_cast<uint8_t>(sent));
        block[0] = 0x36;
        block[1] = counter;
        positive(block);
        sent += n;
    }
    positive({0x37});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    CloseUdsSession(&session);
    UnloadJ2534Library(&lib);
    return kImageBytes / seconds;
}

}  // namespace

int main() {
    const double vci = DownloadBytesPerSecond("flash_vci_isotp", "");
    const double software =
        DownloadBytesPerSecond("flash_sw_isotp", "[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n");
    std::printf("256 KiB download in 0x36 blocks of %u bytes, bus-timed CAN at 500 kbit/s\n",
                static_cast<unsigned>(kBlockBytes));
    std::printf("VCI ISO-TP:      %8.0f bytes/s  (%.1f%% of the bus limit %.0f bytes/s)\n", vci, 100 * vci / kBusLimit,
                kBusLimit);
    std::printf("software ISO-TP: %8.0f bytes/s  (%.1f%% of the 1 ms pacing limit %.0f bytes/s)\n", software,
                100 * software / kPacingLimit, kPacingLimit);
    return 0;
}

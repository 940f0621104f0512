// Download speed through the driver against the limit of the path: a 256 KiB image in 0x36
// blocks of 4094 bytes to a simulated ECU on a bus-timed CAN bus, over the VCI's own ISO-TP at
// 500 kbit/s (limit: the bus, seven payload bytes per 8-byte frame), over the driver's software
// ISO-TP on a raw CAN link (limit: seven bytes per millisecond of pacing), and over the VCI's
// ISO-TP on CAN FD at 500 kbit/s and 2 Mbit/s (limit: the bus, 63 payload bytes per 64-byte
// frame). The bus limits come from the simulated bus's own frame times.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "benchmarks/bench_support.h"
#include "common/big_endian.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"
#include "tools/passthru/j2534_library.h"
#include "tools/passthru/uds_session.h"
#include "vcisim/ecu_isotp.h"

namespace {

[[noreturn]] void Fail(const std::string& what) { BenchFail("flash_throughput", what); }

constexpr size_t kImageBytes = 256 * 1024;
constexpr size_t kBlockBytes = 4094;  // 0x36, the block counter and 4092 bytes of the image
constexpr uint32_t kNominalBaud = 500000;
constexpr uint32_t kDataBaud = 2000000;

const double kBusLimit = 7.0 / (double(vcisim::CanFrameUs(8, false, false, kNominalBaud, kDataBaud)) / 1e6);
const double kFdBusLimit = 63.0 / (double(vcisim::CanFrameUs(64, true, false, kNominalBaud, kDataBaud)) / 1e6);
constexpr double kPacingLimit = 7000.0;

// One request that must get its positive answer.
using Positive = std::function<void(const Bytes&)>;

// Programming session, the download request, the image, the exit; bytes per second of the blocks.
double Download(const Positive& positive) {
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
    return kImageBytes / seconds;
}

void Prepare(const std::string& name, const std::string& driverIni, J2534Library* lib) {
    const std::string driverPath = DriverWithVciSim(
        "flash_throughput", name,
        "[General]\nTiming=bus\nCanBaudrate=500000\nCanFdDataBaudrate=2000000\n[Ecu1]\nName=Engine\nMaxBlockLength=4094\n",
        driverIni);
    std::string error;
    if (!LoadJ2534Library(driverPath, lib, &error)) Fail(error);
}

double ClassicBytesPerSecond(const std::string& name, const std::string& driverIni) {
    J2534Library lib;
    Prepare(name, driverIni, &lib);
    UdsSession session;
    std::string error;
    if (!OpenUdsSession(&lib, SessionOptions(), &session, &error)) Fail(error);
    const double rate = Download([&](const Bytes& request) {
        Answer a = RequestAnswer(session, request);
        if (!a.received || ClassifyAnswer(request[0], a.data) != AnswerKind::Positive)
            Fail(name + ": no positive answer to " + HexText(request) + " " + a.error);
    });
    CloseUdsSession(&session);
    UnloadJ2534Library(&lib);
    return rate;
}

// ISO 15765 on CAN FD (protocol 16), the Orvex family's CAN FD settings: 2 Mbit/s, 64-byte frames.
double CanFdBytesPerSecond(const std::string& name, const std::string& driverIni) {
    J2534Library lib;
    Prepare(name, driverIni, &lib);
    j2534::ULONG device = 0, channel = 0;
    if (lib.Open(nullptr, &device) != j2534::STATUS_NOERROR) Fail("PassThruOpen: " + lib.LastError());
    if (lib.Connect(device, j2534::ISO15765_FD, 0, kNominalBaud, &channel) != j2534::STATUS_NOERROR)
        Fail("PassThruConnect of ISO 15765 on CAN FD: " + lib.LastError());
    j2534::PASSTHRU_MSG m;
    const double rate = Download([&](const Bytes& request) {
        std::memset(&m, 0, sizeof m);
        m.ProtocolID = j2534::ISO15765_FD;
        m.TxFlags = j2534::ISO15765_FRAME_PAD;
        WriteBigEndian32(m.Data, 0x7E0);
        std::memcpy(m.Data + 4, request.data(), request.size());
        m.DataSize = static_cast<uint32_t>(4 + request.size());
        j2534::ULONG n = 1;
        if (lib.WriteMsgs(channel, &m, &n, 1000) != j2534::STATUS_NOERROR || n != 1)
            Fail("PassThruWriteMsgs: " + lib.LastError());
        n = 1;
        if (lib.ReadMsgs(channel, &m, &n, 2000) != j2534::STATUS_NOERROR || n != 1)
            Fail("no answer to " + HexText(request) + ": " + lib.LastError());
        const Bytes answer(m.Data + 4, m.Data + m.DataSize);
        if (m.DataSize < 5 || ClassifyAnswer(request[0], answer) != AnswerKind::Positive)
            Fail("no positive answer to " + HexText(request) + ": " + HexText(answer));
    });
    lib.Disconnect(channel);
    lib.Close(device);
    UnloadJ2534Library(&lib);
    return rate;
}

}  // namespace

int main() {
    const double vci = ClassicBytesPerSecond("flash_vci_isotp", "");
    const double software = ClassicBytesPerSecond(
        "flash_sw_isotp", "[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n");
    const double fd = CanFdBytesPerSecond("flash_canfd", "");
    const double fdQuiet = CanFdBytesPerSecond("flash_canfd_nolog", "[Logging]\nLogEnabled=0\n");
    std::printf("256 KiB download in 0x36 blocks of %u bytes, bus-timed CAN at 500 kbit/s\n",
                static_cast<unsigned>(kBlockBytes));
    std::printf("VCI ISO-TP:      %8.0f bytes/s  (%.1f%% of the bus limit %.0f bytes/s)\n", vci, 100 * vci / kBusLimit,
                kBusLimit);
    std::printf("software ISO-TP: %8.0f bytes/s  (%.1f%% of the 1 ms pacing limit %.0f bytes/s)\n", software,
                100 * software / kPacingLimit, kPacingLimit);
    std::printf("CAN FD at 2 Mbit/s with 64-byte frames over the VCI's ISO-TP (bus limit %.0f bytes/s):\n", kFdBusLimit);
    std::printf("  log on:        %8.0f bytes/s  (%.1f%%)\n", fd, 100 * fd / kFdBusLimit);
    std::printf("  log off:       %8.0f bytes/s  (%.1f%%)\n", fdQuiet, 100 * fdQuiet / kFdBusLimit);
    return 0;
}

// Diagnostic round trips per second over DoIP to the simulated gateway on loopback, in one run:
// bare sockets (the floor), the driver's DoIP client (DoipSendDiagnostic + DoipReceive), and a
// J2534 host's PassThruWriteMsgs + PassThruReadMsgs on a NativeDoIP channel of the built driver,
// each with the driver log off and on. The J2534 rows are left out while the driver's write and
// read paths do not carry NativeDoIP channels.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/j2534.h"
#include "doipsim/gateway.h"
#include "driver/config/driver_config.h"
#include "driver/doip/doip_client.h"
#include "driver/log/log.h"
#include "benchmarks/bench_support.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// Each measurement stops at whichever comes first.
constexpr int kMaxRounds = 20000;
constexpr double kMaxSeconds = 3.0;
const std::vector<uint8_t> kRequest = {0x3E, 0x00};  // TesterPresent to the engine ECU (0x0010)
const std::vector<uint8_t> kAnswer = {0x7E, 0x00};

[[noreturn]] void Fail(const std::string& what) { BenchFail("doip_round_trip", what); }

// Runs roundTrip until the count or the time is used up; round trips per second.
template <typename Fn>
double PerSecond(Fn roundTrip) {
    const Clock::time_point start = Clock::now();
    int rounds = 0;
    double seconds = 0;
    while (rounds < kMaxRounds && seconds < kMaxSeconds) {
        if (!roundTrip()) return -1;
        ++rounds;
        if (rounds % 100 == 0) seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return rounds / seconds;
}

// ---- bare sockets: whole messages out, as the client sends them, and plain reads -------------

bool ReceiveExact(platform::SocketHandle s, uint8_t* out, size_t length) {
    while (length > 0) {
        int n = platform::SocketReceive(s, out, length);
        if (n <= 0) return false;
        out += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The next message of the payload type; others are skipped.
bool ReceiveMessage(platform::SocketHandle s, uint16_t type, std::vector<uint8_t>* payload) {
    for (;;) {
        uint8_t header[8];
        if (!ReceiveExact(s, header, 8)) return false;
        const uint32_t length = uint32_t(header[4]) << 24 | uint32_t(header[5]) << 16 | uint32_t(header[6]) << 8 |
                                header[7];
        if (length > 65536) return false;
        payload->resize(length);
        if (!ReceiveExact(s, payload->data(), length)) return false;
        if ((header[2] << 8 | header[3]) == type) return true;
    }
}

double BareSockets(uint16_t port) {
    uint32_t loopback = 0;
    platform::ParseIpv4("127.0.0.1", &loopback);
    platform::SocketHandle s = platform::OpenTcpSocket();
    std::vector<uint8_t> payload;
    const uint8_t activation[] = {0x0E, 0x80, 0, 0, 0, 0, 0};
    if (platform::SocketConnect(s, loopback, port, 2000) != platform::ConnectResult::Connected ||
        !platform::SocketSetNoDelay(s) || !DoipSendMessage(s, 0x0005, activation, sizeof activation) ||
        !ReceiveMessage(s, 0x0006, &payload))
        Fail("bare socket set-up");
    std::vector<uint8_t> request = {0x0E, 0x80, 0x00, 0x10};
    request.insert(request.end(), kRequest.begin(), kRequest.end());
    double rate = PerSecond([&] {
        return DoipSendMessage(s, 0x8001, request.data(), static_cast<uint32_t>(request.size())) &&
               ReceiveMessage(s, 0x8001, &payload) && payload.size() == 6 && payload[4] == kAnswer[0];
    });
    platform::SocketClose(s);
    return rate;
}

// ---- the driver's client -------------------------------------------------------------------

double Client(const std::string& dir, uint16_t port, bool logging) {
    SetLogSettings({logging, JoinPath(dir, logging ? "client_logged.log" : "client_quiet.log"), "", ""});
    DoipConfig cfg;
    cfg.targetIp = "127.0.0.1";
    cfg.targetPort = port;
    cfg.targetAddress = 0x0010;
    cfg.discoveryBroadcast = "127.0.0.1";
    DoipClient* client = nullptr;
    std::string error;
    if (!DoipConnect(cfg, &client, &error)) Fail(error);
    std::vector<uint8_t> answer;
    double rate = PerSecond([&] {
        return DoipSendDiagnostic(client, kRequest.data(), static_cast<uint32_t>(kRequest.size()), &error) &&
               DoipReceive(client, 2000, &answer, &error) == DoipRx::Message && answer == kAnswer;
    });
    if (rate < 0) Fail("client round trip: " + error);
    DoipClose(client);
    return rate;
}

// ---- a J2534 host ---------------------------------------------------------------------------

template <typename Fn>
Fn Symbol(void* library, const char* name) {
    return BenchSymbol<Fn>("doip_round_trip", library, name);
}

// Round trips per second through the exports of a driver copy; 0 when its write path does not
// take NativeDoIP channels.
double J2534Host(uint16_t port, bool logging) {
    const std::string suffix = platform::SharedLibrarySuffix();
    const std::string dir = MakeScenarioDir(logging ? "doip_j2534_logged" : "doip_j2534_quiet");
    const std::string ini =
        "[Backend]\nType=Orvex\n[General]\nEnableInstanceLock=0\n[Logging]\nLogEnabled=" +
        std::string(logging ? "1" : "0") +
        "\n[DoIP]\nNativeDoIP=1\nNativeTargetIp=127.0.0.1\nNativeTargetPort=" + std::to_string(port) +
        "\nNativeDst=0x0010\nDiscoveryAddress=127.0.0.1\nDiscoveryBroadcast=127.0.0.1\n"
        "[DpduSettings]\nDllName=VciSim" + suffix + "\nModuleProbeSlowAttempts=0\nModuleProbeReinitAttempts=0\n";
    if (!CopyFileTo(JoinPath(TestBinDir(), "Orvex_J2534" + suffix), JoinPath(dir, "Orvex_J2534" + suffix)) ||
        !CopyFileTo(JoinPath(TestBinDir(), "VciSim" + suffix), JoinPath(dir, "VciSim" + suffix)) ||
        !platform::WriteWholeFile(JoinPath(dir, "Orvex_J2534.ini"), ini))
        Fail("cannot prepare " + dir);
    void* driver = platform::LoadLibraryFile(JoinPath(dir, "Orvex_J2534" + suffix));
    if (!driver) Fail("cannot load the driver copy in " + dir);
    auto open = Symbol<PassThruOpenFn>(driver, "PassThruOpen");
    auto close = Symbol<PassThruCloseFn>(driver, "PassThruClose");
    auto connect = Symbol<PassThruConnectFn>(driver, "PassThruConnect");
    auto write = Symbol<PassThruWriteMsgsFn>(driver, "PassThruWriteMsgs");
    auto read = Symbol<PassThruReadMsgsFn>(driver, "PassThruReadMsgs");
    j2534::ULONG device = 0, channel = 0;
    if (open(nullptr, &device) != 0 || connect(device, j2534::DOIP, 0, 0, &channel) != 0)
        Fail("J2534 set-up in " + dir);
    j2534::PASSTHRU_MSG request{};
    request.ProtocolID = j2534::DOIP;
    request.DataSize = static_cast<uint32_t>(kRequest.size());
    std::memcpy(request.Data, kRequest.data(), kRequest.size());
    j2534::PASSTHRU_MSG answer{};
    double rate = PerSecond([&] {
        j2534::ULONG count = 1;
        if (write(channel, &request, &count, 1000) != 0) return false;
        count = 1;
        return read(channel, &answer, &count, 2000) == 0 && count == 1 && answer.DataSize == 2 &&
               answer.Data[0] == kAnswer[0];
    });
    close(device);
    platform::FreeLibraryFile(driver);
    return rate < 0 ? 0 : rate;
}

void Row(const char* what, double rate, double floor) {
    std::printf("%-34s %9.0f round trips/s  (%.2fx the bare sockets' time)\n", what, rate, floor / rate);
}

}  // namespace

int main() {
    doipsim::GatewayConfig gc;
    gc.address = "127.0.0.1";
    gc.tcpPort = 0;
    gc.udp = false;
    doipsim::Gateway gateway(gc);
    std::string error;
    if (!gateway.Start(&error)) Fail(error);
    const uint16_t port = gateway.TcpPort();
    const std::string dir = MakeScenarioDir("doip_round_trip");

    const double bare = BareSockets(port);
    const double quiet = Client(dir, port, false);
    const double logged = Client(dir, port, true);
    const double hostQuiet = J2534Host(port, false);
    const double hostLogged = hostQuiet > 0 ? J2534Host(port, true) : 0;

    std::printf("DoIP round trips (3E 00 -> 7E 00) to the simulated gateway on 127.0.0.1, at most %d or %.0f s each\n",
                kMaxRounds, kMaxSeconds);
    std::printf("%-34s %9.0f round trips/s\n", "bare sockets:", bare);
    Row("DoIP client, log off:", quiet, bare);
    Row("DoIP client, log on:", logged, bare);
    if (hostQuiet > 0) {
        Row("PassThruWrite/ReadMsgs, log off:", hostQuiet, bare);
        Row("PassThruWrite/ReadMsgs, log on:", hostLogged, bare);
    } else {
        std::printf("PassThruWrite/ReadMsgs: not measured (the write path does not carry NativeDoIP channels yet)\n");
    }
    gateway.Stop();
    return 0;
}

// Sequences of the fourteen J2534 exports with fuzzed ids, flags, counts, sizes, messages, filter
// and ioctl arguments, against the simulated VCI. Every pointer is null or a buffer of exactly the
// size the J2534 contract promises, so that any read or write beyond it is the driver's. Checks:
// no crash, no memory error, every code a J2534 code, counts and sizes within what was offered,
// and no call that takes seconds beyond its time-out.
//
// The driver is linked in rather than loaded: its fixed pauses (350 ms at every close) go through
// a hook that only an in-process caller can replace, and its code is instrumented with the target.
// The calls still go through the exported functions a host calls.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/j2534.h"
#include "driver/config/driver_config.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/temp_dir.h"

extern "C" {
long PassThruOpen(const void* pName, j2534::ULONG* pDeviceID);
long PassThruClose(j2534::ULONG DeviceID);
long PassThruConnect(j2534::ULONG DeviceID, j2534::ULONG ProtocolID, j2534::ULONG Flags, j2534::ULONG BaudRate,
                        j2534::ULONG* pChannelID);
long PassThruDisconnect(j2534::ULONG ChannelID);
long PassThruReadMsgs(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, j2534::ULONG Timeout);
long PassThruWriteMsgs(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, j2534::ULONG Timeout);
long PassThruStartPeriodicMsg(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pMsgID,
                                 j2534::ULONG TimeInterval);
long PassThruStopPeriodicMsg(j2534::ULONG ChannelID, j2534::ULONG MsgID);
long PassThruStartMsgFilter(j2534::ULONG ChannelID, j2534::ULONG FilterType, j2534::PASSTHRU_MSG* pMaskMsg,
                               j2534::PASSTHRU_MSG* pPatternMsg, j2534::PASSTHRU_MSG* pFlowControlMsg,
                               j2534::ULONG* pFilterID);
long PassThruStopMsgFilter(j2534::ULONG ChannelID, j2534::ULONG FilterID);
long PassThruSetProgrammingVoltage(j2534::ULONG DeviceID, j2534::ULONG PinNumber, j2534::ULONG Voltage);
long PassThruReadVersion(j2534::ULONG DeviceID, char* pFirmwareVersion, char* pDllVersion, char* pApiVersion);
long PassThruGetLastError(char* pErrorDescription);
long PassThruIoctl(j2534::ULONG ChannelID, j2534::ULONG IoctlID, void* pInput, void* pOutput);
}

namespace {

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "j2534_fuzz: %s\n", what);
    __builtin_trap();
}

const uint32_t kProtocols[] = {6, 5, 15, 16, 9, 14, 0x8000, 3, 4, 1, 2, 7, 10, 11, 12, 0};
const uint32_t kConnectFlags[] = {0, 0x100, 0x80, 0x800, 0x180};
const uint32_t kBaudRates[] = {500000, 0, 250000, 125000, 1000000, 10400, 2000000, 83333};
const uint32_t kTxFlags[] = {0x40, 0, 0x100, 0x140, 0x80, 0x400000};
const uint32_t kFilterTypes[] = {3, 1, 2, 0, 4};
const uint32_t kIntervals[] = {100, 0, 1, 5, 1000, 65535, 4};
const uint32_t kPins[] = {0, 15, 9, 11, 12, 13, 14, 6};
const uint32_t kVoltages[] = {0, 5000, 12000, 20000, 0xFFFFFFFE, 0xFFFFFFFF};
const uint32_t kIoctls[] = {3, 1, 2, 8, 7, 9, 10, 14, 0x800E, 4, 5, 6, 0, 0x10000};
const uint32_t kParameters[] = {1, 3, 0x1E, 0x1F, 0x20, 0x800E, 2, 0x13, 0x22, 0x23};
const uint32_t kCanIds[] = {0x7E0, 0x7DF, 0x7E1, 0x7E8, 0x18DA10F1, 0x123};
const std::vector<uint8_t> kRequests[] = {{0x22, 0xF1, 0x90}, {0x10, 0x03},       {0x3E, 0x00}, {0x19, 0x02, 0xFF},
                                          {0x27, 0x01},       {0x3E, 0x80},       {0x03, 0x22, 0xF1, 0x90},
                                          {0x30, 0x00, 0x00}, {0x81},             {0x1A, 0x90}};

// The configurations an input may run under: INI texts for the driver beside the simulator.
struct Variant {
    const char* family;  // the library's file name, which picks the VCI family
    const char* ini;
};
const Variant kVariants[] = {
    {"Orvex_J2534", ""},
    {"Orvex_J2534", "[Logging]\nLogEnabled=1\n"},
    {"Orvex_J2534", "[Profile]\nMode=DAS\n[DAS]\nInjectDelayMs=0\n"},
    {"Orvex_J2534", "[Profile]\nMode=XENTRY\n[Xentry]\nExclusiveDevice=0\n"},
    {"Orvex_J2534", "[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\nExclusiveDevice=0\n"},
    {"Orvex_J2534", "[ISOTP]\nFallbackToRawCan=1\n"},
    {"Orvex_J2534", "[Bench]\nBenchEnabled=1\n[DeviceFilter]\nDeviceName=NoSuchModule\n"},
    {"Orvex_J2534", "[Bench]\nNoEcuMode=1\nNoEcuTimeoutMs=2\n"},
    {"TRX4820_J2534", "[Profile]\nMode=ODIS\n"},
    {"TVN_J2534", ""},
    {"Orvex_J2534", "[CanFd]\nEnable=1\n"},
    {"Orvex_J2534", "[DpduSettings]\nKeepLoaded=1\n"},
};
constexpr size_t kVariantCount = sizeof kVariants / sizeof kVariants[0];
std::vector<DriverConfig> g_variants;

void NoPause(uint32_t) {}

void Prepare() {
    const std::string dir = MakeScenarioDir("j2534_fuzz");
    const std::string vciSim = JoinPath(TestBinDir(), std::string("VciSim") + platform::SharedLibrarySuffix());
    const std::string scenario = JoinPath(dir, "VciSim.ini");
    platform::WriteWholeFile(scenario, "[General]\nTiming=zero\n");
    platform::SetEnv("VCISIM_CONFIG", scenario.c_str());
    for (size_t i = 0; i < kVariantCount; ++i) {
        const std::string folder = JoinPath(dir, "v" + std::to_string(i));
        platform::CreateDirectories(folder);
        const std::string family = kVariants[i].family;
        const std::string type = family == "TRX4820_J2534" ? "TRX4820" : family == "TVN_J2534" ? "TVN" : "Orvex";
        platform::WriteWholeFile(JoinPath(folder, family + ".ini"),
                                 "[Backend]\nType=" + type +
                                     "\n[General]\nEnableInstanceLock=0\n[Logging]\nLogEnabled=0\nLogPath=" + folder +
                                     "\n[DpduSettings]\nModuleProbeQuickAttempts=1\nModuleProbeSlowAttempts=0\n"
                                     "ModuleProbeReinitAttempts=0\nDllName=" +
                                     vciSim + "\n" + kVariants[i].ini);
        DriverConfig cfg;
        std::vector<std::string> lines;
        LoadDriverConfigFrom(JoinPath(folder, family + platform::SharedLibrarySuffix()), &cfg, &lines);
        Check(!cfg.ConfigFatal, "a configuration of the fuzzer is refused");
        g_variants.push_back(cfg);
    }
    g_backend.sleep = &NoPause;
}

int32_t Checked(int32_t rc) {
    Check(rc >= 0 && rc <= j2534::ERR_INVALID_DEVICE_ID, "not a J2534 code");
    return rc;
}

struct Session {
    FuzzInput in;
    std::vector<uint32_t> channels, filters, periodics;
    uint32_t lastProtocol = 6;

    uint32_t Id(const std::vector<uint32_t>& known) {
        const uint8_t b = in.Byte();
        if (b < 0xE0 && !known.empty()) return known[b % known.size()];
        if (b < 0xF8) return b & 3;
        return in.U32();
    }
    uint32_t DeviceId() {
        static const uint32_t kDevices[] = {1, 0, 2};
        return in.Pick(kDevices);
    }
    uint32_t Timeout() { return in.Byte() % 5; }

    // A record as a host fills it, or with any field out of line.
    void Fill(j2534::PASSTHRU_MSG* m) {
        std::memset(m, 0, sizeof *m);
        m->ProtocolID = in.Flag() ? lastProtocol : in.Pick(kProtocols);
        m->TxFlags = in.Pick(kTxFlags);
        std::vector<uint8_t> data;
        const uint8_t shape = in.Byte();
        if (shape % 4 != 2) {
            const uint32_t id = in.Pick(kCanIds);
            data = {uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id)};
        }
        if (shape % 4 == 0 || shape % 4 == 1) {
            const std::vector<uint8_t>& r = kRequests[in.Byte() % (sizeof kRequests / sizeof kRequests[0])];
            data.insert(data.end(), r.begin(), r.end());
        } else if (shape % 4 == 3) {
            data.insert(data.end(), {0x2E, 0xF1, 0x90});
            data.resize(data.size() + in.Byte() * 16u, 0x55);  // up to a multi-frame message near the limit
        }
        const std::vector<uint8_t> tail = in.Take(in.Byte() % 16);
        data.insert(data.end(), tail.begin(), tail.end());
        if (data.size() > j2534::kMaxDataSize) data.resize(j2534::kMaxDataSize);
        if (!data.empty()) std::memcpy(m->Data, data.data(), data.size());
        m->DataSize = static_cast<uint32_t>(data.size());
        if (in.Byte() == 0xFF) m->DataSize = in.U32();  // beyond the record
    }

    // Null, or one record filled by Fill.
    std::unique_ptr<j2534::PASSTHRU_MSG> OneMessage() {
        if (in.Byte() == 0) return nullptr;
        std::unique_ptr<j2534::PASSTHRU_MSG> m(new j2534::PASSTHRU_MSG);
        Fill(m.get());
        return m;
    }

    void Connect() {
        const uint32_t protocol = in.Pick(kProtocols);
        j2534::ULONG channel = 0;
        const bool withId = in.Byte() != 0;
        const uint32_t dev = DeviceId();
        const uint32_t flags = in.Pick(kConnectFlags);
        const uint32_t baud = in.Pick(kBaudRates);
        if (Checked(PassThruConnect(dev, protocol, flags, baud, withId ? &channel : nullptr)) == 0 && withId) {
            channels.push_back(channel);
            lastProtocol = protocol;
        }
    }

    void Read() {
        const uint32_t offered = in.Byte() % 4;
        std::unique_ptr<j2534::PASSTHRU_MSG[]> msgs(in.Byte() ? new j2534::PASSTHRU_MSG[offered] : nullptr);
        j2534::ULONG count = offered;
        const bool withCount = in.Byte() != 0;
        const uint32_t channel = Id(channels);
        const int32_t rc = Checked(PassThruReadMsgs(channel, msgs.get(), withCount ? &count : nullptr, Timeout()));
        if (rc != 0 || !msgs || !withCount) return;
        Check(count <= offered, "more messages read than offered");
        for (uint32_t i = 0; i < count; ++i) Check(msgs[i].DataSize <= j2534::kMaxDataSize, "a read beyond the record");
    }

    void Write() {
        const uint32_t offered = in.Byte() % 4;
        std::unique_ptr<j2534::PASSTHRU_MSG[]> msgs(in.Byte() ? new j2534::PASSTHRU_MSG[offered] : nullptr);
        if (msgs)
            for (uint32_t i = 0; i < offered; ++i) Fill(&msgs[i]);
        j2534::ULONG count = offered;
        const bool withCount = in.Byte() != 0;
        const uint32_t channel = Id(channels);
        const int32_t rc = Checked(PassThruWriteMsgs(channel, msgs.get(), withCount ? &count : nullptr, 1 + Timeout()));
        if (withCount && msgs && rc == 0) Check(count <= offered, "more messages written than offered");
    }

    void StartPeriodic() {
        auto msg = OneMessage();
        j2534::ULONG id = 0;
        const bool withId = in.Byte() != 0;
        const uint32_t channel = Id(channels);
        if (Checked(PassThruStartPeriodicMsg(channel, msg.get(), withId ? &id : nullptr, in.Pick(kIntervals))) == 0 &&
            withId)
            periodics.push_back(id);
    }

    void StartFilter() {
        const uint32_t type = in.Pick(kFilterTypes);
        auto mask = OneMessage();
        auto pattern = OneMessage();
        auto flowControl = OneMessage();
        j2534::ULONG id = 0;
        const bool withId = in.Byte() != 0;
        const uint32_t channel = Id(channels);
        if (Checked(PassThruStartMsgFilter(channel, type, mask.get(), pattern.get(), flowControl.get(),
                                           withId ? &id : nullptr)) == 0 &&
            withId)
            filters.push_back(id);
    }

    void ReadVersion() {
        std::unique_ptr<char[]> a(in.Flag() ? new char[80] : nullptr), b(in.Flag() ? new char[80] : nullptr),
            c(in.Flag() ? new char[80] : nullptr);
        if (Checked(PassThruReadVersion(DeviceId(), a.get(), b.get(), c.get())) != 0) return;
        for (char* s : {a.get(), b.get(), c.get()})
            if (s) Check(std::memchr(s, 0, 80) != nullptr, "a version without its end");
    }

    void GetLastError() {
        std::unique_ptr<char[]> text(in.Byte() ? new char[80] : nullptr);
        if (Checked(PassThruGetLastError(text.get())) == 0 && text)
            Check(std::memchr(text.get(), 0, 80) != nullptr, "a last error without its end");
    }

    void Ioctl() {
        const uint32_t id = in.Pick(kIoctls);
        const uint32_t channel = in.Flag() ? Id(channels) : DeviceId();
        const bool input = in.Flag(), output = in.Flag();
        j2534::SCONFIG_LIST list{};
        std::unique_ptr<j2534::SCONFIG[]> params;
        j2534::SBYTE_ARRAY bytesIn{}, bytesOut{};
        std::unique_ptr<uint8_t[]> inBytes, outBytes;
        std::unique_ptr<j2534::PASSTHRU_MSG> msgIn, msgOut;
        j2534::ULONG value = 0;
        void* pIn = nullptr;
        void* pOut = nullptr;
        switch (id) {
            case j2534::GET_CONFIG:
            case j2534::SET_CONFIG: {
                list.NumOfParams = in.Byte() % 5;
                if (in.Byte()) {
                    params.reset(new j2534::SCONFIG[list.NumOfParams]);
                    for (uint32_t i = 0; i < list.NumOfParams; ++i) params[i] = {in.Pick(kParameters), in.U32()};
                }
                list.ConfigPtr = params.get();
                if (input) pIn = &list;
                break;
            }
            case j2534::READ_VBATT:
            case j2534::READ_PROG_VOLTAGE:
            case j2534::IGNITION_SENSE:
                if (output) pOut = &value;
                break;
            case j2534::FIVE_BAUD_INIT:
                bytesIn.NumOfBytes = in.Byte() % 4;
                inBytes.reset(new uint8_t[bytesIn.NumOfBytes]);
                for (uint32_t i = 0; i < bytesIn.NumOfBytes; ++i) inBytes[i] = in.Byte();
                bytesIn.BytePtr = in.Byte() ? inBytes.get() : nullptr;
                bytesOut.NumOfBytes = in.Byte() % 8;
                outBytes.reset(new uint8_t[bytesOut.NumOfBytes]);
                bytesOut.BytePtr = in.Byte() ? outBytes.get() : nullptr;
                if (input) pIn = &bytesIn;
                if (output) pOut = &bytesOut;
                break;
            case j2534::FAST_INIT:
                msgIn.reset(new j2534::PASSTHRU_MSG);
                Fill(msgIn.get());
                msgOut.reset(new j2534::PASSTHRU_MSG);
                std::memset(msgOut.get(), 0, sizeof *msgOut);
                if (input) pIn = msgIn.get();
                if (output) pOut = msgOut.get();
                break;
            default:
                break;  // the buffer clears take none; unknown ids get none
        }
        Checked(PassThruIoctl(channel, id, pIn, pOut));
    }

    void One() {
        const uint64_t start = platform::MonotonicUs();
        const uint8_t op = in.Byte() % 16;
        switch (op) {
            case 0: {
                j2534::ULONG dev = 0;
                const char* name = in.Flag() ? "J2534-1:fuzz" : nullptr;
                Checked(PassThruOpen(name, in.Byte() ? &dev : nullptr));
                break;
            }
            case 1: Checked(PassThruClose(DeviceId())); break;
            case 2: Connect(); break;
            case 3: Checked(PassThruDisconnect(Id(channels))); break;
            case 4:
            case 15: Read(); break;
            case 5:
            case 14: Write(); break;
            case 6: StartPeriodic(); break;
            case 7: {
                const uint32_t channel = Id(channels);
                Checked(PassThruStopPeriodicMsg(channel, Id(periodics)));
                break;
            }
            case 8: StartFilter(); break;
            case 9: {
                const uint32_t channel = Id(channels);
                Checked(PassThruStopMsgFilter(channel, Id(filters)));
                break;
            }
            case 10: {
                const uint32_t dev = DeviceId();
                const uint32_t pin = in.Pick(kPins);
                Checked(PassThruSetProgrammingVoltage(dev, pin, in.Pick(kVoltages)));
                break;
            }
            case 11: ReadVersion(); break;
            case 12: GetLastError(); break;
            default: Ioctl(); break;
        }
        // Time-outs here are a few milliseconds; the comm-lost back-off waits a second.
        Check(platform::MonotonicUs() - start < 3000000, "a call that took seconds");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_variants.empty()) Prepare();
    Session s{{data, size}, {}, {}, {}};
    g_config = g_variants[s.in.Byte() % kVariantCount];
    ResetBackendForTests();
    for (int calls = 0; s.in.n > 0 && calls < 64; ++calls) s.One();
    // Every input ends with the device closed and the vendor library unloaded, so that the next
    // one starts where this one did.
    Checked(PassThruClose(0));
    while (Dpdu_IsInitialised()) Dpdu_Shutdown(true);
    return 0;
}

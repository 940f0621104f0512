// What the driver's D-PDU backend adds to one diagnostic round trip. The same UDS request
// (TesterPresent on 0x7E0) goes N times through Dpdu_Send + Dpdu_Receive, and N times straight
// through PDUStartComPrimitive + PDUGetEventItem on a second copy of the simulated VCI, in one
// run, with the simulator's zero-latency timing so that only software cost is left. Prints the
// time per round trip of each and their ratio, with the driver log off and on.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/config/driver_config.h"
#include "driver/dpdu/dpdu_backend.h"
#include "dpdu_api/pdu_api.h"
#include "benchmarks/bench_support.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kRounds = 20000;
const uint8_t kRequest[] = {0x00, 0x00, 0x07, 0xE0, 0x3E, 0x00};

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) { BenchFail("backend_round_trip", what); }

bool IsAnswer(const std::vector<uint8_t>& data) {
    return data.size() >= 2 && data[data.size() - 2] == 0x7E && data.back() == 0x00;
}

// Microseconds per round trip through the backend, on a link it opened itself.
double ThroughBackend(const std::string& dir, const std::string& library, bool logging) {
    g_config.Logging.LogEnabled = logging;
    g_config.LogFilePath = JoinPath(dir, "driver.log");
    g_config.BackendTypeSet = true;
    g_config.BackendTypeName = "Orvex";
    g_config.DpduSettings.DllName = library;
    g_config.DpduSettings.DllPath = dir;
    g_config.DpduLibraryPath = JoinPath(dir, library);
    std::string error;
    uint32_t moduleId = 0, linkId = 0;
    if (!Dpdu_Init(&error) || !Dpdu_OpenModule(&moduleId, &error) ||
        !Dpdu_OpenLink(moduleId, "ISO15765", 6, &linkId, &error))
        Fail("backend set-up: " + error);
    std::vector<uint8_t> answer;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        if (!Dpdu_Send(linkId, kRequest, sizeof kRequest, 1000, &error)) Fail("Dpdu_Send: " + error);
        if (!Dpdu_Receive(linkId, &answer, 1000, &error) || !IsAnswer(answer)) Fail("Dpdu_Receive: " + error);
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kRounds;
    Dpdu_CloseLink(linkId, &error);
    Dpdu_CloseModule(moduleId, &error);
    Dpdu_Shutdown();
    return us;
}

template <typename Fn>
Fn Symbol(void* library, const char* name) {
    return BenchSymbol<Fn>("backend_round_trip", library, name);
}

// Microseconds per round trip made straight on the vendor API, as lean as a caller can be.
double Direct(const std::string& path, uint32_t resourceId) {
    void* library = platform::LoadLibraryFile(path);
    if (!library) Fail("cannot load " + path);
    auto construct = Symbol<PDUConstructFn>(library, "PDUConstruct");
    auto destruct = Symbol<PDUDestructFn>(library, "PDUDestruct");
    auto moduleIds = Symbol<PDUGetModuleIdsFn>(library, "PDUGetModuleIds");
    auto moduleConnect = Symbol<PDUModuleConnectFn>(library, "PDUModuleConnect");
    auto createLink = Symbol<PDUCreateComLogicalLinkFn>(library, "PDUCreateComLogicalLink");
    auto connect = Symbol<PDUConnectFn>(library, "PDUConnect");
    auto start = Symbol<PDUStartComPrimitiveFn>(library, "PDUStartComPrimitive");
    auto eventItem = Symbol<PDUGetEventItemFn>(library, "PDUGetEventItem");
    auto destroyItem = Symbol<PDUDestroyItemFn>(library, "PDUDestroyItem");

    if (construct(nullptr, nullptr) != PDU_STATUS_NOERROR) Fail("PDUConstruct");
    PDU_MODULE_ITEM* modules = nullptr;
    if (moduleIds(&modules) != PDU_STATUS_NOERROR || !modules || modules->NumEntries == 0) Fail("PDUGetModuleIds");
    const uint32_t hMod = modules->pModuleData[0].hMod;
    destroyItem(reinterpret_cast<PDU_ITEM*>(modules));
    uint32_t hCLL = 0;
    if (moduleConnect(hMod) != PDU_STATUS_NOERROR ||
        createLink(hMod, nullptr, resourceId, nullptr, &hCLL, nullptr) != PDU_STATUS_NOERROR ||
        connect(hMod, hCLL) != PDU_STATUS_NOERROR)
        Fail("direct link set-up");

    PDU_EXP_RESP_DATA expected = {};
    PDU_COP_CTRL_DATA control = {};
    control.Time = 1000;
    control.NumSendCycles = 1;
    control.NumPossibleExpectedResponses = 1;
    control.pExpectedResponseArray = &expected;
    std::vector<uint8_t> request(kRequest, kRequest + sizeof kRequest), answer;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        uint32_t hCoP = 0;
        if (start(hMod, hCLL, PDU_COPT_SENDRECV, static_cast<uint32_t>(request.size()), request.data(), &control,
                  nullptr, &hCoP) != PDU_STATUS_NOERROR)
            Fail("PDUStartComPrimitive");
        for (bool done = false; !done;) {
            PDU_EVENT_ITEM* item = nullptr;
            if (eventItem(hMod, hCLL, &item) != PDU_STATUS_NOERROR || !item) continue;
            if (item->ItemType == PDU_IT_RESULT) {
                const auto* result = static_cast<const PDU_RESULT_DATA*>(item->pData);
                answer.assign(result->pDataBytes, result->pDataBytes + result->NumDataBytes);
                if (!IsAnswer(answer)) Fail("unexpected answer");
                done = true;
            }
            destroyItem(reinterpret_cast<PDU_ITEM*>(item));
        }
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - begin).count() / kRounds;
    destruct();
    platform::FreeLibraryFile(library);
    return us;
}

}  // namespace

int main() {
    const std::string dir = MakeScenarioDir("round_trip");
    const std::string suffix = platform::SharedLibrarySuffix();
    const std::string simulator = JoinPath(TestBinDir(), "VciSim" + suffix);
    // Two copies: the backend's and the direct caller's, each with its own simulator state.
    if (!CopyFileTo(simulator, JoinPath(dir, "VciSim" + suffix)) ||
        !CopyFileTo(simulator, JoinPath(dir, "VciSimDirect" + suffix)) ||
        !platform::WriteWholeFile(JoinPath(dir, "VciSim.ini"), "[General]\nTiming=zero\nTraceEmptyPolls=0\n"))
        Fail("cannot prepare " + dir);

    const uint32_t resourceId = 0x300C0001;  // the Orvex family's ISO 15765 resource
    const double direct = Direct(JoinPath(dir, "VciSimDirect" + suffix), resourceId);
    const double quiet = ThroughBackend(dir, "VciSim" + suffix, false);
    const double logged = ThroughBackend(dir, "VciSim" + suffix, true);
    std::printf("round trips: %d each, simulator timing zero\n", kRounds);
    std::printf("direct D-PDU calls:        %8.2f us\n", direct);
    std::printf("driver backend, log off:   %8.2f us  (%.2fx direct)\n", quiet, quiet / direct);
    std::printf("driver backend, log on:    %8.2f us  (%.2fx direct)\n", logged, logged / direct);
    return 0;
}

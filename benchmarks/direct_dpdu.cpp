#include "benchmarks/direct_dpdu.h"

#include "benchmarks/bench_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "dpdu_api/pdu_api.h"
#include "platform/platform.h"

namespace {
[[noreturn]] void Fail(const std::string& what) { BenchFail("direct D-PDU calls", what); }

template <typename Fn>
Fn Symbol(void* library, const char* name) {
    return BenchSymbol<Fn>("direct D-PDU calls", library, name);
}
}  // namespace

struct DirectDpduLink {
    void* library = nullptr;
    PDUDestructFn destruct = nullptr;
    PDUStartComPrimitiveFn start = nullptr;
    PDUGetEventItemFn eventItem = nullptr;
    PDUDestroyItemFn destroyItem = nullptr;
    uint32_t hMod = 0;
    uint32_t hCLL = 0;
    PDU_EXP_RESP_DATA expected = {};
    PDU_COP_CTRL_DATA control = {};
};

DirectDpduLink* OpenDirectDpduLink(const std::string& path, uint32_t resourceId) {
    auto* l = new DirectDpduLink;
    l->library = platform::LoadLibraryFile(path);
    if (!l->library) Fail("cannot load " + path);
    auto construct = Symbol<PDUConstructFn>(l->library, "PDUConstruct");
    auto moduleIds = Symbol<PDUGetModuleIdsFn>(l->library, "PDUGetModuleIds");
    auto moduleConnect = Symbol<PDUModuleConnectFn>(l->library, "PDUModuleConnect");
    auto createLink = Symbol<PDUCreateComLogicalLinkFn>(l->library, "PDUCreateComLogicalLink");
    auto connect = Symbol<PDUConnectFn>(l->library, "PDUConnect");
    l->destruct = Symbol<PDUDestructFn>(l->library, "PDUDestruct");
    l->start = Symbol<PDUStartComPrimitiveFn>(l->library, "PDUStartComPrimitive");
    l->eventItem = Symbol<PDUGetEventItemFn>(l->library, "PDUGetEventItem");
    l->destroyItem = Symbol<PDUDestroyItemFn>(l->library, "PDUDestroyItem");

    if (construct(nullptr, nullptr) != PDU_STATUS_NOERROR) Fail("PDUConstruct");
    PDU_MODULE_ITEM* modules = nullptr;
    if (moduleIds(&modules) != PDU_STATUS_NOERROR || !modules || modules->NumEntries == 0)
        Fail("PDUGetModuleIds");
    l->hMod = modules->pModuleData[0].hMod;
    l->destroyItem(reinterpret_cast<PDU_ITEM*>(modules));
    if (moduleConnect(l->hMod) != PDU_STATUS_NOERROR ||
        createLink(l->hMod, nullptr, resourceId, nullptr, &l->hCLL, nullptr) != PDU_STATUS_NOERROR ||
        connect(l->hMod, l->hCLL) != PDU_STATUS_NOERROR)
        Fail("direct link set-up");
    l->control.Time = 1000;
    l->control.NumSendCycles = 1;
    l->control.NumPossibleExpectedResponses = 1;
    l->control.pExpectedResponseArray = &l->expected;
    return l;
}

double DirectDpduRoundTripUs(DirectDpduLink* l, const std::vector<uint8_t>& request,
                             bool (*isAnswer)(const uint8_t* data, size_t length), int rounds) {
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> data = request;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        uint32_t hCoP = 0;
        if (l->start(l->hMod, l->hCLL, PDU_COPT_SENDRECV, static_cast<uint32_t>(data.size()), data.data(), &l->control,
                     nullptr, &hCoP) != PDU_STATUS_NOERROR)
            Fail("PDUStartComPrimitive");
        for (bool done = false; !done;) {
            PDU_EVENT_ITEM* item = nullptr;
            if (l->eventItem(l->hMod, l->hCLL, &item) != PDU_STATUS_NOERROR || !item) continue;
            if (item->ItemType == PDU_IT_RESULT) {
                const auto* result = static_cast<const PDU_RESULT_DATA*>(item->pData);
                if (!isAnswer(result->pDataBytes, result->NumDataBytes)) Fail("unexpected answer");
                done = true;
            }
            l->destroyItem(reinterpret_cast<PDU_ITEM*>(item));
        }
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - begin).count() / rounds;
}

void CloseDirectDpduLink(DirectDpduLink* l) {
    l->destruct();
    platform::FreeLibraryFile(l->library);
    delete l;
}

// Random ISO-TP frame sequences into the software ISO-TP receiver and the sender's flow-control
// wait, random messages and settings into the ISO 15765 translation, random payloads into the
// CAN-id restore: no crash, no read or write outside a buffer, no result larger than a J2534
// message holds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/config/driver_config.h"
#include "driver/config/session_profile.h"
#include "driver/iso15765/iso15765.h"
#include "driver/iso15765/sw_isotp.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

uint64_t g_nowUs = 1;
uint64_t Now(void*) { return g_nowUs; }
void Sleep(void*, uint64_t us) { g_nowUs += us; }

void Receive(FuzzInput& in) {
    IsoTpReassembly ch;
    std::vector<uint8_t> message;
    while (in.n > 0) {
        std::vector<uint8_t> frame = in.Take(in.Byte() % 72);
        if (frame.empty()) continue;
        IsoTpRxAction a = SwIsoTpOnFrame(ch, frame.data(), frame.size(), &message);
        if (a == IsoTpRxAction::Complete) Check(message.size() <= kMaxIsoTpPayload);
        Check(ch.totalLength <= kMaxIsoTpPayload);
        Check(!ch.assembling || ch.buffer.size() < ch.totalLength + 72);
    }
}

// The ECU's side of a send: each frame the sender reads comes from the input.
IsoTpFrameIn FrameFromInput(void* context, uint32_t timeoutMs, std::vector<uint8_t>* frame, std::string*) {
    FuzzInput& in = *static_cast<FuzzInput*>(context);
    g_nowUs += 1000 * (in.Byte() % 4 == 0 ? timeoutMs : 1);
    if (in.n == 0) return IsoTpFrameIn::Nothing;
    *frame = in.Take(in.Byte() % 16);
    return IsoTpFrameIn::Frame;
}
bool SendAnything(void*, const uint8_t* frame, uint32_t length, uint32_t, std::string*) {
    Check(length == 12 && frame != nullptr);
    return true;
}

void Send(FuzzInput& in) {
    const std::vector<uint8_t> data = in.Take(in.Byte() * 17u);
    const uint8_t how = in.Byte();
    IsoTpFrameIo io{&SendAnything, &FrameFromInput, &in};
    std::string failure;
    SwIsoTpSend(io, 0x7E0, data.data(), static_cast<uint32_t>(data.size()), how & 1, 100, 0x7E8, how & 2, &failure);
}

void Translate(FuzzInput& in) {
    const uint8_t s = in.Byte();
    SessionProfile session;
    session.DasProfile = s & 1;
    session.XentryProfile = s & 2;
    session.PCMflash.PCMflashEnabled = session.PcmflashProfile = s & 4;
    session.UdsApduOnly = s & 8;
    g_config.DAS.DisablePayloadOnlyFallback = s & 16;
    g_config.DAS.DropOtherIsoTpRx = s & 32;
    g_config.DasIdPairs = (s & 64) ? std::vector<std::pair<uint32_t, uint32_t>>{{0x7E0, 0x7E8}}
                                   : std::vector<std::pair<uint32_t, uint32_t>>{};
    session.Oem = (s & 128) ? OemKind::VwOdis : OemKind::Generic;
    const Iso15765Rules rules = Iso15765RulesFor(g_config, session);
    const uint8_t c = in.Byte();
    Iso15765Link link;
    Iso15765TxState ch;
    link.protocolId = (c & 1) ? 6 : (c & 2) ? 5 : 9;
    link.rawMode = c & 4;
    ch.comParamsEnabled = c & 8;
    ch.isoTpIdsSet = c & 16;
    ch.comParamsTried = c & 32;
    link.canIdInDataFallback = c & 64;
    ch.expectedRxId = (c & 128) ? 0x7E8 : 0;
    const uint32_t flags = in.Byte();
    std::vector<uint8_t> data = in.Take(in.Byte() * 17u);
    if (data.size() > j2534::kMaxDataSize) data.resize(j2534::kMaxDataSize);

    static TxMessage msg;
    TxPlan plan;
    uint8_t* to = ResetTxMessage(&msg, static_cast<uint32_t>(data.size()), flags);
    if (!data.empty()) std::memcpy(to, data.data(), data.size());
    int32_t rc = PrepareIso15765Tx(link, ch, rules, msg, &plan);
    if (rc == 0 && plan.setIds) rc = CompleteIso15765Tx((flags & 0x80) != 0, ch, rules, msg, &plan);
    if (rc == 0 && !plan.softwareIsoTp) {
        const uint8_t* b = plan.bytes;
        const bool inMessage = b >= msg.buffer && b + plan.length <= msg.buffer + sizeof msg.buffer;
        const bool inScratch = b >= plan.scratch && b + plan.length <= plan.scratch + sizeof plan.scratch;
        Check(plan.length == 0 || inMessage || inScratch);
        Check(plan.length <= 4 + j2534::kMaxDataSize);
    }

    std::vector<uint8_t> payload = in.Take(in.Byte() * 17u);
    uint8_t out[j2534::kMaxDataSize];
    uint32_t size = 0;
    if (RestoreRxCanId(link, ch, rules, payload.data(), payload.size(), out, &size))
        Check(size <= j2534::kMaxDataSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const platform::TestClock clock{&Now, &Sleep, nullptr};
    platform::SetTestClock(&clock);
    FuzzInput in{data, size};
    switch (in.Byte() % 3) {
    case 0: Receive(in); break;
    case 1: Send(in); break;
    default: Translate(in); break;
    }
    return 0;
}

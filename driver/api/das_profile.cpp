#include "driver/api/das_profile.h"

#include <cstring>
#include <string>

#include "common/big_endian.h"
#include "common/protocols.h"
#include "driver/api/capture_hooks.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"

namespace {
// A frame of software ISO-TP as it is; on the VCI's ISO-TP the message without its PCI.
void CaptureWakeup(const ChannelState& channel, const uint8_t* frame, uint32_t length) {
    if (channel.link.transport == ChannelTransport::SoftwareIsoTp) {
        CaptureOut(channel, frame, length, true, CaptureSender::DasWakeup);
        return;
    }
    uint8_t message[6];
    std::memcpy(message, frame, 4);
    std::memcpy(message + 4, frame + 5, 2);
    CaptureOut(channel, message, sizeof message, true, CaptureSender::DasWakeup);
}

void SendWakeupFrame(const ChannelState& channel, const DpduSendMode& mode, uint32_t txId, uint8_t b0, uint8_t b1,
                     uint8_t b2) {
    uint8_t frame[7];
    WriteBigEndian32(frame, txId);
    frame[4] = b0;
    frame[5] = b1;
    frame[6] = b2;
    LogPrintf("[DAS] Injecting wake-up TX=0x%lX data=%s", static_cast<unsigned long>(txId),
              FormatHexBytes(frame + 4, 3).c_str());
    const DpduResult sent = Dpdu_Send(channel.link.handle, frame, sizeof frame, 2000, mode);  // the answer is not needed
    if (sent.ok() && CaptureOn()) CaptureWakeup(channel, frame, sizeof frame);
    if (g_config.DAS.InjectDelayMs != 0) platform::SleepMs(g_config.DAS.InjectDelayMs);
}
}  // namespace

void AddPassFilter(ChannelContext& channel, uint32_t canId, uint32_t mask) {
    FilterRecord f;
    f.filterId = channel.nextFilterId++;
    f.filterType = j2534::PASS_FILTER;
    f.driverOwned = true;
    f.mask.ProtocolID = j2534::ISO15765;
    f.mask.DataSize = 4;
    WriteBigEndian32(f.mask.Data, mask);
    f.pattern.ProtocolID = j2534::ISO15765;
    f.pattern.DataSize = 4;
    WriteBigEndian32(f.pattern.Data, canId);
    channel.filters.push_back(f);
}

void InstallDasResponseFilters(ChannelContext& channel) {
    if (g_config.DasIdPairs.empty()) {
        AddPassFilter(channel, 0x7E8, j2534::kStandardCanIdMask);
        AddPassFilter(channel, 0x7E8, 0x7F8);
        return;
    }
    for (const auto& pair : g_config.DasIdPairs) AddPassFilter(channel, pair.second, j2534::kCanIdMask);
}

void InjectDasWakeup(ChannelState& channel, const SessionProfile& session, bool moduleOpen) {
    if (!session.DasProfile || session.PcmflashHostDetected || session.PcmflashProfile) return;
    if (channel.tx.dasWakeSent || channel.protocolId != j2534::ISO15765 || !channel.link.OnVci()) return;
    if (!Dpdu_IsInitialised() || !moduleOpen) return;
    const uint32_t tx = DasFirstTxId();
    const DpduSendMode mode = DpduSendModeFor(session);
    if (g_config.DAS.InjectSessionStart) SendWakeupFrame(channel, mode, tx, 0x02, 0x10, 0x03);
    if (g_config.DAS.InjectTesterPresent) SendWakeupFrame(channel, mode, tx, 0x02, 0x3E, 0x00);
    channel.tx.dasWakeSent = true;
}

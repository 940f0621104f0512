// The 02.02 calls, carried to the 04.04 library. Results of the 04.04 library come back
// unchanged; the adapter only adds the device that 02.02 does not have.
#include <cstring>
#include <mutex>

#include "adapter0202/adapter.h"
#include "adapter0202/adapter_state.h"

namespace {
constexpr size_t kTextSize = 80;  // J2534 text buffers

void CopyText(char* dst, const char* text) {
    std::strncpy(dst, text, kTextSize - 1);
    dst[kTextSize - 1] = '\0';
}

// Opens the device for the host unless the adapter already has one. Caller holds the lock.
int32_t ImplicitOpen() {
    if (g_adapter.deviceId != 0) return j2534::STATUS_NOERROR;
    j2534::ULONG id = 0;
    long rc = g_adapter.sibling.Open(nullptr, &id);
    if (rc == j2534::STATUS_NOERROR) g_adapter.deviceId = id;
    return rc;
}

// Runs call(sibling table) under the lock once the 04.04 library is loaded.
template <typename Call>
int32_t Forward(Call&& call) {
    std::lock_guard<std::mutex> lock(g_adapter.lock);
    if (!EnsureSiblingLoaded()) return j2534::ERR_FAILED;
    return call(g_adapter.sibling);
}
}  // namespace

uint32_t DefaultBaudFor(uint32_t protocolId) {
    switch (protocolId) {
        case j2534::J1850VPW:
        case j2534::ISO9141:
        case j2534::ISO14230: return 10400;
        case j2534::J1850PWM: return 41600;
        case j2534::CAN:
        case j2534::ISO15765:
        case 13: return 500000;
        default: return 0;
    }
}

int32_t AdapterConnect(uint32_t protocolId, uint32_t flags, j2534::ULONG* pChannelID) {
    if (!pChannelID) {
        std::lock_guard<std::mutex> lock(g_adapter.lock);
        SetAdapterError("PassThruConnect: pChannelID is null");
        return j2534::ERR_NULL_PARAMETER;
    }
    return Forward([&](const SiblingTable& s) {
        long rc = ImplicitOpen();
        if (rc != j2534::STATUS_NOERROR) return rc;
        j2534::ULONG channelId = 0;
        rc = s.Connect(g_adapter.deviceId, protocolId, flags, DefaultBaudFor(protocolId), &channelId);
        if (rc == j2534::STATUS_NOERROR) {
            g_adapter.channels.insert(channelId);
            *pChannelID = channelId;
        }
        return rc;
    });
}

int32_t AdapterDisconnect(uint32_t channelId) {
    return Forward([&](const SiblingTable& s) {
        long rc = s.Disconnect(channelId);
        // A failed disconnect leaves the channel, and so the device, as they were.
        if (rc != j2534::STATUS_NOERROR) return rc;
        g_adapter.channels.erase(channelId);
        if (g_adapter.deviceId != 0 && g_adapter.channels.empty()) {
            s.Close(g_adapter.deviceId);
            g_adapter.deviceId = 0;
        }
        return rc;
    });
}

int32_t AdapterReadMsgs(uint32_t channelId, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t timeout) {
    return Forward([&](const SiblingTable& s) { return s.ReadMsgs(channelId, pMsg, pNumMsgs, timeout); });
}

int32_t AdapterWriteMsgs(uint32_t channelId, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t timeout) {
    return Forward([&](const SiblingTable& s) { return s.WriteMsgs(channelId, pMsg, pNumMsgs, timeout); });
}

int32_t AdapterStartPeriodicMsg(uint32_t channelId, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pMsgID,
                                uint32_t timeInterval) {
    return Forward([&](const SiblingTable& s) { return s.StartPeriodicMsg(channelId, pMsg, pMsgID, timeInterval); });
}

int32_t AdapterStopPeriodicMsg(uint32_t channelId, uint32_t msgId) {
    return Forward([&](const SiblingTable& s) { return s.StopPeriodicMsg(channelId, msgId); });
}

int32_t AdapterStartMsgFilter(uint32_t channelId, uint32_t filterType, j2534::PASSTHRU_MSG* pMaskMsg,
                              j2534::PASSTHRU_MSG* pPatternMsg, j2534::PASSTHRU_MSG* pFlowControlMsg,
                              j2534::ULONG* pMsgID) {
    return Forward([&](const SiblingTable& s) {
        return s.StartMsgFilter(channelId, filterType, pMaskMsg, pPatternMsg, pFlowControlMsg, pMsgID);
    });
}

int32_t AdapterStopMsgFilter(uint32_t channelId, uint32_t msgId) {
    return Forward([&](const SiblingTable& s) { return s.StopMsgFilter(channelId, msgId); });
}

int32_t AdapterSetProgrammingVoltage(uint32_t pinNumber, uint32_t voltage) {
    return Forward([&](const SiblingTable& s) {
        long rc = ImplicitOpen();
        if (rc != j2534::STATUS_NOERROR) return rc;
        return s.SetProgrammingVoltage(g_adapter.deviceId, pinNumber, voltage);
    });
}

int32_t AdapterReadVersion(char* pFirmwareVersion, char* pDllVersion, char* pApiVersion) {
    return Forward([&](const SiblingTable& s) {
        long rc = ImplicitOpen();
        if (rc != j2534::STATUS_NOERROR) return rc;
        rc = s.ReadVersion(g_adapter.deviceId, pFirmwareVersion, pDllVersion, pApiVersion);
        if (rc == j2534::STATUS_NOERROR && pApiVersion) CopyText(pApiVersion, "02.02");
        return rc;
    });
}

int32_t AdapterGetLastError(char* pErrorDescription) {
    std::lock_guard<std::mutex> lock(g_adapter.lock);
    if (g_adapter.sibling.library && g_adapter.sibling.GetLastError)
        return g_adapter.sibling.GetLastError(pErrorDescription);
    if (pErrorDescription) CopyText(pErrorDescription, g_adapter.errorText);
    return j2534::STATUS_NOERROR;
}

int32_t AdapterIoctl(uint32_t channelId, uint32_t ioctlId, void* pInput, void* pOutput) {
    return Forward([&](const SiblingTable& s) { return s.Ioctl(channelId, ioctlId, pInput, pOutput); });
}

int32_t AdapterInternalError(const char* call) noexcept {
    try {
        std::lock_guard<std::mutex> lock(g_adapter.lock);
        SetAdapterError((std::string(call) + ": internal error").c_str());
    } catch (...) {
    }
    return j2534::ERR_FAILED;
}

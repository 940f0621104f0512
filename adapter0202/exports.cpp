// The twelve exported J2534 02.02 functions. Nothing thrown inside ever reaches the host.
#include "adapter0202/adapter.h"
#include "platform/platform.h"

#define ADAPTER_EXPORT extern "C" PLATFORM_EXPORT

namespace {
template <typename Body>
int32_t Guarded(const char* name, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return AdapterInternalError(name);
    }
}
}  // namespace

ADAPTER_EXPORT int32_t J2534_API PassThruConnect(uint32_t ProtocolID, uint32_t Flags, uint32_t* pChannelID) {
    return Guarded("PassThruConnect", [&] { return AdapterConnect(ProtocolID, Flags, pChannelID); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruDisconnect(uint32_t ChannelID) {
    return Guarded("PassThruDisconnect", [&] { return AdapterDisconnect(ChannelID); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruReadMsgs(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                                  uint32_t Timeout) {
    return Guarded("PassThruReadMsgs", [&] { return AdapterReadMsgs(ChannelID, pMsg, pNumMsgs, Timeout); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruWriteMsgs(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                                   uint32_t Timeout) {
    return Guarded("PassThruWriteMsgs", [&] { return AdapterWriteMsgs(ChannelID, pMsg, pNumMsgs, Timeout); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruStartPeriodicMsg(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg,
                                                          uint32_t* pMsgID, uint32_t TimeInterval) {
    return Guarded("PassThruStartPeriodicMsg",
                   [&] { return AdapterStartPeriodicMsg(ChannelID, pMsg, pMsgID, TimeInterval); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    return Guarded("PassThruStopPeriodicMsg", [&] { return AdapterStopPeriodicMsg(ChannelID, MsgID); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                                        j2534::PASSTHRU_MSG* pMaskMsg, j2534::PASSTHRU_MSG* pPatternMsg,
                                                        j2534::PASSTHRU_MSG* pFlowControlMsg, uint32_t* pMsgID) {
    return Guarded("PassThruStartMsgFilter", [&] {
        return AdapterStartMsgFilter(ChannelID, FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg, pMsgID);
    });
}

ADAPTER_EXPORT int32_t J2534_API PassThruStopMsgFilter(uint32_t ChannelID, uint32_t MsgID) {
    return Guarded("PassThruStopMsgFilter", [&] { return AdapterStopMsgFilter(ChannelID, MsgID); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruSetProgrammingVoltage(uint32_t PinNumber, uint32_t Voltage) {
    return Guarded("PassThruSetProgrammingVoltage", [&] { return AdapterSetProgrammingVoltage(PinNumber, Voltage); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruReadVersion(char* pFirmwareVersion, char* pDllVersion, char* pApiVersion) {
    return Guarded("PassThruReadVersion", [&] { return AdapterReadVersion(pFirmwareVersion, pDllVersion, pApiVersion); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruGetLastError(char* pErrorDescription) {
    return Guarded("PassThruGetLastError", [&] { return AdapterGetLastError(pErrorDescription); });
}

ADAPTER_EXPORT int32_t J2534_API PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput) {
    return Guarded("PassThruIoctl", [&] { return AdapterIoctl(ChannelID, IoctlID, pInput, pOutput); });
}

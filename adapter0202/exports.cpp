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

ADAPTER_EXPORT long J2534_API PassThruConnect(j2534::ULONG ProtocolID, j2534::ULONG Flags, j2534::ULONG* pChannelID) {
    return Guarded("PassThruConnect", [&] { return AdapterConnect(ProtocolID, Flags, pChannelID); });
}

ADAPTER_EXPORT long J2534_API PassThruDisconnect(j2534::ULONG ChannelID) {
    return Guarded("PassThruDisconnect", [&] { return AdapterDisconnect(ChannelID); });
}

ADAPTER_EXPORT long J2534_API PassThruReadMsgs(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs,
                                                  j2534::ULONG Timeout) {
    return Guarded("PassThruReadMsgs", [&] { return AdapterReadMsgs(ChannelID, pMsg, pNumMsgs, Timeout); });
}

ADAPTER_EXPORT long J2534_API PassThruWriteMsgs(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs,
                                                   j2534::ULONG Timeout) {
    return Guarded("PassThruWriteMsgs", [&] { return AdapterWriteMsgs(ChannelID, pMsg, pNumMsgs, Timeout); });
}

ADAPTER_EXPORT long J2534_API PassThruStartPeriodicMsg(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg,
                                                          j2534::ULONG* pMsgID, j2534::ULONG TimeInterval) {
    return Guarded("PassThruStartPeriodicMsg",
                   [&] { return AdapterStartPeriodicMsg(ChannelID, pMsg, pMsgID, TimeInterval); });
}

ADAPTER_EXPORT long J2534_API PassThruStopPeriodicMsg(j2534::ULONG ChannelID, j2534::ULONG MsgID) {
    return Guarded("PassThruStopPeriodicMsg", [&] { return AdapterStopPeriodicMsg(ChannelID, MsgID); });
}

ADAPTER_EXPORT long J2534_API PassThruStartMsgFilter(j2534::ULONG ChannelID, j2534::ULONG FilterType,
                                                        j2534::PASSTHRU_MSG* pMaskMsg, j2534::PASSTHRU_MSG* pPatternMsg,
                                                        j2534::PASSTHRU_MSG* pFlowControlMsg, j2534::ULONG* pMsgID) {
    return Guarded("PassThruStartMsgFilter", [&] {
        return AdapterStartMsgFilter(ChannelID, FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg, pMsgID);
    });
}

ADAPTER_EXPORT long J2534_API PassThruStopMsgFilter(j2534::ULONG ChannelID, j2534::ULONG MsgID) {
    return Guarded("PassThruStopMsgFilter", [&] { return AdapterStopMsgFilter(ChannelID, MsgID); });
}

ADAPTER_EXPORT long J2534_API PassThruSetProgrammingVoltage(j2534::ULONG PinNumber, j2534::ULONG Voltage) {
    return Guarded("PassThruSetProgrammingVoltage", [&] { return AdapterSetProgrammingVoltage(PinNumber, Voltage); });
}

ADAPTER_EXPORT long J2534_API PassThruReadVersion(char* pFirmwareVersion, char* pDllVersion, char* pApiVersion) {
    return Guarded("PassThruReadVersion", [&] { return AdapterReadVersion(pFirmwareVersion, pDllVersion, pApiVersion); });
}

ADAPTER_EXPORT long J2534_API PassThruGetLastError(char* pErrorDescription) {
    return Guarded("PassThruGetLastError", [&] { return AdapterGetLastError(pErrorDescription); });
}

ADAPTER_EXPORT long J2534_API PassThruIoctl(j2534::ULONG ChannelID, j2534::ULONG IoctlID, void* pInput, void* pOutput) {
    return Guarded("PassThruIoctl", [&] { return AdapterIoctl(ChannelID, IoctlID, pInput, pOutput); });
}

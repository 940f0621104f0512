// The fourteen exported J2534 04.04 functions. Nothing thrown inside ever reaches the host.
#include "common/j2534.h"
#include "driver/api/api_impl.h"
#include "driver/api/last_error.h"
#include "driver/log/log.h"

#include "platform/platform.h"

#define ORVEX_EXPORT extern "C" PLATFORM_EXPORT

namespace {
template <typename Body>
int32_t Guarded(const char* name, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        try {
            SetLastErrorText(std::string(name) + ": internal error");
            LogPrintf("%s: internal error (exception caught)", name);
        } catch (...) {
        }
        return j2534::ERR_FAILED;
    }
}
}  // namespace

ORVEX_EXPORT long J2534_API PassThruOpen(const void* pName, j2534::ULONG* pDeviceID) {
    return Guarded("PassThruOpen", [&] { return PassThruOpenImpl(pName, pDeviceID); });
}

ORVEX_EXPORT long J2534_API PassThruClose(j2534::ULONG DeviceID) {
    return Guarded("PassThruClose", [&] { return PassThruCloseImpl(DeviceID); });
}

ORVEX_EXPORT long J2534_API PassThruConnect(j2534::ULONG DeviceID, j2534::ULONG ProtocolID, j2534::ULONG Flags,
                                               j2534::ULONG BaudRate, j2534::ULONG* pChannelID) {
    return Guarded("PassThruConnect",
                   [&] { return PassThruConnectImpl(DeviceID, ProtocolID, Flags, BaudRate, pChannelID); });
}

ORVEX_EXPORT long J2534_API PassThruDisconnect(j2534::ULONG ChannelID) {
    return Guarded("PassThruDisconnect", [&] { return PassThruDisconnectImpl(ChannelID); });
}

ORVEX_EXPORT long J2534_API PassThruReadMsgs(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs,
                                                j2534::ULONG Timeout) {
    return Guarded("PassThruReadMsgs", [&] { return PassThruReadMsgsImpl(ChannelID, pMsg, pNumMsgs, Timeout); });
}

ORVEX_EXPORT long J2534_API PassThruWriteMsgs(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs,
                                                 j2534::ULONG Timeout) {
    return Guarded("PassThruWriteMsgs", [&] { return PassThruWriteMsgsImpl(ChannelID, pMsg, pNumMsgs, Timeout); });
}

ORVEX_EXPORT long J2534_API PassThruStartPeriodicMsg(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg,
                                                        j2534::ULONG* pMsgID, j2534::ULONG TimeInterval) {
    return Guarded("PassThruStartPeriodicMsg",
                   [&] { return PassThruStartPeriodicMsgImpl(ChannelID, pMsg, pMsgID, TimeInterval); });
}

ORVEX_EXPORT long J2534_API PassThruStopPeriodicMsg(j2534::ULONG ChannelID, j2534::ULONG MsgID) {
    return Guarded("PassThruStopPeriodicMsg", [&] { return PassThruStopPeriodicMsgImpl(ChannelID, MsgID); });
}

ORVEX_EXPORT long J2534_API PassThruStartMsgFilter(j2534::ULONG ChannelID, j2534::ULONG FilterType,
                                                      j2534::PASSTHRU_MSG* pMaskMsg, j2534::PASSTHRU_MSG* pPatternMsg,
                                                      j2534::PASSTHRU_MSG* pFlowControlMsg, j2534::ULONG* pFilterID) {
    return Guarded("PassThruStartMsgFilter", [&] {
        return PassThruStartMsgFilterImpl(ChannelID, FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg, pFilterID);
    });
}

ORVEX_EXPORT long J2534_API PassThruStopMsgFilter(j2534::ULONG ChannelID, j2534::ULONG FilterID) {
    return Guarded("PassThruStopMsgFilter", [&] { return PassThruStopMsgFilterImpl(ChannelID, FilterID); });
}

ORVEX_EXPORT long J2534_API PassThruSetProgrammingVoltage(j2534::ULONG DeviceID, j2534::ULONG PinNumber,
                                                             j2534::ULONG Voltage) {
    return Guarded("PassThruSetProgrammingVoltage",
                   [&] { return PassThruSetProgrammingVoltageImpl(DeviceID, PinNumber, Voltage); });
}

ORVEX_EXPORT long J2534_API PassThruReadVersion(j2534::ULONG DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                                   char* pApiVersion) {
    return Guarded("PassThruReadVersion", [&] {
        return PassThruReadVersionImpl(DeviceID, pFirmwareVersion, pDllVersion, pApiVersion);
    });
}

ORVEX_EXPORT long J2534_API PassThruGetLastError(char* pErrorDescription) {
    return Guarded("PassThruGetLastError", [&] { return PassThruGetLastErrorImpl(pErrorDescription); });
}

ORVEX_EXPORT long J2534_API PassThruIoctl(j2534::ULONG ChannelID, j2534::ULONG IoctlID, void* pInput, void* pOutput) {
    return Guarded("PassThruIoctl", [&] { return PassThruIoctlImpl(ChannelID, IoctlID, pInput, pOutput); });
}

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

ORVEX_EXPORT int32_t J2534_API PassThruOpen(const void* pName, uint32_t* pDeviceID) {
    return Guarded("PassThruOpen", [&] { return PassThruOpenImpl(pName, pDeviceID); });
}

ORVEX_EXPORT int32_t J2534_API PassThruClose(uint32_t DeviceID) {
    return Guarded("PassThruClose", [&] { return PassThruCloseImpl(DeviceID); });
}

ORVEX_EXPORT int32_t J2534_API PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                               uint32_t BaudRate, uint32_t* pChannelID) {
    return Guarded("PassThruConnect",
                   [&] { return PassThruConnectImpl(DeviceID, ProtocolID, Flags, BaudRate, pChannelID); });
}

ORVEX_EXPORT int32_t J2534_API PassThruDisconnect(uint32_t ChannelID) {
    return Guarded("PassThruDisconnect", [&] { return PassThruDisconnectImpl(ChannelID); });
}

ORVEX_EXPORT int32_t J2534_API PassThruReadMsgs(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                                uint32_t Timeout) {
    return Guarded("PassThruReadMsgs", [&] { return PassThruReadMsgsImpl(ChannelID, pMsg, pNumMsgs, Timeout); });
}

ORVEX_EXPORT int32_t J2534_API PassThruWriteMsgs(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                                 uint32_t Timeout) {
    return Guarded("PassThruWriteMsgs", [&] { return PassThruWriteMsgsImpl(ChannelID, pMsg, pNumMsgs, Timeout); });
}

ORVEX_EXPORT int32_t J2534_API PassThruStartPeriodicMsg(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg,
                                                        uint32_t* pMsgID, uint32_t TimeInterval) {
    return Guarded("PassThruStartPeriodicMsg",
                   [&] { return PassThruStartPeriodicMsgImpl(ChannelID, pMsg, pMsgID, TimeInterval); });
}

ORVEX_EXPORT int32_t J2534_API PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    return Guarded("PassThruStopPeriodicMsg", [&] { return PassThruStopPeriodicMsgImpl(ChannelID, MsgID); });
}

ORVEX_EXPORT int32_t J2534_API PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                                      j2534::PASSTHRU_MSG* pMaskMsg, j2534::PASSTHRU_MSG* pPatternMsg,
                                                      j2534::PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID) {
    return Guarded("PassThruStartMsgFilter", [&] {
        return PassThruStartMsgFilterImpl(ChannelID, FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg, pFilterID);
    });
}

ORVEX_EXPORT int32_t J2534_API PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID) {
    return Guarded("PassThruStopMsgFilter", [&] { return PassThruStopMsgFilterImpl(ChannelID, FilterID); });
}

ORVEX_EXPORT int32_t J2534_API PassThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber,
                                                             uint32_t Voltage) {
    return Guarded("PassThruSetProgrammingVoltage",
                   [&] { return PassThruSetProgrammingVoltageImpl(DeviceID, PinNumber, Voltage); });
}

ORVEX_EXPORT int32_t J2534_API PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                                   char* pApiVersion) {
    return Guarded("PassThruReadVersion", [&] {
        return PassThruReadVersionImpl(DeviceID, pFirmwareVersion, pDllVersion, pApiVersion);
    });
}

ORVEX_EXPORT int32_t J2534_API PassThruGetLastError(char* pErrorDescription) {
    return Guarded("PassThruGetLastError", [&] { return PassThruGetLastErrorImpl(pErrorDescription); });
}

ORVEX_EXPORT int32_t J2534_API PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput) {
    return Guarded("PassThruIoctl", [&] { return PassThruIoctlImpl(ChannelID, IoctlID, pInput, pOutput); });
}

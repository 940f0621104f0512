// The J2534 02.02 adapter: hosts written for the older API call these, and the adapter carries
// each call to the 04.04 driver library that lies beside it, opening and closing the driver's
// device on the host's behalf (02.02 has no device).
#pragma once

#include <cstdint>
#include <string>

#include "common/j2534.h"

// Path of the 04.04 library for an adapter at adapterPath: a name ending in "_0202" plus
// librarySuffix (any case) loses the "_0202"; any other path is returned unchanged.
std::string ResolveSiblingPath(const std::string& adapterPath, const std::string& librarySuffix);
// Baud rate the adapter passes to the 04.04 connect for a protocol (02.02 connect has none).
uint32_t DefaultBaudFor(uint32_t protocolId);

// The 02.02 calls. Each takes the adapter's one lock and loads the 04.04 library on first use;
// a failed load answers ERR_FAILED and is tried again on the next call.
int32_t AdapterConnect(uint32_t protocolId, uint32_t flags, j2534::ULONG* pChannelID);
int32_t AdapterDisconnect(uint32_t channelId);
int32_t AdapterReadMsgs(uint32_t channelId, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t timeout);
int32_t AdapterWriteMsgs(uint32_t channelId, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t timeout);
int32_t AdapterStartPeriodicMsg(uint32_t channelId, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pMsgID,
                                uint32_t timeInterval);
int32_t AdapterStopPeriodicMsg(uint32_t channelId, uint32_t msgId);
int32_t AdapterStartMsgFilter(uint32_t channelId, uint32_t filterType, j2534::PASSTHRU_MSG* pMaskMsg,
                              j2534::PASSTHRU_MSG* pPatternMsg, j2534::PASSTHRU_MSG* pFlowControlMsg,
                              j2534::ULONG* pMsgID);
int32_t AdapterStopMsgFilter(uint32_t channelId, uint32_t msgId);
int32_t AdapterSetProgrammingVoltage(uint32_t pinNumber, uint32_t voltage);
int32_t AdapterReadVersion(char* pFirmwareVersion, char* pDllVersion, char* pApiVersion);
int32_t AdapterGetLastError(char* pErrorDescription);
int32_t AdapterIoctl(uint32_t channelId, uint32_t ioctlId, void* pInput, void* pOutput);

// An export that caught an exception: ERR_FAILED with the adapter's own text naming the call.
int32_t AdapterInternalError(const char* call) noexcept;

// Explicit unload: closes the device opened on the host's behalf and unloads the 04.04 library.
// Does nothing when the process is ending.
void AdapterUnload(bool processEnding);

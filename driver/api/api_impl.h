// Behaviour behind the exported J2534 functions; exports.cpp wraps each in a guard.
#pragma once

#include <cstdint>

#include "common/j2534.h"

int32_t PassThruOpenImpl(const void* pName, j2534::ULONG* pDeviceID);
int32_t PassThruCloseImpl(uint32_t DeviceID);
int32_t PassThruConnectImpl(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags, uint32_t BaudRate,
                            j2534::ULONG* pChannelID);
int32_t PassThruDisconnectImpl(uint32_t ChannelID);
int32_t PassThruReadMsgsImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t Timeout);
int32_t PassThruWriteMsgsImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs, uint32_t Timeout);
int32_t PassThruStartPeriodicMsgImpl(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pMsgID,
                                     uint32_t TimeInterval);
int32_t PassThruStopPeriodicMsgImpl(uint32_t ChannelID, uint32_t MsgID);
int32_t PassThruStartMsgFilterImpl(uint32_t ChannelID, uint32_t FilterType, j2534::PASSTHRU_MSG* pMaskMsg,
                                   j2534::PASSTHRU_MSG* pPatternMsg, j2534::PASSTHRU_MSG* pFlowControlMsg,
                                   j2534::ULONG* pFilterID);
int32_t PassThruStopMsgFilterImpl(uint32_t ChannelID, uint32_t FilterID);
int32_t PassThruSetProgrammingVoltageImpl(uint32_t DeviceID, uint32_t PinNumber, uint32_t Voltage);
int32_t PassThruReadVersionImpl(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion, char* pApiVersion);
int32_t PassThruGetLastErrorImpl(char* pErrorDescription);
int32_t PassThruIoctlImpl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput);

// PassThruWriteMsgs of the driver's own automatic flow-control frame (one message, Timeout 0):
// it does not count as the application's flow control.
int32_t WriteDriverFlowControl(uint32_t ChannelID, j2534::PASSTHRU_MSG* msg);

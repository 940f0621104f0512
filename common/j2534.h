// SAE J2534 records and codes shared by the driver and the 02.02 adapter.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define J2534_API __stdcall
#else
#define J2534_API
#endif

namespace j2534 {

constexpr uint32_t kMaxDataSize = 4128;

// Natural alignment, as hosts compile the records: on 32-bit x86 that is 4 bytes throughout, and
// a 64-bit host expects the list pointers at offset 8.
struct PASSTHRU_MSG {
    uint32_t ProtocolID;
    uint32_t RxStatus;
    uint32_t TxFlags;
    uint32_t Timestamp;
    uint32_t DataSize;
    uint32_t ExtraDataIndex;
    uint8_t Data[kMaxDataSize];
};

struct SCONFIG {
    uint32_t Parameter;
    uint32_t Value;
};

struct SCONFIG_LIST {
    uint32_t NumOfParams;
    SCONFIG* ConfigPtr;
};

struct SBYTE_ARRAY {
    uint32_t NumOfBytes;
    uint8_t* BytePtr;
};

static_assert(sizeof(PASSTHRU_MSG) == 4152, "PASSTHRU_MSG layout");
static_assert(sizeof(SCONFIG) == 8, "SCONFIG layout");
static_assert(offsetof(SCONFIG_LIST, ConfigPtr) == sizeof(void*), "SCONFIG_LIST layout");
static_assert(offsetof(SBYTE_ARRAY, BytePtr) == sizeof(void*), "SBYTE_ARRAY layout");

// Return codes.
constexpr int32_t STATUS_NOERROR = 0x00;
constexpr int32_t ERR_NOT_SUPPORTED = 0x01;
constexpr int32_t ERR_INVALID_CHANNEL_ID = 0x02;
constexpr int32_t ERR_INVALID_PROTOCOL_ID = 0x03;
constexpr int32_t ERR_NULL_PARAMETER = 0x04;
constexpr int32_t ERR_INVALID_IOCTL_VALUE = 0x05;
constexpr int32_t ERR_INVALID_FLAGS = 0x06;
constexpr int32_t ERR_FAILED = 0x07;
constexpr int32_t ERR_DEVICE_NOT_CONNECTED = 0x08;
constexpr int32_t ERR_TIMEOUT = 0x09;
constexpr int32_t ERR_INVALID_MSG = 0x0A;
constexpr int32_t ERR_INVALID_TIME_INTERVAL = 0x0B;
constexpr int32_t ERR_EXCEEDED_LIMIT = 0x0C;
constexpr int32_t ERR_INVALID_MSG_ID = 0x0D;
constexpr int32_t ERR_DEVICE_IN_USE = 0x0E;
constexpr int32_t ERR_INVALID_IOCTL_ID = 0x0F;
constexpr int32_t ERR_BUFFER_EMPTY = 0x10;
constexpr int32_t ERR_BUFFER_FULL = 0x11;
constexpr int32_t ERR_BUFFER_OVERFLOW = 0x12;
constexpr int32_t ERR_PIN_INVALID = 0x13;
constexpr int32_t ERR_CHANNEL_IN_USE = 0x14;
constexpr int32_t ERR_MSG_PROTOCOL_ID = 0x15;
constexpr int32_t ERR_INVALID_FILTER_ID = 0x16;
constexpr int32_t ERR_NO_FLOW_CONTROL = 0x17;
constexpr int32_t ERR_NOT_UNIQUE = 0x18;
constexpr int32_t ERR_INVALID_BAUDRATE = 0x19;
constexpr int32_t ERR_INVALID_DEVICE_ID = 0x1A;

// Protocol ids as this driver numbers them.
constexpr uint32_t J1850VPW = 1;
constexpr uint32_t J1850PWM = 2;
constexpr uint32_t ISO9141 = 3;
constexpr uint32_t ISO14230 = 4;
constexpr uint32_t CAN = 5;
constexpr uint32_t ISO15765 = 6;
constexpr uint32_t SCI_A_ENGINE = 7;
constexpr uint32_t ISO15765_FD_ALT = 9;
constexpr uint32_t SCI_A_TRANS = 10;
constexpr uint32_t SCI_B_ENGINE = 11;
constexpr uint32_t SCI_B_TRANS = 12;
constexpr uint32_t DOIP = 14;
constexpr uint32_t CAN_FD = 15;
constexpr uint32_t ISO15765_FD = 16;
constexpr uint32_t DOIP_ALT = 0x8000;

// Ioctl ids.
constexpr uint32_t GET_CONFIG = 1;
constexpr uint32_t SET_CONFIG = 2;
constexpr uint32_t READ_VBATT = 3;
constexpr uint32_t FIVE_BAUD_INIT = 4;
constexpr uint32_t FAST_INIT = 5;
constexpr uint32_t CLEAR_TX_BUFFER = 7;
constexpr uint32_t CLEAR_RX_BUFFER = 8;
constexpr uint32_t CLEAR_PERIODIC_MSGS = 9;
constexpr uint32_t CLEAR_MSG_FILTERS = 10;
constexpr uint32_t READ_PROG_VOLTAGE = 14;
constexpr uint32_t IGNITION_SENSE = 0x800E;

// Configuration parameters with special treatment.
constexpr uint32_t DATA_RATE = 1;
constexpr uint32_t LOOPBACK = 3;
constexpr uint32_t ISO15765_BS = 0x1E;
constexpr uint32_t ISO15765_STMIN = 0x1F;
constexpr uint32_t ISO15765_PARAM_20 = 0x20;

// Filter types.
constexpr uint32_t PASS_FILTER = 1;
constexpr uint32_t BLOCK_FILTER = 2;
constexpr uint32_t FLOW_CONTROL_FILTER = 3;

// Connect flags and transmit flags read by the driver.
constexpr uint32_t CAN_29BIT_ID = 0x100;
constexpr uint32_t ISO15765_ADDR_TYPE = 0x80;
constexpr uint32_t ISO15765_FRAME_PAD = 0x40;

}  // namespace j2534

// The fourteen J2534 04.04 entry points.
extern "C" {
using PassThruOpenFn = int32_t(J2534_API*)(const void* pName, uint32_t* pDeviceID);
using PassThruCloseFn = int32_t(J2534_API*)(uint32_t DeviceID);
using PassThruConnectFn = int32_t(J2534_API*)(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                              uint32_t BaudRate, uint32_t* pChannelID);
using PassThruDisconnectFn = int32_t(J2534_API*)(uint32_t ChannelID);
using PassThruReadMsgsFn = int32_t(J2534_API*)(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                               uint32_t Timeout);
using PassThruWriteMsgsFn = int32_t(J2534_API*)(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                                uint32_t Timeout);
using PassThruStartPeriodicMsgFn = int32_t(J2534_API*)(uint32_t ChannelID, j2534::PASSTHRU_MSG* pMsg,
                                                       uint32_t* pMsgID, uint32_t TimeInterval);
using PassThruStopPeriodicMsgFn = int32_t(J2534_API*)(uint32_t ChannelID, uint32_t MsgID);
using PassThruStartMsgFilterFn = int32_t(J2534_API*)(uint32_t ChannelID, uint32_t FilterType,
                                                     j2534::PASSTHRU_MSG* pMaskMsg, j2534::PASSTHRU_MSG* pPatternMsg,
                                                     j2534::PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID);
using PassThruStopMsgFilterFn = int32_t(J2534_API*)(uint32_t ChannelID, uint32_t FilterID);
using PassThruSetProgrammingVoltageFn = int32_t(J2534_API*)(uint32_t DeviceID, uint32_t PinNumber,
                                                            uint32_t Voltage);
using PassThruReadVersionFn = int32_t(J2534_API*)(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                                  char* pApiVersion);
using PassThruGetLastErrorFn = int32_t(J2534_API*)(char* pErrorDescription);
using PassThruIoctlFn = int32_t(J2534_API*)(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput);
}

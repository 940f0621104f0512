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

// Hosts declare the records and parameters with unsigned long: 32 bits on Windows of either
// width, 64 bits on LP64 systems (C, Python ctypes.c_ulong, JNA NativeLong on Linux).
using ULONG = unsigned long;

// Natural alignment, as hosts compile the records.
struct PASSTHRU_MSG {
    ULONG ProtocolID;
    ULONG RxStatus;
    ULONG TxFlags;
    ULONG Timestamp;  // microseconds, the low bits of the receive time
    ULONG DataSize;
    ULONG ExtraDataIndex;
    uint8_t Data[kMaxDataSize];
};

struct SCONFIG {
    ULONG Parameter;
    ULONG Value;
};

struct SCONFIG_LIST {
    ULONG NumOfParams;
    SCONFIG* ConfigPtr;
};

struct SBYTE_ARRAY {
    ULONG NumOfBytes;
    uint8_t* BytePtr;
};

#if defined(_WIN32) || !defined(__LP64__)
static_assert(sizeof(ULONG) == 4, "unsigned long on Windows and 32-bit systems");
static_assert(sizeof(PASSTHRU_MSG) == 24 + kMaxDataSize, "PASSTHRU_MSG layout");
static_assert(sizeof(SCONFIG) == 8, "SCONFIG layout");
#else
static_assert(sizeof(ULONG) == 8, "unsigned long on LP64 systems");
static_assert(sizeof(PASSTHRU_MSG) == 48 + kMaxDataSize, "PASSTHRU_MSG layout");
static_assert(sizeof(SCONFIG) == 16, "SCONFIG layout");
#endif
static_assert(offsetof(PASSTHRU_MSG, Data) == 6 * sizeof(ULONG), "PASSTHRU_MSG layout");
static_assert(offsetof(SCONFIG_LIST, ConfigPtr) == sizeof(void*), "SCONFIG_LIST layout");
static_assert(offsetof(SBYTE_ARRAY, BytePtr) == sizeof(void*), "SBYTE_ARRAY layout");

// The Timestamp of a message taken off its transport at us on the process's monotonic
// microsecond clock: its low 32 bits, wrapping after about 71.6 minutes as hosts expect.
inline ULONG TimestampFromUs(uint64_t us) { return static_cast<ULONG>(static_cast<uint32_t>(us)); }

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
using PassThruOpenFn = long(J2534_API*)(const void* pName, j2534::ULONG* pDeviceID);
using PassThruCloseFn = long(J2534_API*)(j2534::ULONG DeviceID);
using PassThruConnectFn = long(J2534_API*)(j2534::ULONG DeviceID, j2534::ULONG ProtocolID, j2534::ULONG Flags,
                                              j2534::ULONG BaudRate, j2534::ULONG* pChannelID);
using PassThruDisconnectFn = long(J2534_API*)(j2534::ULONG ChannelID);
using PassThruReadMsgsFn = long(J2534_API*)(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs,
                                               j2534::ULONG Timeout);
using PassThruWriteMsgsFn = long(J2534_API*)(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg, j2534::ULONG* pNumMsgs,
                                                j2534::ULONG Timeout);
using PassThruStartPeriodicMsgFn = long(J2534_API*)(j2534::ULONG ChannelID, j2534::PASSTHRU_MSG* pMsg,
                                                       j2534::ULONG* pMsgID, j2534::ULONG TimeInterval);
using PassThruStopPeriodicMsgFn = long(J2534_API*)(j2534::ULONG ChannelID, j2534::ULONG MsgID);
using PassThruStartMsgFilterFn = long(J2534_API*)(j2534::ULONG ChannelID, j2534::ULONG FilterType,
                                                     j2534::PASSTHRU_MSG* pMaskMsg, j2534::PASSTHRU_MSG* pPatternMsg,
                                                     j2534::PASSTHRU_MSG* pFlowControlMsg, j2534::ULONG* pFilterID);
using PassThruStopMsgFilterFn = long(J2534_API*)(j2534::ULONG ChannelID, j2534::ULONG FilterID);
using PassThruSetProgrammingVoltageFn = long(J2534_API*)(j2534::ULONG DeviceID, j2534::ULONG PinNumber,
                                                            j2534::ULONG Voltage);
using PassThruReadVersionFn = long(J2534_API*)(j2534::ULONG DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                                  char* pApiVersion);
using PassThruGetLastErrorFn = long(J2534_API*)(char* pErrorDescription);
using PassThruIoctlFn = long(J2534_API*)(j2534::ULONG ChannelID, j2534::ULONG IoctlID, void* pInput, void* pOutput);
}

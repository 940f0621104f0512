// Object ids of the simulated VCI ("its MDF"): ComParams, I/O controls, bus types, protocols
// and pin types, resolved by short name through PDUGetObjectId.
#pragma once

#include <cstdint>

namespace vcisim {

// What a ComParam name stands for (several names may share one value).
enum CpSlot : unsigned {
    kCpBaudrate, kCpFdBaudrate, kCpFdTxMaxLen, kCpPhysReqId, kCpPhysReqFormat, kCpRespId,
    kCpRespFormat, kCpFuncReqId, kCpRequestAddrMode, kCpBlockSize, kCpStMin, kCpP2Max,
    kCpFillerByte, kCpRawMode, kCpDoipEcuAddress, kCpDoipTesterAddress, kCpP2Star,
    kCpTesterPresentTime, kCpSlotCount
};

struct ComParamDef {
    const char* name;
    uint32_t id;
    CpSlot slot;
    uint32_t pduClass;
    bool standard;  // supported by default (the others are alternative names)
};

constexpr ComParamDef kComParams[] = {
    {"CP_Baudrate", 0x0201, kCpBaudrate, 5, true},
    {"CP_CANFDBaudrate", 0x0202, kCpFdBaudrate, 5, true},
    {"CP_CANFDTxMaxDataLength", 0x0203, kCpFdTxMaxLen, 3, true},
    {"CP_CanPhysReqId", 0x0210, kCpPhysReqId, 6, true},
    {"CP_CanPhysReqFormat", 0x0211, kCpPhysReqFormat, 6, true},
    {"CP_CanRespUSDTId", 0x0212, kCpRespId, 6, true},
    {"CP_CanRespUSDTFormat", 0x0213, kCpRespFormat, 6, true},
    {"CP_CanFuncReqId", 0x0214, kCpFuncReqId, 3, true},
    {"CP_RequestAddrMode", 0x0215, kCpRequestAddrMode, 3, true},
    {"CP_BlockSize", 0x0216, kCpBlockSize, 3, true},
    {"CP_StMin", 0x0217, kCpStMin, 1, true},
    {"CP_P2Max", 0x0218, kCpP2Max, 1, true},
    {"CP_CanFillerByte", 0x0219, kCpFillerByte, 3, true},
    {"CP_RawMode", 0x021A, kCpRawMode, 3, true},
    {"CP_DoIPLogicalEcuAddress", 0x021B, kCpDoipEcuAddress, 6, true},
    {"CP_DoIPLogicalTesterAddress", 0x021C, kCpDoipTesterAddress, 3, true},
    {"CP_P2Star", 0x021D, kCpP2Star, 1, true},
    {"CP_TesterPresentTime", 0x021E, kCpTesterPresentTime, 7, true},
    // alternative names some vendor libraries use; unknown unless a scenario adds them
    {"CP_CANPHYSREQFORMAT", 0x0301, kCpPhysReqFormat, 6, false},
    {"CP_CANRESPUSDTFORMAT", 0x0302, kCpRespFormat, 6, false},
    {"CP_ISO15765TxID", 0x0310, kCpPhysReqId, 6, false},
    {"CP_ISO15765TxId", 0x0311, kCpPhysReqId, 6, false},
    {"CP_ISO15765_TxID", 0x0312, kCpPhysReqId, 6, false},
    {"CP_ISO15765_TxId", 0x0313, kCpPhysReqId, 6, false},
    {"CP_TxID", 0x0314, kCpPhysReqId, 6, false},
    {"CP_TxId", 0x0315, kCpPhysReqId, 6, false},
    {"CP_CAN_TX_ID", 0x0316, kCpPhysReqId, 6, false},
    {"CP_CanTxId", 0x0317, kCpPhysReqId, 6, false},
    {"CP_CANTxId", 0x0318, kCpPhysReqId, 6, false},
    {"CP_CANPHYSREQID", 0x0319, kCpPhysReqId, 6, false},
    {"CP_CanPhysReqID", 0x031A, kCpPhysReqId, 6, false},
    {"CP_ISO15765RxID", 0x0320, kCpRespId, 6, false},
    {"CP_ISO15765RxId", 0x0321, kCpRespId, 6, false},
    {"CP_ISO15765_RxID", 0x0322, kCpRespId, 6, false},
    {"CP_ISO15765_RxId", 0x0323, kCpRespId, 6, false},
    {"CP_RxID", 0x0324, kCpRespId, 6, false},
    {"CP_RxId", 0x0325, kCpRespId, 6, false},
    {"CP_CAN_RX_ID", 0x0326, kCpRespId, 6, false},
    {"CP_CanRxId", 0x0327, kCpRespId, 6, false},
    {"CP_CANRxId", 0x0328, kCpRespId, 6, false},
    {"CP_CANRESPUSDTID", 0x0329, kCpRespId, 6, false},
    {"CP_CanRespUSDTID", 0x032A, kCpRespId, 6, false},
};

// The fastest CAN FD data phase the simulated VCI offers (bit/s).
constexpr uint32_t kMaxFdDataBaud = 5000000;

// Default value of each slot.
constexpr uint32_t kCpDefaults[kCpSlotCount] = {
    500000,   // CP_Baudrate
    2000000,  // CP_CANFDBaudrate
    8,        // CP_CANFDTxMaxDataLength (classic until set)
    0x7E0,    // CP_CanPhysReqId
    0,        // CP_CanPhysReqFormat (0 = 11-bit, 1 = 29-bit; bit-coded 0x05/0x07 also accepted)
    0x7E8,    // CP_CanRespUSDTId
    0,        // CP_CanRespUSDTFormat
    0x7DF,    // CP_CanFuncReqId
    1,        // CP_RequestAddrMode (1 physical, 2 functional)
    0,        // CP_BlockSize
    0,        // CP_StMin
    50000,    // CP_P2Max (µs)
    0x00,     // CP_CanFillerByte
    0,        // CP_RawMode
    0x0010,   // CP_DoIPLogicalEcuAddress
    0x0E80,   // CP_DoIPLogicalTesterAddress
    5000000,  // CP_P2Star (µs)
    2000000,  // CP_TesterPresentTime (µs)
};

struct NamedId {
    const char* name;
    uint32_t id;
};

constexpr NamedId kIoctls[] = {
    {"PDU_IOCTL_RESET", 1},
    {"PDU_IOCTL_CLEAR_TX_QUEUE", 2},
    {"PDU_IOCTL_SUSPEND_TX_QUEUE", 3},
    {"PDU_IOCTL_RESUME_TX_QUEUE", 4},
    {"PDU_IOCTL_CLEAR_RX_QUEUE", 5},
    {"PDU_IOCTL_READ_VBATT", 6},
    {"PDU_IOCTL_SET_PROG_VOLTAGE", 7},
    {"PDU_IOCTL_READ_PROG_VOLTAGE", 8},
    {"PDU_IOCTL_GENERIC", 9},
    {"PDU_IOCTL_SET_BUFFER_SIZE", 10},
    {"PDU_IOCTL_GET_CABLE_ID", 14},
    {"PDU_IOCTL_SEND_BREAK", 15},
    {"PDU_IOCTL_READ_IGNITION_SENSE_STATE", 16},
    {"PDU_IOCTL_VEHICLE_ID_REQUEST", 17},
    {"PDU_IOCTL_SET_ETH_SWITCH_STATE", 18},
    {"PDU_IOCTL_GET_ENTITY_STATUS", 19},
    {"PDU_IOCTL_SET_LOCATOR_STATE", 22},
    {"PDU_IOCTL_SET_DISCOVERY_STATE", 23},
    {"PDU_IOCTL_SET_VEHICLE_DISCOVERY_STATE", 24},
    {"PDU_IOCTL_DISABLE_LOCATOR", 25},
    {"PDU_IOCTL_DISABLE_DISCOVERY", 26},
    {"PDU_IOCTL_STOP_LOCATOR", 27},
    {"PDU_IOCTL_STOP_DISCOVERY", 28},
};

constexpr NamedId kBusTypes[] = {
    {"ISO_11898_2_DWCAN", 1},
    {"ISO_9141_2_UART", 2},
    {"IEEE_802_3", 3},
    {"ISO_14230_1_UART", 4},
    {"ISO_11898_3_DWFTCAN", 5},
};

constexpr NamedId kProtocols[] = {
    {"ISO_14230_3_on_ISO_15765_2", 1},
    {"ISO_15765_3_on_ISO_15765_2", 2},
    {"ISO_11898_RAW", 17},
    {"ISO_14230_3_on_ISO_14230_2", 104},
    {"ISO_OBD_on_ISO_9141_2", 105},
    {"ISO_14229_5_on_ISO_13400_2", 200},
};

constexpr NamedId kPinTypes[] = {
    {"HI", 1}, {"LOW", 2}, {"K", 3}, {"ETH_TX", 4}, {"ETH_RX", 5}, {"L", 6}, {"ETH_ACT", 7},
};

}  // namespace vcisim

// D-PDU API (ISO 22900-2) declarations shared by the driver's D-PDU backend and the simulated
// VCI (vcisim/). Types, structure layouts, values and function signatures only.
//
// - All enumerations are 4-byte values (uint32_t) so the layout is the same on every target.
// - Structures use the default packing.
// - Functions use __stdcall on 32-bit Windows and the default convention elsewhere; they are
//   looked up by undecorated name.
// This header deliberately does not include <windows.h>.
#ifndef ORVEX_DPDU_API_PDU_API_H
#define ORVEX_DPDU_API_PDU_API_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define PDU_CALL __stdcall
#else
#define PDU_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

// ---- basic types ----------------------------------------------------------------------------
typedef uint8_t UNUM8;
typedef int8_t SNUM8;
typedef uint16_t UNUM16;
typedef int16_t SNUM16;
typedef uint32_t UNUM32;
typedef int32_t SNUM32;
typedef char CHAR8;

typedef uint32_t T_PDU_IT;       // item type
typedef uint32_t T_PDU_COPT;     // ComPrimitive type
typedef uint32_t T_PDU_OBJT;     // object type
typedef uint32_t T_PDU_STATUS;   // status
typedef uint32_t T_PDU_INFO;     // info code
typedef uint32_t T_PDU_ERROR;    // function result
typedef uint32_t T_PDU_ERR_EVT;  // event error code
typedef uint32_t T_PDU_PC;       // ComParam class
typedef uint32_t T_PDU_PT;       // ComParam data type
typedef uint32_t T_PDU_EVT_DATA; // callback event kind

#define PDU_HANDLE_UNDEF 0xFFFFFFFFu
#define PDU_ID_UNDEF 0xFFFFFFFEu

// ---- item types -----------------------------------------------------------------------------
#define PDU_IT_IO_UNUM32 0x1000u
#define PDU_IT_IO_PROG_VOLTAGE 0x1001u
#define PDU_IT_IO_BYTEARRAY 0x1002u
#define PDU_IT_IO_FILTER 0x1003u
#define PDU_IT_IO_EVENT_QUEUE_PROPERTY 0x1004u
#define PDU_IT_RSC_STATUS 0x1100u
#define PDU_IT_PARAM 0x1200u
#define PDU_IT_RESULT 0x1300u
#define PDU_IT_STATUS 0x1301u
#define PDU_IT_ERROR 0x1302u
#define PDU_IT_INFO 0x1303u
#define PDU_IT_RSC_ID 0x1400u
#define PDU_IT_RSC_CONFLICT 0x1500u
#define PDU_IT_MODULE_ID 0x1600u
#define PDU_IT_UNIQUE_RESP_ID_TABLE 0x1700u
#define PDU_IT_IO_VEHICLE_ID_REQUEST 0x1800u
#define PDU_IT_IO_ETH_SWITCH_STATE 0x1801u
#define PDU_IT_IO_ENTITY_ADDRESS 0x1802u
#define PDU_IT_IO_ENTITY_STATUS 0x1803u

// ---- ComPrimitive types ---------------------------------------------------------------------
#define PDU_COPT_STARTCOMM 0x8001u
#define PDU_COPT_STOPCOMM 0x8002u
#define PDU_COPT_UPDATEPARAM 0x8003u
#define PDU_COPT_SENDRECV 0x8004u
#define PDU_COPT_DELAY 0x8005u
#define PDU_COPT_RESTORE_PARAM 0x8006u

// ---- object types ---------------------------------------------------------------------------
#define PDU_OBJT_PROTOCOL 0x8021u
#define PDU_OBJT_BUSTYPE 0x8022u
#define PDU_OBJT_IO_CTRL 0x8023u
#define PDU_OBJT_COMPARAM 0x8024u
#define PDU_OBJT_PINTYPE 0x8025u
#define PDU_OBJT_RESOURCE 0x8026u

// ---- status values --------------------------------------------------------------------------
#define PDU_COPST_IDLE 0x8010u
#define PDU_COPST_EXECUTING 0x8011u
#define PDU_COPST_FINISHED 0x8012u
#define PDU_COPST_CANCELLED 0x8013u
#define PDU_COPST_WAITING 0x8014u
#define PDU_CLLST_OFFLINE 0x8050u
#define PDU_CLLST_ONLINE 0x8051u
#define PDU_CLLST_COMM_STARTED 0x8052u
#define PDU_MODST_READY 0x8060u
#define PDU_MODST_NOT_READY 0x8061u
#define PDU_MODST_NOT_AVAIL 0x8062u
#define PDU_MODST_AVAIL 0x8063u

// ---- ComParam classes and data types --------------------------------------------------------
#define PDU_PC_TIMING 1u
#define PDU_PC_INIT 2u
#define PDU_PC_COM 3u
#define PDU_PC_ERRHDL 4u
#define PDU_PC_BUSTYPE 5u
#define PDU_PC_UNIQUE_ID 6u
#define PDU_PC_TESTER_PRESENT 7u

#define PDU_PT_UNUM8 0x101u
#define PDU_PT_SNUM8 0x102u
#define PDU_PT_UNUM16 0x103u
#define PDU_PT_SNUM16 0x104u
#define PDU_PT_UNUM32 0x105u
#define PDU_PT_SNUM32 0x106u
#define PDU_PT_BYTEFIELD 0x107u
#define PDU_PT_STRUCTFIELD 0x108u
#define PDU_PT_LONGFIELD 0x109u

// ---- function results (T_PDU_ERROR) ---------------------------------------------------------
#define PDU_STATUS_NOERROR 0x00u
#define PDU_ERR_FCT_FAILED 0x01u
#define PDU_ERR_RESERVED_1 0x10u
#define PDU_ERR_COMM_PC_TO_VCI_FAILED 0x11u
#define PDU_ERR_PDUAPI_NOT_CONSTRUCTED 0x20u
#define PDU_ERR_SHARING_VIOLATION 0x21u
#define PDU_ERR_RESOURCE_BUSY 0x30u
#define PDU_ERR_RESOURCE_TABLE_CHANGED 0x31u
#define PDU_ERR_RESOURCE_ERROR 0x32u
#define PDU_ERR_CLL_NOT_CONNECTED 0x40u
#define PDU_ERR_CLL_NOT_STARTED 0x41u
#define PDU_ERR_INVALID_PARAMETERS 0x50u
#define PDU_ERR_INVALID_HANDLE 0x60u
#define PDU_ERR_VALUE_NOT_SUPPORTED 0x61u
#define PDU_ERR_ID_NOT_SUPPORTED 0x62u
#define PDU_ERR_COMPARAM_NOT_SUPPORTED 0x63u
#define PDU_ERR_COMPARAM_LOCKED 0x64u
#define PDU_ERR_TX_QUEUE_FULL 0x70u
#define PDU_ERR_EVENT_QUEUE_EMPTY 0x71u
#define PDU_ERR_VOLTAGE_NOT_SUPPORTED 0x80u
#define PDU_ERR_MUX_RSC_NOT_SUPPORTED 0x81u
#define PDU_ERR_CABLE_UNKNOWN 0x82u
#define PDU_ERR_NO_CABLE_DETECTED 0x83u
#define PDU_ERR_CLL_CONNECTED 0x84u
#define PDU_ERR_TEMPPARAM_NOT_ALLOWED 0x90u
#define PDU_ERR_RSC_LOCKED 0xA0u
#define PDU_ERR_RSC_LOCKED_BY_OTHER_CLL 0xA1u
#define PDU_ERR_RSC_NOT_LOCKED 0xA2u
#define PDU_ERR_MODULE_NOT_CONNECTED 0xA3u
#define PDU_ERR_API_SW_OUT_OF_DATE 0xA4u
#define PDU_ERR_MODULE_FW_OUT_OF_DATE 0xA5u
#define PDU_ERR_PIN_NOT_CONNECTED 0xA6u
#define PDU_ERR_IP_PROTOCOL_NOT_SUPPORTED 0xB0u
#define PDU_ERR_DOIP_ROUTING_ACTIVATION_FAILED 0xB1u
#define PDU_ERR_DOIP_ROUTING_ACTIVATION_AUTHENTICATION_FAILED 0xB2u
#define PDU_ERR_DOIP_AMBIGUOUS_LOGICAL_ADDRESS 0xB3u

// ---- event error codes (T_PDU_ERR_EVT) ------------------------------------------------------
#define PDU_ERR_EVT_NOERROR 0x00u
#define PDU_ERR_EVT_FRAME_STRUCT 0x100u
#define PDU_ERR_EVT_TX_ERROR 0x101u
#define PDU_ERR_EVT_TESTER_PRESENT_ERROR 0x102u
#define PDU_ERR_EVT_RX_TIMEOUT 0x103u
#define PDU_ERR_EVT_RX_ERROR 0x104u
#define PDU_ERR_EVT_PROT_ERR 0x105u
#define PDU_ERR_EVT_LOST_COMM_TO_VCI 0x106u
#define PDU_ERR_EVT_VCI_HARDWARE_FAULT 0x107u
#define PDU_ERR_EVT_INIT_ERROR 0x108u
#define PDU_ERR_EVT_RSC_LOCKED 0x109u

// ---- callback event kinds -------------------------------------------------------------------
#define PDU_EVT_DATA_AVAILABLE 0x0801u
#define PDU_EVT_DATA_LOST 0x0802u

// ---- structures -----------------------------------------------------------------------------
typedef struct {
  T_PDU_IT ItemType;
} PDU_ITEM;

typedef struct {
  T_PDU_IT ItemType;
  void* pData;
} PDU_DATA_ITEM;

typedef struct {
  UNUM32 DataSize;
  UNUM8* pData;
} PDU_IO_BYTEARRAY_DATA;

typedef struct {
  UNUM32 ModuleTypeId;
  UNUM32 hMod;
  CHAR8* pVendorModuleName;
  CHAR8* pVendorAdditionalInfo;
  T_PDU_STATUS ModuleStatus;
} PDU_MODULE_DATA;

typedef struct {
  T_PDU_IT ItemType;  // PDU_IT_MODULE_ID
  UNUM32 NumEntries;
  PDU_MODULE_DATA* pModuleData;
} PDU_MODULE_ITEM;

typedef struct {
  UNUM32 hMod;
  UNUM32 NumIds;
  UNUM32* pResourceIdArray;
} PDU_RSC_ID_ITEM_DATA;

typedef struct {
  T_PDU_IT ItemType;  // PDU_IT_RSC_ID
  UNUM32 NumModules;
  PDU_RSC_ID_ITEM_DATA* pResourceIdDataArray;
} PDU_RSC_ID_ITEM;

typedef struct {
  UNUM32 DLCPinNumber;
  UNUM32 DLCPinTypeId;
} PDU_PIN_DATA;

typedef struct {
  UNUM32 BusTypeId;
  UNUM32 ProtocolId;
  UNUM32 NumPinData;
  PDU_PIN_DATA* pDLCPinData;
} PDU_RSC_DATA;

typedef struct {
  UNUM32 hMod;
  UNUM32 ResourceId;
  UNUM32 ResourceStatus;
} PDU_RSC_STATUS_DATA;

typedef struct {
  T_PDU_IT ItemType;  // PDU_IT_RSC_STATUS
  UNUM32 NumEntries;
  PDU_RSC_STATUS_DATA* pResourceStatusData;
} PDU_RSC_STATUS_ITEM;

typedef struct {
  UNUM32 hMod;
  UNUM32 ResourceId;
} PDU_RSC_CONFLICT_DATA;

typedef struct {
  T_PDU_IT ItemType;  // PDU_IT_RSC_CONFLICT
  UNUM32 NumEntries;
  PDU_RSC_CONFLICT_DATA* pRscConflictData;
} PDU_RSC_CONFLICT_ITEM;

typedef struct {
  T_PDU_IT ItemType;  // PDU_IT_PARAM
  UNUM32 ComParamId;
  T_PDU_PT ComParamDataType;
  T_PDU_PC ComParamClass;
  void* pComParamData;
} PDU_PARAM_ITEM;

typedef struct {
  UNUM32 ParamMaxLen;
  UNUM32 ParamActLen;
  UNUM8* pDataArray;
} PDU_PARAM_BYTEFIELD_DATA;

typedef struct {
  UNUM32 ParamMaxLen;
  UNUM32 ParamActLen;
  UNUM32* pDataArray;
} PDU_PARAM_LONGFIELD_DATA;

typedef struct {
  UNUM32 UniqueRespIdentifier;
  UNUM32 NumParamItems;
  PDU_PARAM_ITEM* pParams;
} PDU_ECU_UNIQUE_RESP_DATA;

typedef struct {
  T_PDU_IT ItemType;  // PDU_IT_UNIQUE_RESP_ID_TABLE
  UNUM32 NumEntries;
  PDU_ECU_UNIQUE_RESP_DATA* pUniqueData;
} PDU_UNIQUE_RESP_ID_TABLE_ITEM;

typedef struct {
  UNUM32 NumFlagBytes;
  UNUM8* pFlagData;
} PDU_FLAG_DATA;

typedef struct {
  UNUM32 ResponseType;  // 0 positive, 1 negative
  UNUM32 AcceptanceId;
  UNUM32 NumMaskPatternBytes;
  UNUM8* pMaskData;
  UNUM8* pPatternData;
  UNUM32 NumUniqueRespIds;
  UNUM32* pUniqueRespIds;
} PDU_EXP_RESP_DATA;

typedef struct {
  UNUM32 Time;               // ms
  SNUM32 NumSendCycles;      // -1 infinite
  SNUM32 NumReceiveCycles;   // -1 infinite, -2 multiple
  UNUM32 TempParamUpdate;
  PDU_FLAG_DATA TxFlag;
  UNUM32 NumPossibleExpectedResponses;
  PDU_EXP_RESP_DATA* pExpectedResponseArray;
} PDU_COP_CTRL_DATA;

typedef struct {
  T_PDU_IT ItemType;
  UNUM32 hCop;
  void* pCoPTag;
  UNUM32 Timestamp;  // µs
  void* pData;
} PDU_EVENT_ITEM;

typedef struct {
  UNUM32 NumHeaderBytes;
  UNUM32 NumFooterBytes;
  UNUM8* pHeaderBytes;
  UNUM8* pFooterBytes;
} PDU_EXTRA_INFO;

typedef struct {
  PDU_FLAG_DATA RxFlag;
  UNUM32 UniqueRespIdentifier;
  UNUM32 AcceptanceId;
  PDU_FLAG_DATA TimestampFlags;
  UNUM32 TxMsgDoneTimestamp;
  UNUM32 StartMsgTimestamp;
  PDU_EXTRA_INFO* pExtraInfo;
  UNUM32 NumDataBytes;
  UNUM8* pDataBytes;
} PDU_RESULT_DATA;

typedef struct {
  T_PDU_ERR_EVT ErrorCodeId;
  UNUM32 ExtraErrorInfoId;
} PDU_ERROR_DATA;

typedef struct {
  T_PDU_INFO InfoCode;
  UNUM32 ExtraInfoData;
} PDU_INFO_DATA;

typedef struct {
  UNUM32 IpVersion;  // 4 or 6
  UNUM8* pAddress;
} PDU_IP_ADDR_INFO;

typedef struct {
  UNUM32 PreselectionMode;  // 0 none, 1 VIN, 2 EID
  CHAR8* PreselectionValue;
  UNUM32 CombinationMode;
  UNUM32 VehicleDiscoveryTime;  // ms
  UNUM32 NumDestinationAddresses;
  PDU_IP_ADDR_INFO* pDestinationAddresses;
} PDU_IO_VEHICLE_ID_REQUEST;

typedef struct {
  UNUM32 EthernetSenseState;  // 0 off, 1 on
  UNUM32 EthernetActPinNumber;
} PDU_IO_ETH_SWITCH_STATE;

typedef struct {
  UNUM32 MVCI_Part1StandardVersion;
  UNUM32 MVCI_Part2StandardVersion;
  UNUM32 HwSerialNumber;
  CHAR8 HwName[64];
  UNUM32 HwVersion;
  UNUM32 HwDate;
  UNUM32 HwInterface;
  CHAR8 FwName[64];
  UNUM32 FwVersion;
  UNUM32 FwDate;
  CHAR8 VendorName[64];
  CHAR8 PDUApiSwName[64];
  UNUM32 PDUApiSwVersion;
  UNUM32 PDUApiSwDate;
} PDU_VERSION_DATA;

// ---- function signatures --------------------------------------------------------------------
typedef void(PDU_CALL* PDUEventCallbackFn)(T_PDU_EVT_DATA eventType, UNUM32 hMod, UNUM32 hCLL,
                                           void* pCllTag, void* pAPITag);

typedef T_PDU_ERROR(PDU_CALL* PDUConstructFn)(CHAR8* OptionStr, void* pAPITag);
typedef T_PDU_ERROR(PDU_CALL* PDUDestructFn)(void);
typedef T_PDU_ERROR(PDU_CALL* PDUIoCtlFn)(UNUM32 hMod, UNUM32 hCLL, UNUM32 IoCtlCommandId,
                                          PDU_DATA_ITEM* pInputData, PDU_DATA_ITEM** pOutputData);
typedef T_PDU_ERROR(PDU_CALL* PDUGetVersionFn)(UNUM32 hMod, PDU_VERSION_DATA* pVersionData);
typedef T_PDU_ERROR(PDU_CALL* PDUGetStatusFn)(UNUM32 hMod, UNUM32 hCLL, UNUM32 hCoP,
                                              T_PDU_STATUS* pStatusCode, UNUM32* pTimestamp,
                                              UNUM32* pExtraInfo);
typedef T_PDU_ERROR(PDU_CALL* PDUGetLastErrorFn)(UNUM32 hMod, UNUM32 hCLL, T_PDU_ERR_EVT* pErrorCode,
                                                 UNUM32* phCoP, UNUM32* pTimestamp,
                                                 UNUM32* pExtraErrorInfo);
typedef T_PDU_ERROR(PDU_CALL* PDUGetResourceStatusFn)(PDU_RSC_STATUS_ITEM* pResourceStatus);
typedef T_PDU_ERROR(PDU_CALL* PDUCreateComLogicalLinkFn)(UNUM32 hMod, PDU_RSC_DATA* pRscData,
                                                         UNUM32 resourceId, void* pCllTag,
                                                         UNUM32* phCLL,
                                                         PDU_FLAG_DATA* pCllCreateFlag);
typedef T_PDU_ERROR(PDU_CALL* PDUDestroyComLogicalLinkFn)(UNUM32 hMod, UNUM32 hCLL);
typedef T_PDU_ERROR(PDU_CALL* PDUConnectFn)(UNUM32 hMod, UNUM32 hCLL);
typedef T_PDU_ERROR(PDU_CALL* PDUDisconnectFn)(UNUM32 hMod, UNUM32 hCLL);
typedef T_PDU_ERROR(PDU_CALL* PDULockResourceFn)(UNUM32 hMod, UNUM32 hCLL, UNUM32 LockMask);
typedef T_PDU_ERROR(PDU_CALL* PDUUnlockResourceFn)(UNUM32 hMod, UNUM32 hCLL, UNUM32 LockMask);
typedef T_PDU_ERROR(PDU_CALL* PDUGetComParamFn)(UNUM32 hMod, UNUM32 hCLL, UNUM32 ParamId,
                                                PDU_PARAM_ITEM** pParamItem);
typedef T_PDU_ERROR(PDU_CALL* PDUSetComParamFn)(UNUM32 hMod, UNUM32 hCLL,
                                                PDU_PARAM_ITEM* pParamItem);
typedef T_PDU_ERROR(PDU_CALL* PDUStartComPrimitiveFn)(UNUM32 hMod, UNUM32 hCLL, T_PDU_COPT CoPType,
                                                      UNUM32 CoPDataSize, UNUM8* pCoPData,
                                                      PDU_COP_CTRL_DATA* pCopCtrlData,
                                                      void* pCoPTag, UNUM32* phCoP);
typedef T_PDU_ERROR(PDU_CALL* PDUCancelComPrimitiveFn)(UNUM32 hMod, UNUM32 hCLL, UNUM32 hCoP);
typedef T_PDU_ERROR(PDU_CALL* PDUGetEventItemFn)(UNUM32 hMod, UNUM32 hCLL,
                                                 PDU_EVENT_ITEM** pEventItem);
typedef T_PDU_ERROR(PDU_CALL* PDUDestroyItemFn)(PDU_ITEM* pItem);
typedef T_PDU_ERROR(PDU_CALL* PDURegisterEventCallbackFn)(UNUM32 hMod, UNUM32 hCLL,
                                                          PDUEventCallbackFn EventCallbackFunction);
typedef T_PDU_ERROR(PDU_CALL* PDUGetObjectIdFn)(T_PDU_OBJT pduObjectType, CHAR8* pShortname,
                                                UNUM32* pPduObjectId);
typedef T_PDU_ERROR(PDU_CALL* PDUGetModuleIdsFn)(PDU_MODULE_ITEM** pModuleIdList);
typedef T_PDU_ERROR(PDU_CALL* PDUGetResourceIdsFn)(UNUM32 hMod, PDU_RSC_DATA* pResourceIdData,
                                                   PDU_RSC_ID_ITEM** pResourceIdList);
typedef T_PDU_ERROR(PDU_CALL* PDUGetConflictingResourcesFn)(UNUM32 resourceId,
                                                            PDU_MODULE_ITEM* pInputModuleList,
                                                            PDU_RSC_CONFLICT_ITEM** pOutputConflictList);
typedef T_PDU_ERROR(PDU_CALL* PDUGetUniqueRespIdTableFn)(UNUM32 hMod, UNUM32 hCLL,
                                                         PDU_UNIQUE_RESP_ID_TABLE_ITEM** pUniqueRespIdTable);
typedef T_PDU_ERROR(PDU_CALL* PDUSetUniqueRespIdTableFn)(UNUM32 hMod, UNUM32 hCLL,
                                                         PDU_UNIQUE_RESP_ID_TABLE_ITEM* pUniqueRespIdTable);
typedef T_PDU_ERROR(PDU_CALL* PDUModuleConnectFn)(UNUM32 hMod);
typedef T_PDU_ERROR(PDU_CALL* PDUModuleDisconnectFn)(UNUM32 hMod);
typedef T_PDU_ERROR(PDU_CALL* PDUGetTimestampFn)(UNUM32 hMod, UNUM32* pTimestamp);

#ifdef __cplusplus
}  // extern "C"
#endif

// ---- layout checks (32-bit targets; the reference lists the 32-bit Windows sizes) -------------
#if defined(__cplusplus)
#define PDU_API_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define PDU_API_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4) || \
    (defined(_WIN32) && !defined(_WIN64))
#include <stddef.h>
PDU_API_STATIC_ASSERT(sizeof(PDU_MODULE_DATA) == 20, "PDU_MODULE_DATA layout");
PDU_API_STATIC_ASSERT(sizeof(PDU_COP_CTRL_DATA) == 32, "PDU_COP_CTRL_DATA layout");
PDU_API_STATIC_ASSERT(sizeof(PDU_EVENT_ITEM) == 20, "PDU_EVENT_ITEM layout");
PDU_API_STATIC_ASSERT(sizeof(PDU_RESULT_DATA) == 44, "PDU_RESULT_DATA layout");
PDU_API_STATIC_ASSERT(offsetof(PDU_RESULT_DATA, pDataBytes) == 40, "PDU_RESULT_DATA layout");
PDU_API_STATIC_ASSERT(sizeof(PDU_PARAM_ITEM) == 20, "PDU_PARAM_ITEM layout");
PDU_API_STATIC_ASSERT(sizeof(PDU_MODULE_ITEM) == 12, "PDU_MODULE_ITEM layout");
PDU_API_STATIC_ASSERT(sizeof(PDU_DATA_ITEM) == 8, "PDU_DATA_ITEM layout");
PDU_API_STATIC_ASSERT(sizeof(PDU_VERSION_DATA) == 4 * 10 + 64 * 4, "PDU_VERSION_DATA layout");
#endif

#endif  // ORVEX_DPDU_API_PDU_API_H

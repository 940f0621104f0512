// One connected J2534 channel with its filters, periodic messages and the transmit and
// receive state that the read and write paths keep per channel.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/j2534.h"

struct DoipClient;

// One message filter as the host gave it (whole records copied).
struct FilterRecord {
    uint32_t filterId = 0;
    uint32_t filterType = 0;  // PASS_FILTER, BLOCK_FILTER or FLOW_CONTROL_FILTER
    j2534::PASSTHRU_MSG mask{};
    j2534::PASSTHRU_MSG pattern{};
    j2534::PASSTHRU_MSG flowControl{};  // all zero unless FLOW_CONTROL_FILTER
    bool driverOwned = false;           // installed by the driver at connect, not by the host
};

// One message the periodic sender repeats. The due time is on the 64-bit microsecond clock, so
// that intervals up to 0xFFFFFFFF ms and the wrap of the 32-bit tick count do not make a message
// due at once, and the sender can wait for it to the microsecond.
struct PeriodicRecord {
    uint32_t msgId = 0;
    j2534::PASSTHRU_MSG message{};
    uint32_t intervalMs = 0;
    uint64_t nextDueUs = 0;
};

// The channel's settings and its transmit and receive state: what the read and write paths
// copy under the device lock before they run their transports without it.
struct ChannelState {
    uint32_t channelId = 0;
    uint32_t protocolId = 0;
    uint32_t flags = 0;
    uint32_t dataRate = 0;

    bool kwpOnCan = false;
    bool dpduRawMode = false;
    bool swIsoTp = false;
    uint32_t swIsoTpTxId = 0;
    uint32_t swIsoTpRxId = 0;
    bool comParamsEnabled = false;
    bool canIdInDataFallback = false;
    bool isoTpIdsSet = false;
    uint32_t isoTpTxId = 0;
    uint32_t isoTpRxId = 0;
    uint8_t isoBs = 0;
    uint8_t isoStMin = 0;
    uint8_t param20 = 0;

    bool dasWakeSent = false;
    uint32_t linkHandle = 0;  // backend link id; 0 = no link
    std::string linkName;
    uint32_t kind = 0;  // 0 D-PDU link (or none), 1 NativeDoIP
    // The channel's DoIP client (kind 1). Shared so that a reader working on a copy of the
    // record keeps the client alive while another thread disconnects the channel.
    std::shared_ptr<DoipClient> doip;

    // Transmit and receive state.
    bool autoFlowControl = true;
    uint32_t lastTxCanId = 0;
    uint32_t expectedRxId = 0;
    uint32_t lastFfRxId = 0;
    uint64_t lastAutoFcTick = 0;
    bool comParamsTried = false;
    uint32_t doipTxCount = 0;
    uint32_t benchSynthTick = 0;
    // Software ISO-TP reassembly (changed only on the live record, under the device lock).
    bool rxAssembling = false;
    uint8_t rxNextSn = 0;
    uint32_t rxTotalLen = 0;
    // A software ISO-TP transmit waits for the ECU's flow control; a reader on another thread
    // that meets it hands it over here instead of dropping it.
    bool txAwaitingFc = false;
    std::vector<uint8_t> pendingFc;
};

struct ChannelContext : ChannelState {
    std::map<uint32_t, uint32_t> configValues;  // every SET_CONFIG parameter
    uint32_t nextFilterId = 1;
    std::vector<FilterRecord> filters;  // creation order
    uint32_t nextPeriodicId = 1;
    std::vector<PeriodicRecord> periodicMsgs;  // creation order
    std::vector<uint8_t> rxBuffer;             // software ISO-TP payload collected so far
};

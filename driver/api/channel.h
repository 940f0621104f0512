// One connected J2534 channel: its settings, its way to the vehicle, the transmit and receive
// state that the read and write paths keep per channel, its filters and periodic messages.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/j2534.h"
#include "driver/iso15765/iso15765.h"
#include "driver/iso15765/sw_isotp.h"

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

// How a channel reaches the vehicle, decided at connect.
enum class ChannelTransport : uint8_t {
    None,           // no link: bench mode without a VCI, NoEcu mode's DoIP channels
    DpduLink,       // a ComLogicalLink of the VCI
    SoftwareIsoTp,  // ISO 15765 that the driver segments itself on a raw CAN link of the VCI
    NativeDoip,     // the driver's own DoIP client
};

struct ChannelLink {
    ChannelTransport transport = ChannelTransport::None;
    uint32_t handle = 0;   // backend link id of DpduLink and SoftwareIsoTp; 0 = none
    bool rawMode = false;  // the VCI's link takes and gives whole frames (CP_RawMode)
    uint32_t swIsoTpTxId = 0;
    uint32_t swIsoTpRxId = 0;
    // The channel's DoIP client (NativeDoip). Shared so that a reader working on a copy of the
    // record keeps the client alive while another thread disconnects the channel.
    std::shared_ptr<DoipClient> doip;

    bool OnVci() const { return transport == ChannelTransport::DpduLink || transport == ChannelTransport::SoftwareIsoTp; }
};

// What the write path changes besides the translation's state; written back whole.
struct ChannelTxState {
    bool dasWakeSent = false;
    uint32_t doipTxCount = 0;

    bool operator==(const ChannelTxState& o) const { return dasWakeSent == o.dasWakeSent && doipTxCount == o.doipTxCount; }
    bool operator!=(const ChannelTxState& o) const { return !(*this == o); }
};

// What the read path keeps; changed only on the live record, under the device lock.
struct ChannelRxState {
    bool autoFlowControl = true;
    uint32_t lastFfRxId = 0;
    uint64_t lastAutoFcTick = 0;
    uint32_t benchSynthTick = 0;
};

// The channel's settings and its transmit and receive state: what the read and write paths
// copy under the device lock before they run their transports without it.
struct ChannelState {
    uint32_t channelId = 0;
    uint32_t protocolId = 0;
    uint32_t flags = 0;
    uint32_t dataRate = 0;
    bool kwpOnCan = false;
    bool canIdInDataFallback = false;
    uint8_t isoBs = 0;  // SET_CONFIG ISO15765_BS, ISO15765_STMIN and parameter 0x20
    uint8_t isoStMin = 0;
    uint8_t param20 = 0;

    ChannelLink link;
    Iso15765TxState iso;
    ChannelTxState tx;
    ChannelRxState rx;
};

struct ChannelContext : ChannelState {
    std::string linkName;                       // logical-link name of the VCI link
    std::map<uint32_t, uint32_t> configValues;  // every SET_CONFIG parameter
    uint32_t nextFilterId = 1;
    std::vector<FilterRecord> filters;  // creation order
    uint32_t nextPeriodicId = 1;
    std::vector<PeriodicRecord> periodicMsgs;  // creation order
    IsoTpReassembly reassembly;                // software ISO-TP; the live record's alone
};

// The translation's view of the channel.
Iso15765Link Iso15765LinkOf(const ChannelState& channel);

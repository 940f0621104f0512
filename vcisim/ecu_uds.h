// Simulated ECUs: configuration and the diagnostic responders (UDS on CAN and DoIP, KWP2000 on
// K-Line). Transport-free: a request payload goes in, timed response payloads come out. The
// ISO-TP framing lives in ecu_isotp.h, so a DoIP gateway simulator can reuse the responders.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "vcisim/ecu_obd.h"

namespace vcisim {

enum class EcuBus { Can, KLine };

struct Dtc {
    uint32_t code = 0;   // 3-byte DTC number
    uint8_t status = 0;  // DTC status byte
};

struct EcuConfig {
    std::string name = "Engine";
    EcuBus bus = EcuBus::Can;
    uint32_t requestId = 0x7E0;     // physical request CAN id
    uint32_t responseId = 0x7E8;    // response CAN id
    uint32_t functionalId = 0x7DF;  // functional request CAN id (0 = none)
    uint16_t doipAddress = 0x0010;  // logical address on DoIP links
    uint8_t klineAddress = 0x10;    // K-Line target address (KWP2000)
    std::map<uint16_t, Bytes> dids;  // 0x22 / 0x2E data identifiers
    std::vector<Dtc> dtcs;           // 0x19 02 answer, cleared by 0x14
    uint32_t securityMask = 0x5A5A5A5A;  // key = seed XOR mask
    uint32_t seedBase = 0x11223344;      // first seed; the next ones count up
    uint16_t maxBlockLength = 0x0FFA;    // 0x74 answer (includes SID and counter)
    unsigned responsePending = 0;        // number of 7F xx 78 answers before the final one
    std::set<uint8_t> pendingServices;   // services that get them (empty = all)
    uint32_t pendingDelayMs = 20;        // gap between pending answers and the final one
    uint32_t responseDelayMs = 0;        // processing time before the (first) answer
    bool silent = false;                 // never answers
    std::set<uint8_t> ignoredServices;   // services never answered
    // ISO-TP on raw CAN links (the ECU's own segmentation)
    uint8_t blockSize = 0;    // BS of the ECU's flow control
    uint8_t stMin = 0;        // STmin of the ECU's flow control (raw value)
    bool padding = true;      // pad frames to 8 bytes
    uint8_t padByte = 0xAA;   // padding byte
    unsigned flowControlWaits = 0;     // WAIT flow controls sent before each clear-to-send
    bool flowControlOverflow = false;  // answers first frames with an overflow flow control
    ObdConfig obd;                     // OBD-II services (ecu_obd.h)
};

// One answer: payload and the time after the request (µs) at which it is ready.
struct EcuAnswer {
    uint64_t delayUs = 0;
    Bytes payload;
};

EcuConfig DefaultEngineEcu();
EcuConfig DefaultTransmissionEcu();
EcuConfig DefaultKLineEcu();
// The engine and transmission on 29-bit identifiers (0x18DA<ecu>F1 / 0x18DAF1<ecu>, functional
// 0x18DB33F1), ECU addresses 0x10 and 0x18.
EcuConfig DefaultEngine29Ecu();
EcuConfig DefaultTransmission29Ecu();

class DiagnosticEcu {
public:
    // clockUs: the simulator's time in µs, which the OBD live values follow (default: the time
    // since construction).
    explicit DiagnosticEcu(const EcuConfig& cfg, std::function<uint64_t()> clockUs = nullptr);
    const EcuConfig& Config() const { return cfg_; }

    // UDS (ISO 14229) request; functional = sent to the functional id. Empty = no answer.
    std::vector<EcuAnswer> HandleUds(const Bytes& request, bool functional);
    // KWP2000 (ISO 14230) service bytes without header and checksum; functional = sent to a
    // functional address.
    std::vector<EcuAnswer> HandleKwp(const Bytes& request, bool functional = false);

    // State visible to tests and traces.
    uint8_t Session() const { return session_; }
    bool Unlocked() const { return unlockedLevel_ != 0; }
    uint64_t DownloadedBytes() const { return downloaded_; }
    unsigned CompletedDownloads() const { return completedDownloads_; }

private:
    Bytes Respond(const Bytes& req, bool functional, bool* suppress);
    Bytes RespondKwp(const Bytes& req);
    std::vector<EcuAnswer> Schedule(uint8_t sid, Bytes final);
    // OBD-II (ecu_obd.cpp): the answer messages (K-Line: ISO 14230-4 forms, several messages
    // where CAN has one), and their timing.
    std::vector<Bytes> RespondObd(const Bytes& req, bool functional, bool kline);
    std::vector<EcuAnswer> ScheduleObd(uint8_t sid, std::vector<Bytes> messages);
    Bytes LivePid(uint8_t pid, uint64_t us) const;
    Bytes FreezeFramePid(uint8_t pid, uint8_t frame) const;

    EcuConfig cfg_;
    std::function<uint64_t()> clock_;
    bool monitorsReset_ = false;  // a service 04 clear leaves the readiness monitors incomplete
    uint8_t session_ = 1;
    uint8_t unlockedLevel_ = 0;
    uint8_t seedLevel_ = 0;
    uint32_t lastSeed_ = 0;
    uint32_t seedCounter_ = 0;
    bool downloadActive_ = false;
    uint32_t downloadSize_ = 0;
    uint32_t downloadReceived_ = 0;
    uint8_t nextBlockCounter_ = 1;
    uint64_t downloaded_ = 0;
    unsigned completedDownloads_ = 0;
};

}  // namespace vcisim

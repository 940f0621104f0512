// The OBD-II side of a simulated ECU (SAE J1979 / ISO 15031-5): which emission-related services,
// PIDs and info types it answers, and the drive cycle its live values follow. The responder
// itself is part of DiagnosticEcu (ecu_uds.h); it is transport-free like the UDS one.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vcisim {

using Bytes = std::vector<uint8_t>;

struct ObdConfig {
    std::set<uint8_t> services;          // OBD services answered (0x01-0x0A)
    std::set<uint8_t> pids;              // service 01 data PIDs; the 00/20/40 bitmaps follow from them
    std::set<uint8_t> infoTypes;         // service 09 info types besides the bitmap 00
    std::map<uint8_t, Bytes> fixedPids;  // PID -> data bytes that replace the drive cycle's value
    std::string calibrationId;           // 09 04 (at most 16 characters)
    std::string ecuName;                 // 09 0A: "ECM-EngineControl" (acronym, '-', name)
    uint8_t continuousMonitors = 0;      // 01 01 byte B bits 0-2: supported continuous monitors
    uint8_t otherMonitors = 0;           // 01 01 byte C: supported non-continuous monitors
    std::vector<uint32_t> permanentDtcs;  // 0A; 3-byte codes like the stored ones, kept by 04
};

ObdConfig DefaultEngineObd();
ObdConfig DefaultTransmissionObd();

// The data bytes of service 01 PID `pid` at `us` microseconds into the drive cycle (fixed values
// and the ECU's status are not applied); empty when the PID has no live value.
Bytes DriveCyclePid(uint8_t pid, uint64_t us);
// The data bytes of `pid` for a value in its unit (rpm, km/h, °C, %, V); false when the PID has
// no such scaling or the value is out of its range.
bool EncodePidValue(uint8_t pid, double value, Bytes* out);

}  // namespace vcisim

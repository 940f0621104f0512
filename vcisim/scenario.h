// The simulator's scenario: everything a VciSim.ini can set, with the built-in defaults.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "vcisim/ecu_uds.h"

namespace vcisim {

enum class LinkKind { Iso15765, RawCan, KLine, DoIp };

struct ResourceDef {
    uint32_t id = 0;
    LinkKind kind = LinkKind::Iso15765;
    bool fd = false;     // CAN FD capable
    bool kwp = false;    // KWP2000 on CAN (ISO 15765 transport)
};

struct ModuleDef {
    std::string name;
    std::string info;
    uint32_t status = 0x8063;  // PDU_MODST_AVAIL
    uint32_t typeId = 1;
    std::vector<uint32_t> connectResults;  // result of the 1st, 2nd, ... PDUModuleConnect
    std::vector<ResourceDef> resources;
    bool hiddenUntilVehicleId = false;     // listed only after a successful VEHICLE_ID_REQUEST
    uint32_t vbattMv = 12600;
    uint32_t ignition = 1;
};

// Frames from other nodes that raw CAN links receive ([Traffic]).
struct TrafficDef {
    bool on = false;
    bool fullLoad = false;   // back to back at the link's bit rate
    uint32_t rate = 0;       // frames per second when not fullLoad
    uint32_t canId = 0x100;  // first id; frame n has id canId + n mod idCount
    uint32_t idCount = 16;
    uint32_t dataLength = 8;  // sequence number (4 bytes, big-endian), then its complement
};

struct FaultAt {
    std::string function;
    uint64_t call = 1;      // Nth call (1-based) of that function
    uint32_t code = 0x01;   // for error faults
};

struct Scenario {
    std::string sourcePath;  // the INI file read ("" = built-in defaults)
    std::string tracePath;   // "" = no trace
    bool traceEmptyPolls = true;
    bool traceTimes = false;  // each trace line ends with the simulator's time in µs
    // construction
    bool acceptAllOptions = true;
    std::set<std::string> acceptedOptions;  // "<null>" for a null option string
    uint32_t constructError = 0x01;
    // timing
    bool timed = false;
    uint32_t canBaud = 500000;
    uint32_t canFdDataBaud = 2000000;
    bool copStatusEvents = false;
    std::string iso15765ResultHeader = "auto";  // auto, always, never
    uint32_t rxQueueSize = 4096;                // events a link holds that have arrived
    TrafficDef traffic;
    // modules and ECUs
    std::vector<ModuleDef> modules;
    std::vector<EcuConfig> ecus;
    // object ids
    std::map<std::string, uint32_t> comParamDefaults;   // by canonical name
    std::set<std::string> comParams;                    // supported ComParam names
    std::map<std::string, uint32_t> rejectGet, rejectSet;
    std::set<std::string> unknownNames;                 // any object type
    std::map<std::string, uint32_t> ioctlResults;       // name -> forced result
    // faults
    std::vector<FaultAt> crashes;
    std::vector<FaultAt> errors;
    uint64_t loseVciAfterCalls = 0;  // 0 = never
    uint32_t loseVciCode = 0x11;
};

// Built-in resource table (all family presets) and modules.
std::vector<ResourceDef> DefaultResources();
Scenario DefaultScenario();
// Parses INI text over the defaults. Errors are collected as text lines.
Scenario ParseScenario(const std::string& text, const std::string& baseDir, std::vector<std::string>* errors);

// An OBD-II key of an [EcuN] section (scenario_obd.cpp); false when the key is not one of them.
bool ParseObdEcuKey(const std::string& key, const std::string& value, EcuConfig* ecu, std::vector<std::string>* errors);

uint32_t ParseNumber(const std::string& s, bool* ok);
std::string Trim(const std::string& s);
std::string Lower(std::string s);

}  // namespace vcisim

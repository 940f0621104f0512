// The OBD-II recipe of the host program: what a generic scan tool asks every emission-related
// ECU (SAE J1979) by functional requests to 0x7DF, with a line per answering ECU.
#pragma once

#include "tools/passthru/uds_session.h"

struct ObdTally {
    unsigned requests = 0;
    unsigned answered = 0;  // requests that at least one ECU answered positively
};

// Supported PIDs (01 00/20/40), MIL and DTC count (01 01), stored DTCs (03), live values once
// (01 with engine speed, vehicle speed, coolant, load, throttle, fuel level) and the VIN (09 02).
void RunObdScan(UdsSession& session, ObdTally* tally);

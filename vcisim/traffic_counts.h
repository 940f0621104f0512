// Beyond the D-PDU API: the traffic counts of the simulated VCI, for tests and benchmarks that
// load the same VciSim file as their D-PDU client (the process then shares one simulator).
//
// VciSimGetTrafficCounts(hCLL, ...): the counts of that link since it was connected, or with
// PDU_HANDLE_UNDEF those of every link since the library was loaded. Result 0, 0x50 for a null
// pointer, 0x60 for an unknown link. Not traced, not counted, never faulted.
#pragma once

#include <cstdint>

#include "dpdu_api/pdu_api.h"

typedef T_PDU_ERROR(PDU_CALL* VciSimGetTrafficCountsFn)(UNUM32 hCLL, uint64_t* generated, uint64_t* delivered,
                                                         uint64_t* dropped);

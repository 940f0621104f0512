// The simulated bus behind a link: a SENDRECV request reaches the ECUs and their answers (or
// the missing answer) become the link's events, due when the bus would deliver them.
#pragma once

#include <cstdint>

#include "dpdu_api/pdu_api.h"
#include "vcisim/sim_state.h"

namespace vcisim {

void SimulateIso15765(Sim& s, Module& m, Link& l, const Bytes& in, uint32_t hCoP, void* tag, uint32_t timeMs);
T_PDU_ERROR SimulateRawCan(Sim& s, Module& m, Link& l, const Bytes& d, uint32_t hCoP, void* tag);
void SimulateKLine(Sim& s, Module& m, Link& l, const Bytes& d, uint32_t hCoP, void* tag, uint32_t timeMs);
void SimulateDoIp(Sim& s, Link& l, const Bytes& d, uint32_t hCoP, void* tag, uint32_t timeMs);

}  // namespace vcisim

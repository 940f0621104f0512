// Traffic from other nodes on raw CAN links ([Traffic]) and the bounded receive queue of every
// link: frames are made when a call looks at the link, from the clock, so a client that does
// not read fast enough loses the oldest events, as with a real VCI.
#pragma once

#include <cstdint>

#include "vcisim/sim_state.h"

namespace vcisim {

// A ComPrimitive that receives has started on the link: a raw CAN link starts its generator.
void StartTraffic(Sim& s, Link& l, uint32_t hCoP);
// Brings the link's queue up to now: the generator's frames that have arrived, then the oldest
// arrived events dropped beyond the queue's size.
void CatchUp(Sim& s, Link& l);
// The ComPrimitive is being cancelled: its generated frames go on under another receiving
// ComPrimitive of the link, or stop.
void CancelTraffic(Sim& s, Link& l, uint32_t hCoP);
// The link is being disconnected or destroyed: the generator stops and the counts since the
// connect go to the trace when there were any.
void EndTraffic(Sim& s, Link& l);

}  // namespace vcisim

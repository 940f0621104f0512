// What every exported function does first and last: the prologue (call counters, injected
// faults, the construct check) and the trace line, with the text helpers for its arguments.
#pragma once

#include <string>

#include "dpdu_api/pdu_api.h"
#include "platform/platform.h"
#include "vcisim/sim_state.h"

#define VCISIM_API extern "C" PLATFORM_EXPORT T_PDU_ERROR PDU_CALL

namespace vcisim {

// Runs the prologue and traces its answer; true when the call is answered there. args is the
// call's argument text, emptied when the call crashes.
bool Intercepted(Fn f, std::string& args, T_PDU_ERROR* code);
void TraceCall(Fn f, const std::string& args, T_PDU_ERROR code, const std::string& outs);

std::string H(uint32_t h);
std::string Ptr(const void* p);
std::string RscText(const PDU_RSC_DATA* r);

}  // namespace vcisim

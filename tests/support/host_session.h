// One whole host session as a diagnostic application runs it, for the long runs and the fault
// sweep: open, connect ISO 15765 and CAN, a flow-control filter, a periodic tester present, the
// VIN request and its answer, a CAN frame and its answer, disconnect both, close. A failing
// step ends what depends on it, as a host would; every call's code and, for a failure, the
// calling thread's last-error text are kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/j2534_functions.h"

struct HostCall {
    std::string name;
    int32_t rc = 0;
    std::string error;  // last-error text after a failed call
};

struct HostSession {
    std::vector<HostCall> calls;
    bool vinAnswered = false;
    bool canAnswered = false;
    std::string Describe() const;  // one line per call
};

// readTimeoutMs is the time-out of each read while waiting for an answer (three reads at most).
HostSession RunHostSession(const J2534Functions& f, uint32_t readTimeoutMs);

// Empty when every call succeeded and both answers came, else what went wrong.
std::string SessionFailure(const HostSession& s);
// For a session that met a fault: empty when every code is a J2534 code and the first failure
// is explained by a last-error text, else what went wrong. The session must run on a thread
// that has not failed a call before.
std::string FaultedSessionFailure(const HostSession& s);

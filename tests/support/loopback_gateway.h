// The simulated DoIP gateway as tests start it: on 127.0.0.1 with a TCP port the system
// chooses, answering vehicle identification (UDP port 13400) only when asked to.
#pragma once

#include <memory>

#include "doipsim/gateway.h"

// Null (with a test failure) when it cannot start; another test program may hold the
// discovery port for a moment, so that start is retried for a few seconds.
std::unique_ptr<doipsim::Gateway> StartLoopbackGateway(doipsim::GatewayConfig cfg = {}, bool discoverable = false);

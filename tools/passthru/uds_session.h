// One UDS conversation with an ECU through a J2534 library: open, connect ISO 15765 (the
// library does ISO-TP) or CAN (this program does single frames and collects multi-frame
// answers itself), requests and their answers, close.
#pragma once

#include <cstdint>
#include <string>

#include "tools/passthru/j2534_library.h"
#include "tools/passthru/uds.h"

struct SessionOptions {
    bool rawCan = false;
    uint32_t txId = 0x7E0;
    uint32_t rxId = 0x7E8;
    uint32_t baud = 500000;
    uint32_t timeoutMs = 1000;       // P2 client: wait for the first answer
    uint32_t pendingTimeoutMs = 5000;  // after each "response pending"
    bool obd = false;  // also the flow-control filters of the eight OBD-II ECUs (0x7E0-0x7E7 / 0x7E8-0x7EF)
};

struct UdsSession {
    J2534Library* lib = nullptr;
    SessionOptions options;
    j2534::ULONG device = 0;
    j2534::ULONG channel = 0;
    bool open = false;
};

// Opens the device and connects the channel; false with *error (and the library's text).
bool OpenUdsSession(J2534Library* lib, const SessionOptions& options, UdsSession* session, std::string* error);
void CloseUdsSession(UdsSession* session);

struct Answer {
    bool received = false;  // an answer for the request came (positive or negative)
    Bytes data;             // the UDS answer (no CAN id)
    double ms = 0;          // from the write to the answer
    std::string error;      // what went wrong when nothing came
};
Answer RequestAnswer(UdsSession& session, const Bytes& request);

struct EcuReply {
    uint32_t id = 0;  // the response id it came from
    Bytes data;       // the answer (no CAN id)
};
// Sends the request to canId (an OBD-II functional request reaches several ECUs) and collects
// the final answers of every ECU: until settleMs after the last one, or the time-out when none
// comes at all (a response pending waits longer). Reading on until nothing more comes also
// serves libraries that hand out one message per read. False with *error when the write fails.
bool RequestAllAnswers(UdsSession& session, uint32_t canId, const Bytes& request, uint32_t settleMs,
                       std::vector<EcuReply>* replies, std::string* error);

// J2534 messages as tests write them and read them back, and what the simulated VCI saw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/j2534.h"

using Bytes = std::vector<uint8_t>;

j2534::PASSTHRU_MSG MakeMsg(uint32_t protocolId, const Bytes& data, uint32_t txFlags = 0);
Bytes DataOf(const j2534::PASSTHRU_MSG& msg);
// Bytes from "00 00 07 E0 22 F1 90".
Bytes HexBytes(const std::string& text);

// The data of every ComPrimitive the VCI was asked to send, in order ("00 00 07 E0 22 F1 90").
std::vector<std::string> SentData(const std::string& trace);
// The "t=" time (µs) of each such ComPrimitive, when the trace has times.
std::vector<uint64_t> SentTimes(const std::string& trace);
// The D-PDU functions called, in call order (with "TraceEmptyPolls=1" every call).
std::vector<std::string> CalledFunctions(const std::string& trace);
// The items ("#7(RESULT)") the VCI handed out and never got back through PDUDestroyItem.
std::vector<std::string> LiveItems(const std::string& trace);

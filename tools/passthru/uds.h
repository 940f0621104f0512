// The UDS side of the host program: requests from hex text, what an answer means, and the
// names of negative response codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// "22 F1 90", "22F190" or "0x22,0xF1,0x90"; false when the text is not whole hex bytes.
bool ParseHex(const std::string& text, Bytes* out);
// Two-digit upper-case hex separated by blanks, cut after max bytes with " ...".
std::string HexText(const Bytes& bytes, size_t max = 24);

enum class AnswerKind { Positive, Negative, Pending, Unrelated };
// What an answer is to a request with this service id: its positive response, a negative one,
// a "response pending" (0x78), or nothing to do with it.
AnswerKind ClassifyAnswer(uint8_t sid, const Bytes& answer);
// The ISO 14229-1 name of a negative response code.
const char* NegativeResponseName(uint8_t nrc);
// A line that says what a positive answer holds (the VIN as text, the DTCs), or empty.
std::string DescribeAnswer(const Bytes& request, const Bytes& answer);

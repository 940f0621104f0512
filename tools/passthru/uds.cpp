#include "tools/passthru/uds.h"

#include <cctype>
#include <cstdio>

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

bool ParseHex(const std::string& text, Bytes* out) {
    out->clear();
    int high = -1;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && high < 0) {
            ++i;
            continue;
        }
        if (c == ' ' || c == ',' || c == ':' || c == '\t') {
            if (high >= 0) return false;  // half a byte
            continue;
        }
        int d = HexDigit(c);
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            out->push_back(static_cast<uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    return high < 0 && !out->empty();
}

std::string HexText(const Bytes& bytes, size_t max) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    if (bytes.size() > max) s += " ...";
    return s;
}

AnswerKind ClassifyAnswer(uint8_t sid, const Bytes& a) {
    if (a.empty()) return AnswerKind::Unrelated;
    if (a[0] == static_cast<uint8_t>(sid + 0x40)) return AnswerKind::Positive;
    if (a[0] == 0x7F && a.size() >= 3 && a[1] == sid) return a[2] == 0x78 ? AnswerKind::Pending : AnswerKind::Negative;
    return AnswerKind::Unrelated;
}

const char* NegativeResponseName(uint8_t nrc) {
    switch (nrc) {
    case 0x10: return "generalReject";
    case 0x11: return "serviceNotSupported";
    case 0x12: return "subFunctionNotSupported";
    case 0x13: return "incorrectMessageLengthOrInvalidFormat";
    case 0x14: return "responseTooLong";
    case 0x21: return "busyRepeatRequest";
    case 0x22: return "conditionsNotCorrect";
    case 0x24: return "requestSequenceError";
    case 0x25: return "noResponseFromSubnetComponent";
    case 0x26: return "failurePreventsExecutionOfRequestedAction";
    case 0x31: return "requestOutOfRange";
    case 0x33: return "securityAccessDenied";
    case 0x35: return "invalidKey";
    case 0x36: return "exceededNumberOfAttempts";
    case 0x37: return "requiredTimeDelayNotExpired";
    case 0x70: return "uploadDownloadNotAccepted";
    case 0x71: return "transferDataSuspended";
    case 0x72: return "generalProgrammingFailure";
    case 0x73: return "wrongBlockSequenceCounter";
    case 0x78: return "requestCorrectlyReceivedResponsePending";
    case 0x7E: return "subFunctionNotSupportedInActiveSession";
    case 0x7F: return "serviceNotSupportedInActiveSession";
    case 0x81: return "rpmTooHigh";
    case 0x82: return "rpmTooLow";
    case 0x83: return "engineIsRunning";
    case 0x84: return "engineIsNotRunning";
    case 0x85: return "engineRunTimeTooLow";
    case 0x86: return "temperatureTooHigh";
    case 0x87: return "temperatureTooLow";
    case 0x88: return "vehicleSpeedTooHigh";
    case 0x89: return "vehicleSpeedTooLow";
    case 0x8A: return "throttlePedalTooHigh";
    case 0x8B: return "throttlePedalTooLow";
    case 0x8C: return "transmissionRangeNotInNeutral";
    case 0x8D: return "transmissionRangeNotInGear";
    case 0x8F: return "brakeSwitchesNotClosed";
    case 0x90: return "shifterLeverNotInPark";
    case 0x91: return "torqueConverterClutchLocked";
    case 0x92: return "voltageTooHigh";
    case 0x93: return "voltageTooLow";
    default: return "unknown";
    }
}

std::string DescribeAnswer(const Bytes& q, const Bytes& a) {
    if (q.size() >= 3 && q[0] == 0x22 && a.size() > 3 && a[0] == 0x62) {
        std::string text;
        for (size_t i = 3; i < a.size(); ++i) {
            if (a[i] < 0x20 || a[i] > 0x7E) return {};
            text += static_cast<char>(a[i]);
        }
        char did[8];
        std::snprintf(did, sizeof did, "%02X%02X", a[1], a[2]);
        return std::string(did) + " = \"" + text + "\"";
    }
    if (q.size() >= 2 && q[0] == 0x19 && q[1] == 0x02 && a.size() >= 3 && a[0] == 0x59) {
        std::string text = std::to_string((a.size() - 3) / 4) + " DTC(s)";
        for (size_t i = 3; i + 3 < a.size(); i += 4) {
            char dtc[40];
            std::snprintf(dtc, sizeof dtc, "%s %02X%02X%02X status %02X", i == 3 ? ":" : ",", a[i], a[i + 1], a[i + 2],
                          a[i + 3]);
            text += dtc;
        }
        return text;
    }
    return {};
}

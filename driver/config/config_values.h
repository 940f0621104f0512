// Value types of the INI file: how one trimmed value text becomes a setting.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

std::string TrimText(const std::string& s);
bool EqualsNoCase(const std::string& a, const char* b);
std::string UpperAscii(std::string s);
std::string LowerAscii(std::string s);

// "1", "true", "yes", "on" (letters in any case); everything else is false.
bool ParseBool(const std::string& value);
// Only "1" or "true" (any case).
bool ParseBool10(const std::string& value);
// Unsigned 32-bit with automatic base ("0x" hex, leading "0" octal, else decimal); reading stops
// at the first character that does not fit. False (and *out untouched) for an empty value, one
// that does not start with a digit, or one out of range.
bool ParseUint(const std::string& value, uint32_t* out);
// Optional sign and leading decimal digits; no number gives 0. Saturates at the int range.
int32_t ParseDecimalInt(const std::string& value);
// Battery voltage as volts ("12.6V", "13") or millivolts ("12600"). False when unreadable or
// not above 0; *out untouched then.
bool ParseMilliVolts(const std::string& value, uint32_t* out);
// "tx:rx" items separated by ","; "->" and "/" separate too. Keeps pairs with both ids in
// 1..0x7FF; false (and *pairs untouched) when none is kept.
bool ParseIdPairs(const std::string& value, std::vector<std::pair<uint32_t, uint32_t>>* pairs);
// Items separated by ","; empty, unreadable, 0, 0xFFFFFFFF and 0xFFFFFFFE items are left out.
std::vector<uint32_t> ParseResourceIdList(const std::string& value);

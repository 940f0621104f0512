// Any bytes as an INI file: the line reader and every value type must take them without a
// crash, a hang or undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/config/config_values.h"
#include "driver/config/ini_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ForEachIniKey(text, [](const std::string& section, const std::string& key, const std::string& value) {
        uint32_t n = 0;
        std::vector<std::pair<uint32_t, uint32_t>> pairs;
        ParseBool(value);
        ParseBool10(value);
        ParseUint(value, &n);
        ParseDecimalInt(value);
        ParseMilliVolts(value, &n);
        ParseIdPairs(value, &pairs);
        ParseResourceIdList(value);
        EqualsNoCase(section, key.c_str());
        UpperAscii(value);
    });
    return 0;
}

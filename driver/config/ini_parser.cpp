#include "driver/config/ini_parser.h"

#include "driver/config/config_values.h"

void ForEachIniKey(const std::string& text,
                   const std::function<void(const std::string&, const std::string&, const std::string&)>& onKey) {
    std::string section;
    bool inSection = false;
    // A UTF-8 byte-order mark (editors add one) would otherwise hide the first header.
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = TrimText(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = TrimText(line.substr(1, line.size() - 2));
            inSection = true;
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || !inSection) continue;
        onKey(section, TrimText(line.substr(0, eq)), TrimText(line.substr(eq + 1)));
    }
}

// The driver's own INI line reader: sections and "key=value" lines in file order.
#pragma once

#include <functional>
#include <string>

// Calls onKey(section, key, value) for every key line after the first section header, in file
// order; section, key and value are trimmed. Comment lines ("#", ";"), blank lines and lines
// without "=" are skipped. Any bytes are accepted; a line ends at LF (CR is trimmed away). A
// UTF-8 byte-order mark at the start is skipped.
void ForEachIniKey(const std::string& text,
                   const std::function<void(const std::string& section, const std::string& key,
                                            const std::string& value)>& onKey);

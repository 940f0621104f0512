// The calling thread's last-error text, as PassThruGetLastError reports it.
#pragma once

#include <string>

void SetLastErrorText(const std::string& text);
std::string LastErrorText();

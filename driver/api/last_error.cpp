#include "driver/api/last_error.h"

#include "platform/platform.h"

void SetLastErrorText(const std::string& text) { platform::SetThreadText(text); }

std::string LastErrorText() { return platform::GetThreadText(); }

// The three VCI families one driver file serves, each with its own vendor D-PDU library and its
// own ways; chosen by the library's file name and confirmed by [Backend] Type.
#pragma once

#include <cstdint>

enum class BackendType : uint32_t { Orvex = 0, TVN = 1, TRX4820 = 2 };

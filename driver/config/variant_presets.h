// The VCI family of this library (from its file name) and the presets of each backend type.
#pragma once

#include <string>

struct DriverConfig;

// Variant, names and variant-dependent defaults from the library's base name.
void ApplyVariantFromFileName(DriverConfig& cfg, const std::string& baseName);
// [Backend] Type: a known type sets its variant name, resource ids, CAN FD and library
// defaults and returns true; an unknown one changes nothing and returns false.
bool ApplyBackendType(DriverConfig& cfg, const std::string& typeValue);

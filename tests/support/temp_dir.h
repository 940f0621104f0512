// Fresh folders for tests, under the build tree so that Wine and the native build alike can
// reach them.
#pragma once

#include <string>

// Folder that holds the built deliverables (the test executable's own folder).
std::string TestBinDir();
// A new, empty folder named after the test under scenarios/; never one an earlier process left.
std::string MakeScenarioDir(const std::string& name);
std::string JoinPath(const std::string& dir, const std::string& name);
// Reads a file as text; empty when it is missing.
std::string ReadFileText(const std::string& path);
bool CopyFileTo(const std::string& from, const std::string& to);

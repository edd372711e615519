#pragma once
// Temporary files and small file helpers.
#include <windows.h>
#include <string>

namespace hv {

// The temporary folder with its trailing backslash removed, as GetTempPath gives it otherwise.
std::string TempFolder();

// A fresh, existing, empty file in the temporary folder named by GetTempFileName with the
// given prefix and unique number 0; empty string on failure.
std::string NewTempFile(const char* prefix);

bool FileExists(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string& out);
bool WriteWholeFile(const std::string& path, const std::string& data);

}  // namespace hv

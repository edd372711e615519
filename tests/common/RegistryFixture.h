#pragma once
// Tests of the settings store and the log run against the real registry of the Wine prefix:
// every test starts and ends without the product key.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "common/DiagLog.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr)) << std::hex << (expr)

namespace hvtest {

constexpr const wchar_t* kCompanyPath = L"Software\\Halvane";
constexpr const wchar_t* kProductPath = L"Software\\Halvane\\Halvane for Outlook";
constexpr const wchar_t* kAdvancedPath = L"Software\\Halvane\\Halvane for Outlook\\Advanced";

inline void DeleteProductKey() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kProductPath), ::RegDeleteKeyW(HKEY_CURRENT_USER, kProductPath);
}

inline bool KeyExists(const wchar_t* path) {
    hv::unique_hkey key;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

inline void PutDword(const wchar_t* path, const wchar_t* name, DWORD value) {
    hv::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

inline void PutString(const wchar_t* path, const wchar_t* name, const std::wstring& value) {
    hv::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                              DWORD((value.size() + 1) * sizeof(wchar_t))));
}

// Raw value: false when missing; type and bytes otherwise.
inline bool ReadValue(const wchar_t* path, const wchar_t* name, DWORD& type, std::vector<BYTE>& data) {
    hv::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    return ::RegQueryValueExW(key.get(), name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
}

inline bool ReadDword(const wchar_t* path, const wchar_t* name, DWORD& value) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(path, name, type, data) || type != REG_DWORD || data.size() != 4) return false;
    memcpy(&value, data.data(), 4);
    return true;
}

inline bool ReadString(const wchar_t* path, const wchar_t* name, std::string& value) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(path, name, type, data) || type != REG_SZ) return false;
    value = hv::ToAnsi(reinterpret_cast<const wchar_t*>(data.data()));
    return true;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The library's own log is made before any test switches diagnostics on, so it stays off.
        HvLog();
        DeleteProductKey();
    }
    void TearDown() override { DeleteProductKey(); }
};

}  // namespace hvtest

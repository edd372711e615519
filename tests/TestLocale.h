#pragma once
// The user's regional settings for a test run: HV_TEST_LOCALE ("en-US" when unset, "en-GB",
// "de-DE") names the locale whose short date, time formats and first day of the week are put
// into HKCU\Control Panel\International for the life of the program, as a user would set them
// in the Control Panel, and restored afterwards. The simulated Outlook is given the same
// locale, so Outlook and the add-in read dates alike, as on a real desktop.
#include <windows.h>

#include <cstdlib>
#include <map>
#include <string>

#include "outlook-sim/src/SimModel.h"

namespace hvtest {

// The latest day before today whose month is smaller than its day and whose day is 12 at most
// (such as 12 November): written month first, a day-first reader takes it for a later date.
inline DATE AmbiguousDayBeforeToday() {
    DATE day = static_cast<DATE>(hvsim::DayNumber(hvsim::Model::CurrentTime())) - 2;
    for (int i = 0; i < 400; ++i, day -= 1) {
        int y = 0, m = 0, d = 0;
        hvsim::SplitDate(day, &y, &m, &d);
        if (m < d && d <= 12) return day;
    }
    return 0;
}

inline std::string TestLocale() {
    const char* v = std::getenv("HV_TEST_LOCALE");
    return v && *v ? std::string(v) : std::string("en-US");
}

class RegionalSettings {
public:
    explicit RegionalSettings(const std::string& locale) {
        std::map<std::wstring, std::wstring> values;
        if (locale == "en-GB")
            values = {{L"sShortDate", L"dd/MM/yyyy"},
                      {L"sShortTime", L"HH:mm"},
                      {L"sTimeFormat", L"HH:mm:ss"},
                      {L"iFirstDayOfWeek", L"0"}};
        else if (locale == "de-DE")
            values = {{L"sShortDate", L"dd.MM.yyyy"},
                      {L"sShortTime", L"HH:mm"},
                      {L"sTimeFormat", L"HH:mm:ss"},
                      {L"iFirstDayOfWeek", L"0"}};
        else
            values = {{L"sShortDate", L"M/d/yyyy"},
                      {L"sShortTime", L"h:mm tt"},
                      {L"sTimeFormat", L"h:mm:ss tt"},
                      {L"iFirstDayOfWeek", L"6"}};
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &m_key, nullptr) != ERROR_SUCCESS) {
            m_key = nullptr;
            return;
        }
        for (const auto& kv : values) {
            wchar_t old[128] = {};
            DWORD size = sizeof old;
            DWORD type = 0;
            if (::RegQueryValueExW(m_key, kv.first.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(old), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ)
                m_saved[kv.first] = old;
            else
                m_saved[kv.first] = std::wstring();
            Write(kv.first, kv.second);
        }
    }
    ~RegionalSettings() {
        if (!m_key) return;
        for (const auto& kv : m_saved) {
            if (kv.second.empty())
                ::RegDeleteValueW(m_key, kv.first.c_str());
            else
                Write(kv.first, kv.second);
        }
        ::RegCloseKey(m_key);
    }
    RegionalSettings(const RegionalSettings&) = delete;
    RegionalSettings& operator=(const RegionalSettings&) = delete;

private:
    void Write(const std::wstring& name, const std::wstring& value) {
        ::RegSetValueExW(m_key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    HKEY m_key = nullptr;
    std::map<std::wstring, std::wstring> m_saved;
};

}  // namespace hvtest

#pragma once
// Times of the synchronisation engine. Outlook hands us OLE dates in local time, the service
// speaks ISO 8601 text; inside the engine an instant is a 64-bit count of seconds since
// 1970-01-01 UTC (a time value). Local time follows the system's time-zone rules, daylight
// saving included, for the date in question (not for today).
#include <windows.h>
#include <cstdint>
#include <string>

using HvTime = int64_t;

// An Outlook date: days since 1899-12-30 in local time, and whether it holds a date at all.
struct COleDate {
    DATE m_dt = 0;
    bool m_fValid = false;

    COleDate() = default;
    explicit COleDate(DATE dt) : m_dt(dt), m_fValid(true) {}
    // A local calendar time; invalid when the platform cannot represent it.
    static COleDate FromLocal(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
    bool GetAsSystemTime(SYSTEMTIME& st) const;
};

class CTimeLogic {
public:
    // The UTC offset form "%Y-%m-%dT%H:%M:%S+00:00" of a local Outlook date; `out` is left
    // untouched for an invalid date or a year outside 1970 to 3000 (Outlook's "no date" among them).
    static void ConvertToUTC(const COleDate& date, std::string& out);
    // True when the date is more than `days` whole days in the past; a year outside 1970 to
    // 3000 counts as old.
    static bool IsDateOlderThan(const COleDate& date, long days);
    // The calendar date of `a` with the time of day of `b`.
    static COleDate CombineDateAndTime(const COleDate& a, const COleDate& b);
    // strftime-style text of the local date, no zone conversion.
    static std::string FormatOutlookDate(const COleDate& date, const char* format);
};

// Reads a wire time (YYYY-MM-DD, or YYYY-MM-DDThh:mm:ss with nothing, "Z" or an offset after it).
// Mode 0: the text's instant in UTC; mode 1: the text taken as local time, given in UTC;
// mode 2: the text taken as UTC, given in local time.
bool ParseWireTime(const char* text, int mode, FILETIME& out);
inline bool ParseWireTime(const std::string& text, int mode, FILETIME& out) {
    return ParseWireTime(text.c_str(), mode, out);
}
// "%d-%02d-%02dT%02d:%02d:%02dZ" of a UTC file time, or of the current time when none is given.
std::string FormatWireTimeZ(const FILETIME* utc = nullptr);
// Rewrites a service time without "Z" into the Z form; with `dateOnly` cuts it before the "T".
void NormalizeTime(std::string& text, bool dateOnly = false);
bool IsWireTimeOlderThan(const std::string& text, long days);
bool IsBeforeNow(HvTime t);
bool IsSameInstant(HvTime a, HvTime b);

// Conversions between the engine's representations.
HvTime TimeFromFileTime(const FILETIME& utc);
FILETIME FileTimeFromTime(HvTime t);
HvTime TimeNow();
// A broken-down local time to a time value (daylight saving of that date); years before 1900
// give 0.
HvTime TimeFromLocal(const SYSTEMTIME& local);
// The local calendar date "%Y-%m-%d" of a UTC file time.
std::string LocalDateText(const FILETIME& utc);

#include "service/TimeLogic.h"
#include <oleauto.h>
#include <cstdlib>
#include <cstring>
#include "common/DiagLog.h"
#include "win/Strings.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kEpochTicks = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601

int64_t Ticks(const FILETIME& ft) {
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME FromTicks(int64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return ft;
}

// Decimal digits at a fixed position; the separators around them are not looked at.
int Digits(const char* text, size_t pos, size_t count) {
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        const char c = text[i];
        value = value * 10 + ((c >= '0' && c <= '9') ? c - '0' : 0);
    }
    return value;
}

bool UtcToLocal(const SYSTEMTIME& utc, SYSTEMTIME& local) {
    return ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) != FALSE;
}

bool SameClockTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

bool LocalToUtc(const SYSTEMTIME& local, SYSTEMTIME& utc) {
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return false;
    SYSTEMTIME back;
    if (!UtcToLocal(utc, back) || SameClockTime(back, local)) return true;
    // A clock time the spring change skips (02:30 when clocks go from 02:00 to 03:00) names no
    // instant; read with the daylight offset it would fall before the change and could put an
    // end before its start. It is read with the standard offset, the instant after the change
    // that Outlook moves such a time to (02:30 becomes 03:30).
    TIME_ZONE_INFORMATION zone;
    FILETIME ft;
    if (!::GetTimeZoneInformationForYear(local.wYear, nullptr, &zone) || !::SystemTimeToFileTime(&local, &ft))
        return true;
    ULARGE_INTEGER u{{ft.dwLowDateTime, ft.dwHighDateTime}};
    const LONGLONG minutes = static_cast<LONGLONG>(zone.Bias) + zone.StandardBias;
    u.QuadPart += static_cast<ULONGLONG>(minutes * 60LL * 10000000LL);
    ft = {u.LowPart, u.HighPart};
    SYSTEMTIME standard;
    if (::FileTimeToSystemTime(&ft, &standard)) utc = standard;
    return true;
}

bool InEngineRange(WORD year) {
    return static_cast<WORD>(year - 1970) < 1031;
}

// The whole-day age rule shared by the two age questions.
bool OlderThanDays(HvTime t, long days) {
    const HvTime now = TimeNow();
    if (t >= now) return false;
    const int64_t hours = (now - t) / 3600;
    if (hours == 0) return false;
    return hours / 24 > days;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

COleDate COleDate::FromLocal(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    COleDate date;
    date.m_fValid = ::SystemTimeToVariantTime(&st, &date.m_dt) != FALSE;
    return date;
}

bool COleDate::GetAsSystemTime(SYSTEMTIME& st) const {
    if (!m_fValid) return false;
    return ::VariantTimeToSystemTime(m_dt, &st) != FALSE;
}

HvTime TimeFromFileTime(const FILETIME& utc) {
    return (Ticks(utc) - kEpochTicks) / kTicksPerSecond;
}

FILETIME FileTimeFromTime(HvTime t) {
    return FromTicks(t * kTicksPerSecond + kEpochTicks);
}

HvTime TimeNow() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return TimeFromFileTime(ft);
}

HvTime TimeFromLocal(const SYSTEMTIME& local) {
    if (local.wYear < 1900) return 0;
    SYSTEMTIME utc;
    FILETIME ft;
    if (!LocalToUtc(local, utc) || !::SystemTimeToFileTime(&utc, &ft)) return 0;
    return TimeFromFileTime(ft);
}

std::string LocalDateText(const FILETIME& utcTime) {
    SYSTEMTIME utc, local;
    if (!::FileTimeToSystemTime(&utcTime, &utc) || !UtcToLocal(utc, local)) return std::string();
    return hv::Format("%04d-%02d-%02d", local.wYear, local.wMonth, local.wDay);
}

// ---------------------------------------------------------------------------------------------
// CTimeLogic

void CTimeLogic::ConvertToUTC(const COleDate& date, std::string& out) {
    CDiagLog& log = HvLog();
    log.LogBlockEnter("CTimeLogic::ConvertToUTC");
    try {
        log.LogComment("ConvertToUTC: GetAsSystemTime");
        SYSTEMTIME st = {};
        if (date.m_fValid) date.GetAsSystemTime(st);
        log.LogCommentNum("ConvertToUTC: wYear is %d", st.wYear);
        log.LogCommentNum("ConvertToUTC: wMonth is %d", st.wMonth);
        log.LogCommentNum("ConvertToUTC: wDayOfWeek is %d", st.wDayOfWeek);
        log.LogCommentNum("ConvertToUTC: wDay is %d", st.wDay);
        log.LogCommentNum("ConvertToUTC: wHour is %d", st.wHour);
        log.LogCommentNum("ConvertToUTC: wMinute is %d", st.wMinute);
        log.LogCommentNum("ConvertToUTC: wSecond is %d", st.wSecond);
        log.LogCommentNum("ConvertToUTC: wMilliseconds is %d", st.wMilliseconds);
        if (date.m_fValid && InEngineRange(st.wYear)) {
            log.LogComment("ConvertToUTC: SystemTimeToFileTime");
            FILETIME local;
            if (!::SystemTimeToFileTime(&st, &local)) throw std::string("SystemTimeToFileTime failed");
            log.LogComment("ConvertToUTC: LocalFileTimeToFileTime");
            // The shift uses the zone rules of the date itself, so a summer date keeps its
            // summer offset even when converted in winter.
            SYSTEMTIME utc;
            if (!LocalToUtc(st, utc)) throw std::string("local time has no UTC equivalent");
            log.LogComment("ConvertToUTC: Constructing CTime");
            out = hv::Format("%04d-%02d-%02dT%02d:%02d:%02d+00:00", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                             utc.wMinute, utc.wSecond);
        }
    } catch (const std::string& text) {
        log.LogError("CTimeLogic::ConvertToUTC: Exception");
        log.LogError(text);
    } catch (...) {
        log.LogError("CTimeLogic::ConvertToUTC: Exception");
    }
    log.LogBlockExit("CTimeLogic::ConvertToUTC");
}

bool CTimeLogic::IsDateOlderThan(const COleDate& date, long days) {
    SYSTEMTIME st;
    if (!date.GetAsSystemTime(st)) return false;
    if (!InEngineRange(st.wYear)) return true;
    return OlderThanDays(TimeFromLocal(st), days);
}

COleDate CTimeLogic::CombineDateAndTime(const COleDate& a, const COleDate& b) {
    SYSTEMTIME sa, sb;
    COleDate result;
    if (!a.GetAsSystemTime(sa) || !b.GetAsSystemTime(sb)) return result;
    sb.wYear = sa.wYear;
    sb.wMonth = sa.wMonth;
    sb.wDayOfWeek = sa.wDayOfWeek;
    sb.wDay = sa.wDay;
    result.m_fValid = ::SystemTimeToVariantTime(&sb, &result.m_dt) != FALSE;
    return result;
}

std::string CTimeLogic::FormatOutlookDate(const COleDate& date, const char* format) {
    SYSTEMTIME st;
    if (!format || !date.GetAsSystemTime(st)) return std::string();
    // Our own formatter: the C runtime's strftime refuses some of Outlook's years (4501).
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (*p != '%' || !p[1]) {
            out += *p;
            continue;
        }
        switch (*++p) {
            case 'Y':
                out += hv::Format("%04d", st.wYear);
                break;
            case 'y':
                out += hv::Format("%02d", st.wYear % 100);
                break;
            case 'm':
                out += hv::Format("%02d", st.wMonth);
                break;
            case 'd':
                out += hv::Format("%02d", st.wDay);
                break;
            case 'H':
                out += hv::Format("%02d", st.wHour);
                break;
            case 'I':
                out += hv::Format("%02d", st.wHour % 12 == 0 ? 12 : st.wHour % 12);
                break;
            case 'M':
                out += hv::Format("%02d", st.wMinute);
                break;
            case 'S':
                out += hv::Format("%02d", st.wSecond);
                break;
            case 'p':
                out += st.wHour < 12 ? "AM" : "PM";
                break;
            case '%':
                out += '%';
                break;
            default:
                out += '%';
                out += *p;
                break;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Wire times

bool ParseWireTime(const char* text, int mode, FILETIME& out) {
    if (!text) return false;
    const size_t length = strlen(text);
    if (length != 10 && length < 19) return false;
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(Digits(text, 0, 4));
    st.wMonth = static_cast<WORD>(Digits(text, 5, 2));
    st.wDay = static_cast<WORD>(Digits(text, 8, 2));
    int offsetMinutes = 0;
    if (length >= 19) {
        st.wHour = static_cast<WORD>(Digits(text, 11, 2));
        st.wMinute = static_cast<WORD>(Digits(text, 14, 2));
        st.wSecond = static_cast<WORD>(Digits(text, 17, 2));
        // The zone: "-hh:mm" lies behind UTC, so the time moves later; "+hh:mm" earlier.
        if (const char* t = strchr(text, 'T')) {
            int sign = 0;
            const char* offset = strchr(t, '-');
            if (offset) {
                sign = 1;
            } else if ((offset = strchr(t, '+')) != nullptr) {
                sign = -1;
            }
            if (sign) {
                static const int weights[4] = {600, 60, 10, 1};
                int used = 0, sum = 0;
                for (const char* p = offset + 1; *p && used < 4; ++p)
                    if (*p >= '0' && *p <= '9') sum += (*p - '0') * weights[used++];
                offsetMinutes = sum * sign;
            }
        }
    }
    FILETIME ft;
    if (!::SystemTimeToFileTime(&st, &ft)) return false;
    int64_t ticks = Ticks(ft) + static_cast<int64_t>(offsetMinutes) * 60 * kTicksPerSecond;
    if (ticks < 0) return false;
    ft = FromTicks(ticks);
    if (mode == 1 || mode == 2) {
        SYSTEMTIME in, converted;
        if (!::FileTimeToSystemTime(&ft, &in)) return false;
        if (!(mode == 1 ? LocalToUtc(in, converted) : UtcToLocal(in, converted))) return false;
        if (!::SystemTimeToFileTime(&converted, &ft)) return false;
    }
    out = ft;
    return true;
}

std::string FormatWireTimeZ(const FILETIME* utc) {
    SYSTEMTIME st;
    if (utc) {
        if (!::FileTimeToSystemTime(utc, &st)) return std::string();
    } else {
        ::GetSystemTime(&st);
    }
    return hv::Format("%d-%02d-%02dT%02d:%02d:%02dZ", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

void NormalizeTime(std::string& text, bool dateOnly) {
    if (text.find('Z') == std::string::npos) {
        FILETIME ft;
        // A text that does not parse stays as it came: the callers only hand us service times.
        if (ParseWireTime(text, 0, ft)) text = FormatWireTimeZ(&ft);
    }
    if (dateOnly) {
        const size_t t = text.find('T');
        if (t != std::string::npos) text.erase(t);
    }
}

bool IsWireTimeOlderThan(const std::string& text, long days) {
    FILETIME ft;
    if (text.empty() || !ParseWireTime(text, 0, ft)) return false;
    return OlderThanDays(TimeFromFileTime(ft), days);
}

bool IsBeforeNow(HvTime t) {
    return t < TimeNow();
}

bool IsSameInstant(HvTime a, HvTime b) {
    return (a > b ? a - b : b - a) < 10;
}

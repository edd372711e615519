#include "sync/FilterDate.h"
#include "win/Strings.h"

std::string FormatFilterDate(const SYSTEMTIME& local, LCID locale) {
    wchar_t date[80] = {};
    wchar_t time[80] = {};
    if (!::GetDateFormatW(locale, DATE_SHORTDATE, &local, nullptr, date, 80)) return std::string();
    if (!::GetTimeFormatW(locale, TIME_NOSECONDS, &local, nullptr, time, 80)) return std::string();
    return hv::ToAnsi(date) + " " + hv::ToAnsi(time);
}

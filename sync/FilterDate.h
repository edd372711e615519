#pragma once
// Dates in Outlook's "Restrict" and "Find" conditions. Outlook reads a date literal in the
// user's regional settings (short date, then short time), so a condition written month-first
// would be read day-first on a British or German desktop and select the wrong items.
#include <windows.h>
#include <string>

// A local time as a condition's date literal: the short date and the time without seconds, in
// `locale`'s format ("3/5/2024 2:07 PM" en-US, "05/03/2024 14:07" en-GB, "05.03.2024 14:07"
// de-DE). Empty when the time cannot be formatted.
std::string FormatFilterDate(const SYSTEMTIME& local, LCID locale = LOCALE_USER_DEFAULT);

#pragma once
// A recurring Outlook appointment is synchronised as single occurrences: its rule is read into a
// CPattern, a cursor walks it through a bounded window around today, and every date that really
// has an occurrence becomes a CRecurrenceVector. The expansion itself (it opens items and makes
// records) lives in CPushPull; this header holds the rule, the vector and the date stepping.
#include <windows.h>
#include <oaidl.h>
#include "service/TimeLogic.h"
#include "win/ComTypes.h"

// Outlook's recurrence types.
enum : long {
    OL_RECURS_DAILY = 0,
    OL_RECURS_WEEKLY = 1,
    OL_RECURS_MONTHLY = 2,
    OL_RECURS_MONTH_NTH = 3,
    OL_RECURS_YEARLY = 5,
    OL_RECURS_YEAR_NTH = 6,
};

// The yearly types look this far ahead instead of "RecurrenceWindow" days (1825 days).
constexpr long long HV_YEARLY_WINDOW_SECONDS = 157680000LL;

// One expanded occurrence: its date and, when an exception of the series replaces it, the
// 1-based index of that exception in the pattern's "Exceptions" (0 for a plain occurrence).
class CRecurrenceVector {
public:
    CRecurrenceVector() = default;
    CRecurrenceVector(long exceptionIndex, const COleDate& date) : m_nException(exceptionIndex), m_date(date) {}
    CRecurrenceVector(const CRecurrenceVector&) = default;
    CRecurrenceVector& operator=(const CRecurrenceVector&) = default;

    long m_nException = 0;
    COleDate m_date;
};

// The series' rule and the expansion cursor. Fields left at -1 (or invalid dates) were not
// readable.
class CPattern {
public:
    long m_nType = -1;            // "RecurrenceType"
    long m_nInterval = -1;        // "Interval" (days, weeks, months; months for the yearly types)
    long m_nDayOfWeekMask = -1;   // "DayOfWeekMask": Sunday 1 ... Saturday 64
    long m_nDayOfMonth = -1;      // "DayOfMonth" (read, not used by the stepping)
    long m_nMonthOfYear = -1;     // "MonthOfYear" (read, not used by the stepping)
    long m_fNoEndDate = 0;        // "NoEndDate"
    COleDate m_start{0.0};        // "PatternStartDate"
    COleDate m_end{0.0};          // "PatternEndDate", clipped to the window by LimitPattern
    COleDate m_cursor{0.0};       // the date the expansion has reached
    long m_nOccurrences = -1;     // "Occurrences" (read, not used)
    long m_nLimit = -1;           // setting "MaxOccurrences"
    long m_nExceptionCount = -1;  // "Count" of "Exceptions"
    long m_nInstance = -1;        // "Instance": which week of the month, 1 to 5
    // The day weekly periods start on, Sunday 1 to Saturday 7. Outlook gives a series the first
    // day of the week of the user's regional settings when it is made, and does not show it in
    // the object model, so ReadPattern takes it from those settings.
    long m_nFirstDayOfWeek = 1;
    hv::unique_variant m_exceptions;  // the pattern's "Exceptions" collection
    long m_fStarted = 0;              // set once the first occurrence exists
    long m_nProduced = 0;             // occurrences produced so far
};

// Moves the cursor to the next date the rule allows, keeping its time of day. False when the
// rule gives no step (unknown type, empty weekly mask, cursor year outside 1970 to 3000) or the
// date cannot be built.
bool StepPattern(CPattern& pattern);
// StepPattern, then the end test: false (stop) when stepping failed, either date is invalid, or
// the cursor lies more than 12 hours after the end date. Never throws.
bool AdvanceCursor(CPattern& pattern);
// The user's first day of the week (regional settings), Sunday 1 to Saturday 7.
long UserFirstDayOfWeek();
// Weekday of an Outlook date, Sunday 1 to Saturday 7.
int OutlookWeekday(const COleDate& date);
// A local Outlook date as a time value (0 for an invalid date).
HvTime TimeFromOutlookDate(const COleDate& date);
// A time value as a local Outlook date.
COleDate OutlookDateFromTime(HvTime t);

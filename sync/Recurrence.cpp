#include "sync/Recurrence.h"
#include <cmath>
#include "common/Config.h"
#include "common/DiagLog.h"
#include "sync/ItemAccess.h"
#include "sync/PushPull.h"
#include "win/Strings.h"

namespace {

// Far more steps than any window holds; only a rule that never advances could get here.
constexpr int kMaxSteps = 200000;

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
    return days[(month - 1) % 12];
}

bool MaskHas(long mask, int weekday) {
    return (mask & (1L << (weekday - 1))) != 0;
}

// The cursor's time of day on another calendar date; throws when it cannot be built.
COleDate OnDate(const SYSTEMTIME& cursor, int year, int month, int day) {
    COleDate d = COleDate::FromLocal(year, month, day, cursor.wHour, cursor.wMinute, cursor.wSecond);
    THROW_HR_IF(E_INVALIDARG, !d.m_fValid);
    return d;
}

COleDate AddDays(const COleDate& date, long days) {
    SYSTEMTIME st;
    THROW_HR_IF(E_INVALIDARG, !COleDate(date.m_dt + days).GetAsSystemTime(st));
    return OnDate(st, st.wYear, st.wMonth, st.wDay);
}

// The end of the expansion: 12 hours past the end date, and never before the end of the end
// date's own day (Outlook keeps the end date as a bare date, and an occurrence late on that day
// still belongs to the series).
bool PastEnd(const COleDate& cursor, const COleDate& end) {
    const double endOfDay = std::floor(end.m_dt) + 1.0;
    return cursor.m_dt > end.m_dt + 0.5 && cursor.m_dt >= endOfDay;
}

bool IsItem(const hv::unique_variant& v) {
    return v.vt == VT_DISPATCH && v.pdispVal != nullptr;
}

// The pattern object's occurrence at a date, or null.
hv::com_ptr<IDispatch> GetOccurrence(IDispatch* recurrencePattern, const COleDate& date) {
    hv::unique_variant arg = hv::unique_variant::FromDate(date.m_dt);
    hv::unique_variant result;
    if (FAILED(CDispatcher::CallMethod(recurrencePattern, L"GetOccurrence", result.put(), 1, &arg)) || !IsItem(result))
        return nullptr;
    return hv::com_ptr<IDispatch>(result.pdispVal);
}

}  // namespace

long UserFirstDayOfWeek() {
    wchar_t value[4] = {};
    if (!::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IFIRSTDAYOFWEEK, value, 4)) return 1;
    const int monday0 = value[0] - L'0';  // 0 Monday .. 6 Sunday
    if (monday0 < 0 || monday0 > 6) return 1;
    return (monday0 + 1) % 7 + 1;
}

int OutlookWeekday(const COleDate& date) {
    SYSTEMTIME st;
    if (!date.GetAsSystemTime(st)) return 0;
    return st.wDayOfWeek + 1;
}

HvTime TimeFromOutlookDate(const COleDate& date) {
    SYSTEMTIME st;
    if (!date.GetAsSystemTime(st)) return 0;
    return TimeFromLocal(st);
}

COleDate OutlookDateFromTime(HvTime t) {
    FILETIME ft = FileTimeFromTime(t);
    SYSTEMTIME utc, local;
    if (!::FileTimeToSystemTime(&ft, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return COleDate();
    return COleDate::FromLocal(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond);
}

bool StepPattern(CPattern& p) {
    SYSTEMTIME st;
    if (!p.m_cursor.GetAsSystemTime(st)) return false;
    if (st.wYear < 1970 || st.wYear > 3000) return false;
    const int weekday = st.wDayOfWeek + 1;
    switch (p.m_nType) {
        case OL_RECURS_DAILY:
            // An unreadable or zero interval would never move the cursor forward.
            if (p.m_nInterval < 1) return false;
            p.m_cursor = AddDays(p.m_cursor, p.m_nInterval);
            return true;
        case OL_RECURS_WEEKLY: {
            const long mask = p.m_nDayOfWeekMask & 0x7F;
            if (p.m_nDayOfWeekMask < 0 || mask == 0) return false;
            // Days are counted from the series' first day of the week: with an interval above one,
            // a week that starts on Monday holds a different Sunday than one that starts on Sunday.
            const int first =
                p.m_nFirstDayOfWeek >= 1 && p.m_nFirstDayOfWeek <= 7 ? static_cast<int>(p.m_nFirstDayOfWeek) : 1;
            auto place = [first](int day) { return (day - first + 7) % 7; };  // 0 = the week's first day
            const int here = place(weekday);
            for (int i = here + 1; i < 7; ++i) {
                if (MaskHas(mask, (first - 1 + i) % 7 + 1)) {
                    p.m_cursor = AddDays(p.m_cursor, i - here);
                    return true;
                }
            }
            const long interval = p.m_nInterval < 1 ? 1 : p.m_nInterval;
            const long weekStart = (7 - here) + 7 * (interval - 1);  // days to that week's first day
            for (int i = 0; i < 7; ++i) {
                if (MaskHas(mask, (first - 1 + i) % 7 + 1)) {
                    p.m_cursor = AddDays(p.m_cursor, weekStart + i);
                    return true;
                }
            }
            return false;
        }
        case OL_RECURS_MONTHLY: {
            if (p.m_nInterval < 1) return false;
            const long months = st.wMonth - 1 + p.m_nInterval;
            const int year = st.wYear + static_cast<int>(months / 12);
            const int month = static_cast<int>(months % 12) + 1;
            // The series' own day of month, so that a series on the 31st comes back to the 31st
            // after a shorter month; a month without that day takes its last day, as Outlook does.
            SYSTEMTIME anchor;
            int day = st.wDay;
            if (p.m_start.GetAsSystemTime(anchor) && anchor.wDay > day) day = anchor.wDay;
            if (day > DaysInMonth(year, month)) day = DaysInMonth(year, month);
            p.m_cursor = OnDate(st, year, month, day);
            return true;
        }
        case OL_RECURS_MONTH_NTH: {
            if (p.m_nInterval < 1) return false;
            if (p.m_nInstance >= 5) {
                // The last such weekday: the same weekday in the last seven days of the month
                // `interval` months on. Four weeks on (or five) would miss it in every month where
                // it falls on the 22nd to the 28th.
                const long months = st.wMonth - 1 + p.m_nInterval;
                const int year = st.wYear + static_cast<int>(months / 12);
                const int month = static_cast<int>(months % 12) + 1;
                const int last = DaysInMonth(year, month);
                COleDate next = OnDate(st, year, month, last);
                const int back = (OutlookWeekday(next) - weekday + 7) % 7;
                p.m_cursor = OnDate(st, year, month, last - back);
                return true;
            }
            COleDate next = p.m_cursor;
            for (long i = 0; i < p.m_nInterval; ++i) {
                next = AddDays(next, 28);
                SYSTEMTIME reached;
                THROW_HR_IF(E_INVALIDARG, !next.GetAsSystemTime(reached));
                const long first = 7 * p.m_nInstance - 6, last = 7 * p.m_nInstance;
                if (reached.wDay < first || reached.wDay > last) next = AddDays(next, 7);
            }
            p.m_cursor = next;
            return true;
        }
        case OL_RECURS_YEARLY: {
            // The interval of a yearly series counts months (12 a year); less than a year would
            // never move the cursor.
            const long years = p.m_nInterval / 12 < 1 ? 1 : p.m_nInterval / 12;
            const int year = st.wYear + static_cast<int>(years);
            int day = st.wDay;
            if (day > DaysInMonth(year, st.wMonth)) day = DaysInMonth(year, st.wMonth);  // 29 February
            p.m_cursor = OnDate(st, year, st.wMonth, day);
            return true;
        }
        case OL_RECURS_YEAR_NTH: {
            const long mask = p.m_nDayOfWeekMask & 0x7F;
            if (p.m_nDayOfWeekMask < 0 || mask == 0) return false;
            const int year = st.wYear + 1;
            const long instance = p.m_nInstance < 1 ? 1 : p.m_nInstance;
            int day = static_cast<int>(7 * (instance - 1) + 1);
            // The last week ("Instance" 5) is the last seven days of the month.
            if (day + 6 > DaysInMonth(year, st.wMonth)) day = DaysInMonth(year, st.wMonth) - 6;
            COleDate next = OnDate(st, year, st.wMonth, day);
            for (int i = 0; i < 7; ++i) {
                if (MaskHas(mask, OutlookWeekday(next))) {
                    p.m_cursor = next;
                    return true;
                }
                next = AddDays(next, 1);
            }
            return false;
        }
        default:
            return false;
    }
}

bool AdvanceCursor(CPattern& p) {
    try {
        if (!StepPattern(p)) return false;
        if (!p.m_cursor.m_fValid || !p.m_end.m_fValid) return false;
        return !PastEnd(p.m_cursor, p.m_end);
    } catch (...) {
        return false;
    }
}

// ---- CPushPull: expansion -----------------------------------------------------------------------

CRecurrenceVector* CPushPull::AppendVector(long exceptionIndex, const COleDate& date) {
    m_vectorStore.push_back(std::make_unique<CRecurrenceVector>(exceptionIndex, date));
    CRecurrenceVector* v = m_vectorStore.back().get();
    m_vectors.push_back(v);
    return v;
}

CRecurrenceVector* CPushPull::CopyVector(const CRecurrenceVector& vector) {
    m_vectorStore.push_back(std::make_unique<CRecurrenceVector>(vector));
    return m_vectorStore.back().get();
}

bool CPushPull::IsStaleDate(const char* type, const COleDate& date) {
    long* limit = nullptr;
    if (type && strcmp(type, "Event") == 0)
        limit = &m_nStaleEvent;
    else if (type && strcmp(type, "Task") == 0)
        limit = &m_nStaleTask;
    else
        return false;
    if (*limit < 0) *limit = static_cast<long>(CConfig().GetStaleAfter(type));
    return *limit > 0 && CTimeLogic::IsDateOlderThan(date, *limit);
}

HRESULT CPushPull::ReadPattern(IDispatch* series, CPattern& p) {
    try {
        hv::unique_variant rp;
        THROW_IF_FAILED(CallMethod(series, L"GetRecurrencePattern", rp.put(), 0, nullptr));
        IDispatch* pattern = rp.AsDispatch();
        THROW_HR_IF(E_FAIL, !pattern);
        if (hvitem::TryGet(pattern, L"Exceptions", p.m_exceptions) && p.m_exceptions.AsDispatch())
            hvitem::TryLong(p.m_exceptions.AsDispatch(), L"Count", p.m_nExceptionCount);
        hvitem::TryLong(pattern, L"RecurrenceType", p.m_nType);
        hvitem::TryLong(pattern, L"Interval", p.m_nInterval);
        hvitem::TryLong(pattern, L"DayOfWeekMask", p.m_nDayOfWeekMask);
        hvitem::TryLong(pattern, L"DayOfMonth", p.m_nDayOfMonth);
        hvitem::TryLong(pattern, L"MonthOfYear", p.m_nMonthOfYear);
        hvitem::TryDate(pattern, L"PatternStartDate", p.m_start);
        bool noEnd = false;
        if (hvitem::TryBool(pattern, L"NoEndDate", noEnd)) p.m_fNoEndDate = noEnd ? 1 : 0;
        hvitem::TryLong(pattern, L"Occurrences", p.m_nOccurrences);
        hvitem::TryDate(pattern, L"PatternEndDate", p.m_end);
        hvitem::TryLong(pattern, L"Instance", p.m_nInstance);
        p.m_nFirstDayOfWeek = UserFirstDayOfWeek();
        return S_OK;
    }
    CATCH_RETURN();
}

void CPushPull::LimitPattern(CPattern& p) {
    CConfig config;
    HvTime windowEnd = TimeNow();
    if (p.m_nType == OL_RECURS_YEARLY || p.m_nType == OL_RECURS_YEAR_NTH)
        windowEnd += HV_YEARLY_WINDOW_SECONDS;
    else
        windowEnd += static_cast<HvTime>(config.GetRecurrenceWindow()) * 86400;
    const COleDate end = OutlookDateFromTime(windowEnd);
    p.m_nLimit = static_cast<long>(config.GetMaxOccurrences());
    if (p.m_fNoEndDate || !p.m_end.m_fValid)
        p.m_end = end;
    else if (end.m_fValid && p.m_end.m_dt > end.m_dt)
        p.m_end = end;
}

bool CPushPull::NextOccurrence(IDispatch* recurrencePattern, CPattern& p) {
    if (p.m_nProduced >= p.m_nLimit) return false;
    bool found = false;
    try {
        if (!p.m_fStarted) {
            COleDate startTime;
            hvitem::TryDate(recurrencePattern, L"StartTime", startTime);
            p.m_cursor = CTimeLogic::CombineDateAndTime(p.m_start, startTime);
            if (p.m_cursor.m_fValid && p.m_end.m_fValid && !PastEnd(p.m_cursor, p.m_end) &&
                !IsStaleDate("Event", p.m_cursor))
                found = static_cast<bool>(GetOccurrence(recurrencePattern, p.m_cursor));
            // The first date is tried once; from here on the cursor only moves forward.
            p.m_fStarted = 1;
        }
        for (int steps = 0; !found && steps < kMaxSteps; ++steps) {
            if (!AdvanceCursor(p)) return false;
            if (IsStaleDate("Event", p.m_cursor)) continue;
            found = static_cast<bool>(GetOccurrence(recurrencePattern, p.m_cursor));
        }
    } catch (...) {
        return false;
    }
    if (!found) return false;
    ++p.m_nProduced;
    p.m_fStarted = 1;
    AppendVector(0, p.m_cursor);
    return true;
}

bool CPushPull::BindToOccurrence(IDispatch* exception, long index) {
    CDiagLog& log = HvLog();
    log.LogComment("BindToOccurrence: OriginalDate");
    COleDate original;
    if (!hvitem::TryDate(exception, L"OriginalDate", original)) return false;
    const HvTime when = TimeFromOutlookDate(original);
    log.LogComment("BindToOccurrence: Looking for RecVec");
    for (CRecurrenceVector* v : m_vectors) {
        if (v->m_date.m_fValid && TimeFromOutlookDate(v->m_date) == when) {
            v->m_nException = index;
            return true;
        }
    }
    return false;
}

HRESULT CPushPull::AdoptException(IDispatch* exception, long index, CPattern& p) {
    HvLog().LogComment("AdoptException: AppointmentItem");
    hv::unique_variant appt;
    // A deleted occurrence has no appointment item and adds nothing.
    if (!hvitem::TryGet(exception, L"AppointmentItem", appt) || !appt.AsDispatch()) return S_OK;
    COleDate start;
    if (!hvitem::TryDate(appt.AsDispatch(), L"Start", start)) return S_OK;
    AppendVector(index, start);
    ++p.m_nProduced;
    p.m_fStarted = 1;
    return S_OK;
}

HRESULT CPushPull::ExpandSeries(CSyncItem* series, IDispatch* seriesItem, CSyncItemList& out, bool popAppt) {
    CDiagLog& log = HvLog();
    const char* name = popAppt ? "PopAppt" : "ExpandAppt";
    if (!series || !seriesItem) return E_INVALIDARG;
    CPattern pattern;
    HRESULT hr = ReadPattern(seriesItem, pattern);
    if (FAILED(hr)) return hr;
    // Vectors left from an earlier expansion stay owned by the store; this one starts afresh.
    m_vectors.clear();
    try {
        hv::unique_variant rp;
        THROW_IF_FAILED(CallMethod(seriesItem, L"GetRecurrencePattern", rp.put(), 0, nullptr));
        IDispatch* patternObject = rp.AsDispatch();
        THROW_HR_IF(E_FAIL, !patternObject);
        LimitPattern(pattern);
        while (NextOccurrence(patternObject, pattern)) {
        }
        IDispatch* exceptions = pattern.m_exceptions.AsDispatch();
        for (long i = 1; exceptions && i <= pattern.m_nExceptionCount; ++i) {
            hv::unique_variant arg = hv::unique_variant::FromLong(i), exception;
            if (FAILED(CallMethod(exceptions, L"Item", exception.put(), 1, &arg)) || !exception.AsDispatch()) continue;
            if (!BindToOccurrence(exception.AsDispatch(), i)) AdoptException(exception.AsDispatch(), i, pattern);
        }
    } catch (...) {
        // A pattern object that cannot be reached expands to what was found so far.
    }

    log.LogComment(hv::Format("%s: Converting Recurrence Vectors", name));
    bool first = true;
    while (!m_vectors.empty()) {
        CRecurrenceVector* vector = m_vectors.front();
        m_vectors.pop_front();
        auto record = std::make_unique<CSyncItem>(*series);
        record->m_fLaterOccurrence = first ? 0 : 1;
        first = false;
        record->m_pOccurrence = vector;
        record->SetAction(ACTION_COMPUTING);
        if (popAppt) record->m_nSource = SOURCE_OUTLOOK;
        CSyncItem* r = record.get();
        out.push_back(std::move(record));

        log.LogComment(hv::Format("%s: ReconstituteAppt", name));
        hv::com_ptr<IDispatch> item;
        if (!ReconstituteAppt(r, item, 1, 1)) {
            // Unreadable is not deleted: the row fails and nothing is done to either side.
            log.LogError(hv::Format("%s: the occurrence cannot be read", name));
            r->SetAction(ACTION_FAILED);
            continue;
        }
        log.LogComment(hv::Format("%s: Appt Reconstituted", name));
        // A plain occurrence has no modification time of its own, so it takes the series'. An
        // exception keeps its own: with the series' time, an edit to any one occurrence would
        // make every exception look newer than its service record and overwrite a service
        // change made to it meanwhile.
        if (popAppt && vector->m_nException == 0 && series->m_timeOutlookModified > r->m_timeOutlookModified)
            r->m_timeOutlookModified = series->m_timeOutlookModified;
    }
    return S_OK;
}

HRESULT CPushPull::ExpandAppt(CSyncItem* series, IDispatch* seriesItem) {
    CDiagLog& log = HvLog();
    log.LogBlockEnter("CPushPull::ExpandAppt");
    CSyncItemList made;
    const HRESULT hr = ExpandSeries(series, seriesItem, made, false);
    while (!made.empty()) {
        m_records.push_back(std::move(made.front()));
        made.pop_front();
        ShowRecord(m_records.back().get());
    }
    log.LogBlockExit("CPushPull::ExpandAppt");
    return hr;
}

namespace {

// The appointment item of the exception a vector names. Outlook may renumber "Exceptions" when
// an occurrence is written, so the index is checked against the vector's date (the original
// date for a bound vector, the new start for an adopted one) and, when it does not fit, the
// exceptions are searched for the one that does.
hv::com_ptr<IDispatch> ExceptionItem(IDispatch* patternObject, const CRecurrenceVector& vector) {
    CDiagLog& log = HvLog();
    log.LogComment("ReconstituteAppt: Exceptions");
    hv::com_ptr<IDispatch> exceptions = hvitem::Object(patternObject, L"Exceptions");
    const HvTime when = TimeFromOutlookDate(vector.m_date);
    auto appointmentOf = [&](long index, bool mustFit) -> hv::com_ptr<IDispatch> {
        hv::unique_variant arg = hv::unique_variant::FromLong(index), exception;
        if (FAILED(CDispatcher::CallMethod(exceptions.get(), L"Item", exception.put(), 1, &arg)) ||
            !exception.AsDispatch())
            return nullptr;
        hv::unique_variant appt;
        if (!hvitem::TryGet(exception.AsDispatch(), L"AppointmentItem", appt) || !appt.AsDispatch()) return nullptr;
        if (mustFit) {
            COleDate original, start;
            const bool fits =
                (hvitem::TryDate(exception.AsDispatch(), L"OriginalDate", original) &&
                 TimeFromOutlookDate(original) == when) ||
                (hvitem::TryDate(appt.AsDispatch(), L"Start", start) && TimeFromOutlookDate(start) == when);
            if (!fits) return nullptr;
        }
        return hv::com_ptr<IDispatch>(appt.AsDispatch());
    };
    log.LogComment("ReconstituteAppt: Item");
    hv::com_ptr<IDispatch> item = appointmentOf(vector.m_nException, true);
    if (!item) {
        long count = 0;
        hvitem::TryLong(exceptions.get(), L"Count", count);
        for (long i = 1; !item && i <= count; ++i)
            if (i != vector.m_nException) item = appointmentOf(i, true);
    }
    log.LogComment("ReconstituteAppt: AppointmentItem");
    if (!item) item = appointmentOf(vector.m_nException, false);
    THROW_HR_IF(E_FAIL, !item);
    return item;
}

}  // namespace

bool CPushPull::ReconstituteAppt(CSyncItem* record, hv::com_ptr<IDispatch>& item, int load, int useException) {
    if (!record || !record->m_pOccurrence || record->m_strEntryID.empty()) return false;
    // An occurrence of a series saved meanwhile cannot be read through the copies taken before
    // ("this instance no longer exists"): one more try from fresh copies tells that apart from
    // an occurrence really gone. Either way a failure is only a failure, never a deletion.
    for (int attempt = 0; attempt < 2; ++attempt) {
        item.reset();
        if (ReconstituteOnce(record, item, load, useException)) return true;
    }
    return false;
}

bool CPushPull::ReconstituteOnce(CSyncItem* record, hv::com_ptr<IDispatch>& item, int load, int useException) {
    CDiagLog& log = HvLog();
    const CTarget saved = record->m_target;
    const std::string entryId = record->m_strEntryID;
    try {
        log.LogComment("ReconstituteAppt: GetItemFromID");
        hv::com_ptr<IDispatch> series;
        THROW_IF_FAILED(GetItemFromID(record->m_strEntryID, series));
        log.LogComment("ReconstituteAppt: GetRecurrencePattern");
        hv::com_ptr<IDispatch> pattern = hvitem::CallObject(series.get(), L"GetRecurrencePattern", 0, nullptr);
        const CRecurrenceVector& vector = *record->m_pOccurrence;
        if (vector.m_nException > 0 && useException) {
            item = ExceptionItem(pattern.get(), vector);
        } else {
            log.LogComment("ReconstituteAppt: GetOccurrence");
            hv::unique_variant arg = hv::unique_variant::FromDate(vector.m_date.m_dt);
            item = hvitem::CallObject(pattern.get(), L"GetOccurrence", 1, &arg);
        }
        // The occurrence alone is kept: the series and its pattern are let go before it is used.
        pattern.reset();
        series.reset();
        // Readable now, or this attempt fails before the record is touched.
        hv::unique_variant probe;
        THROW_IF_FAILED(CDispatcher::GetProperty(item.get(), L"Start", probe.put()));
        if (load) {
            record->end_time.clear();
            record->m_strEntryID.clear();
            record->title.clear();
            record->location.clear();
            record->last_modified.clear();
            record->m_strHash.clear();
            record->m_target = CTarget();
            log.LogComment("ReconstituteAppt: LoadOneItem");
            LoadOneItem(record, item.get(), 1);
            log.LogComment("ReconstituteAppt: Item Loaded");
            // An occurrence never linked keeps the destination the series gave it.
            if (record->m_target.m_strID.empty()) record->m_target = saved;
        }
        return true;
    } catch (...) {
        // A record half reloaded keeps what it had.
        record->m_strEntryID = entryId;
        if (record->m_target.m_strID.empty()) record->m_target = saved;
        return false;
    }
}

HRESULT CPushPull::OpenOccurrence(IDispatch* series, CSyncItem* record) {
    if (!record || record->start_time.empty()) return E_INVALIDARG;
    try {
        hv::com_ptr<IDispatch> pattern = hvitem::CallObject(series, L"GetRecurrencePattern", 0, nullptr);
        if (record->m_pOccurrence && record->m_pOccurrence->m_nException > 0) {
            // A moved occurrence is written through its exception's appointment item.
            m_pCurrentItem = ExceptionItem(pattern.get(), *record->m_pOccurrence);
            return S_OK;
        }
        COleDate date;
        if (record->m_pOccurrence) {
            date = record->m_pOccurrence->m_date;
        } else {
            FILETIME ft;
            THROW_HR_IF(E_INVALIDARG, !ParseWireTime(record->start_time, 0, ft));
            date = OutlookDateFromTime(TimeFromFileTime(ft));
        }
        hv::unique_variant arg = hv::unique_variant::FromDate(date.m_dt);
        m_pCurrentItem = hvitem::CallObject(pattern.get(), L"GetOccurrence", 1, &arg);
        return S_OK;
    }
    CATCH_RETURN();
}

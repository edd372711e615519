// RecurrencePattern, Exceptions and Exception over a series' recurrence in the model.
#include "outlook-sim/src/SimRecurrencePattern.h"

#include <algorithm>
#include <cmath>

namespace hvsim {

namespace {

class CException : public CSimObject {
public:
    CException(std::shared_ptr<Session> s, std::shared_ptr<ItemData> series, size_t index, long snapshot)
        : m_s(std::move(s)), m_series(std::move(series)), m_index(index), m_snapshot(snapshot) {}
    const char* TypeName() const override { return "Exception"; }

protected:
    enum class M { OriginalDate, Deleted, AppointmentItem, Class };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::OriginalDate, "OriginalDate"},
                                              {M::Deleted, "Deleted"},
                                              {M::AppointmentItem, "AppointmentItem"},
                                              {M::Class, "Class"}});
        return n;
    }
    void Call(int member, bool put, Args&, VARIANT* result) override {
        CheckUp(*m_s);
        if (put || !m_series->recurrence || m_index >= m_series->recurrence->exceptions.size()) NotFound();
        const ExceptionData& e = m_series->recurrence->exceptions[m_index];
        switch (static_cast<M>(member)) {
            // A deleted occurrence's original date has no time part.
            case M::OriginalDate:
                SetDate(result, e.deleted ? static_cast<DATE>(DayNumber(e.originalDate)) : e.originalDate);
                return;
            case M::Deleted:
                SetBool(result, e.deleted);
                return;
            case M::AppointmentItem:
                // A deleted occurrence has no item: Outlook raises an error.
                if (e.deleted || !e.item)
                    Fail(E_FAIL,
                         "You changed one of the recurrences of this item, and this instance no longer exists.");
                SetDispatch(result, m_s->SnapshotObject(e.item, m_snapshot).get());
                return;
            case M::Class:
                SetLong(result, 30);
                return;  // olException
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_series;
    size_t m_index;
    long m_snapshot;
};

class CExceptions : public CSimObject {
public:
    CExceptions(std::shared_ptr<Session> s, std::shared_ptr<ItemData> series, long snapshot)
        : m_s(std::move(s)), m_series(std::move(series)), m_snapshot(snapshot) {}
    const char* TypeName() const override { return "Exceptions"; }

protected:
    enum class M { Count, Item };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::Count, "Count"}, {M::Item, "Item"}});
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        if (put) NotFound();
        const size_t count = m_series->recurrence ? m_series->recurrence->exceptions.size() : 0;
        if (static_cast<M>(member) == M::Count) return SetLong(result, static_cast<long>(count));
        if (static_cast<M>(member) == M::Item) {
            long i = args.Long(0);
            if (i < 1 || i > static_cast<long>(count)) Fail(DISP_E_BADINDEX, "Array index out of bounds.");
            SetDispatch(result, MakeSim<CException>(m_s, m_series, static_cast<size_t>(i - 1), m_snapshot).get());
            return;
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_series;
    long m_snapshot;
};

class CRecurrencePattern : public CSimObject {
public:
    // `snapshot`: the series version of the item object it came from.
    CRecurrencePattern(std::shared_ptr<Session> s, std::shared_ptr<ItemData> series, long snapshot)
        : m_s(std::move(s)), m_series(std::move(series)), m_snapshot(snapshot) {}
    const char* TypeName() const override { return "RecurrencePattern"; }

protected:
    enum class M {
        RecurrenceType,
        Interval,
        DayOfWeekMask,
        DayOfMonth,
        MonthOfYear,
        Instance,
        PatternStartDate,
        PatternEndDate,
        NoEndDate,
        Occurrences,
        StartTime,
        EndTime,
        Duration,
        GetOccurrence,
        Exceptions,
        Parent,
        Class
    };
    const std::vector<const char*>& Names() const override {
        static const auto n = MemberNames<M>({{M::RecurrenceType, "RecurrenceType"},
                                              {M::Interval, "Interval"},
                                              {M::DayOfWeekMask, "DayOfWeekMask"},
                                              {M::DayOfMonth, "DayOfMonth"},
                                              {M::MonthOfYear, "MonthOfYear"},
                                              {M::Instance, "Instance"},
                                              {M::PatternStartDate, "PatternStartDate"},
                                              {M::PatternEndDate, "PatternEndDate"},
                                              {M::NoEndDate, "NoEndDate"},
                                              {M::Occurrences, "Occurrences"},
                                              {M::StartTime, "StartTime"},
                                              {M::EndTime, "EndTime"},
                                              {M::Duration, "Duration"},
                                              {M::GetOccurrence, "GetOccurrence"},
                                              {M::Exceptions, "Exceptions"},
                                              {M::Parent, "Parent"},
                                              {M::Class, "Class"}});
        return n;
    }
    // The members that are a number of the pattern as it is stored: read as they are, and a
    // write recomputes the series.
    struct PlainField {
        M member;
        long Recurrence::*field;
    };
    static constexpr PlainField kPlainFields[] = {{M::Interval, &Recurrence::interval},
                                                  {M::DayOfWeekMask, &Recurrence::dayOfWeekMask},
                                                  {M::DayOfMonth, &Recurrence::dayOfMonth},
                                                  {M::MonthOfYear, &Recurrence::monthOfYear},
                                                  {M::Instance, &Recurrence::instance}};
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        CheckUp(*m_s);
        Recurrence& r = m_s->model.EnsureRecurrence(*m_series);
        auto changed = [&] {
            if (r.occurrences > 0) r.ApplyOccurrenceCount();
            m_s->model.SyncSeriesTimes(*m_series);
            m_series->dirty = true;
        };
        const M id = static_cast<M>(member);
        for (const auto& f : kPlainFields) {
            if (f.member != id) continue;
            if (!put) return SetLong(result, r.*f.field);
            r.*f.field = args.PutLong();
            return changed();
        }
        switch (id) {
            case M::RecurrenceType:
                if (!put) return SetLong(result, r.type);
                {
                    // A new type starts from Outlook's defaults for it, taken from the pattern start.
                    long t = args.PutLong();
                    if (t != 0 && t != 1 && t != 2 && t != 3 && t != 5 && t != 6)
                        Fail(E_INVALIDARG, "The value is out of range.");
                    int y, m, d;
                    SplitDate(r.patternStart, &y, &m, &d);
                    r.type = t;
                    r.interval = (t == olRecursYearly || t == olRecursYearNth) ? 12 : 1;
                    r.dayOfWeekMask = (t == olRecursWeekly || t == olRecursMonthNth || t == olRecursYearNth)
                                          ? (1L << Weekday(r.patternStart))
                                          : 0;
                    r.dayOfMonth = (t == olRecursMonthly || t == olRecursYearly) ? d : 0;
                    r.monthOfYear = (t == olRecursYearly || t == olRecursYearNth) ? m : 0;
                    r.instance = (t == olRecursMonthNth || t == olRecursYearNth) ? std::min(5, (d - 1) / 7 + 1) : 0;
                    changed();
                }
                return;
            case M::PatternStartDate:
                if (!put) return SetDate(result, r.patternStart);
                r.patternStart = DayNumber(args.PutDate());
                changed();
                return;
            case M::PatternEndDate:
                if (!put) return SetDate(result, r.noEndDate ? kNoDate : r.patternEnd);
                r.patternEnd = DayNumber(args.PutDate());
                r.noEndDate = false;
                r.occurrences = 0;
                changed();
                return;
            case M::NoEndDate:
                if (!put) return SetBool(result, r.noEndDate);
                r.noEndDate = args.PutBool();
                if (r.noEndDate) {
                    r.occurrences = 0;
                    r.patternEnd = kNoDate;
                }
                changed();
                return;
            case M::Occurrences:
                if (!put) {
                    if (r.noEndDate) return SetLong(result, 0);
                    if (r.occurrences > 0) return SetLong(result, r.occurrences);
                    return SetLong(
                        result, static_cast<long>(
                                    r.OccurrencesBetween(DayNumber(r.patternStart), DayNumber(r.patternEnd)).size()));
                }
                r.occurrences = args.PutLong();
                changed();
                return;
            case M::StartTime:
                if (!put) return SetDate(result, r.startTime);
                r.startTime = TimeOfDay(args.PutDate());
                changed();
                return;
            case M::EndTime:
                if (!put) return SetDate(result, TimeOfDay(r.startTime + r.duration));
                {
                    double end = TimeOfDay(args.PutDate());
                    r.duration = end >= r.startTime ? end - r.startTime : end + 1 - r.startTime;
                    changed();
                }
                return;
            case M::Duration:
                if (!put) return SetLong(result, static_cast<long>(std::lround(r.duration * 1440)));
                r.duration = args.PutLong() / 1440.0;
                changed();
                return;
            case M::GetOccurrence: {
                if (put) NotFound();
                DATE when = args.Date(0);
                auto occ = m_s->model.GetOccurrence(m_series, when);
                if (!occ)
                    Fail(static_cast<HRESULT>(0x8004010F),
                         "You changed one of the recurrences of this item, and this instance no longer exists. Close "
                         "any open items and try again.");
                SetDispatch(result, m_s->SnapshotObject(occ, m_snapshot).get());
                return;
            }
            case M::Exceptions:
                if (put) NotFound();
                SetDispatch(result, MakeSim<CExceptions>(m_s, m_series, m_snapshot).get());
                return;
            case M::Parent:
                if (put) NotFound();
                SetDispatch(result, m_s->ItemObject(m_series).get());
                return;
            case M::Class:
                SetLong(result, 28);
                return;  // olRecurrencePattern
            default:
                break;  // the plain fields, above
        }
        NotFound();
    }

private:
    std::shared_ptr<Session> m_s;
    std::shared_ptr<ItemData> m_series;
    long m_snapshot;
};

}  // namespace

hv::com_ptr<IDispatch> NewRecurrencePattern(std::shared_ptr<Session> s, std::shared_ptr<ItemData> series,
                                            long snapshot) {
    return hv::com_ptr<IDispatch>(MakeSim<CRecurrencePattern>(std::move(s), std::move(series), snapshot).get());
}

}  // namespace hvsim

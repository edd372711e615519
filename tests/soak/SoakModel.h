#pragma once
// The soak's model of what it did: one logical item per tag (the " {n}" every title ends with),
// the edits made to it on either side since the last check with the instants the planner will
// compare, and what both stores agreed on at that check. The oracle asks it which values each
// item may hold after a clean run.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace soak {

// The fields a synchronisation carries, in the service's form: dates "YYYY-MM-DD", times UTC
// "YYYY-MM-DDThh:mm:ss", priority "1".."3", completed "true"/"false", descriptions with "\n".
struct Fields {
    std::string title, desc;
    std::string priority, start, due, completed;  // tasks
    std::string location, startTime, endTime;     // events
};

// The text after the first empty line, or the whole text when it has none.
std::string AfterHeading(const std::string& text);
// CR LF and lone CR as LF.
std::string NormaliseLines(const std::string& text);

// Whether two descriptions are the same for an item of this kind: an event's Outlook body shows
// only the part of the service text after its heading.
bool SameDescription(bool task, const std::string& a, const std::string& b);
// A task's start dates are the same, or one side starts after it is due and the other (Outlook's
// form of it) starts on that due date.
bool SameStart(const Fields& a, const Fields& b);
// A task's due dates are the same, or one side has a start date only and the other (Outlook's
// form of it) is due on that start date.
bool SameDue(const Fields& a, const Fields& b);
bool SameFields(bool task, const Fields& a, const Fields& b);
// The fields that differ, as "name: 'a' vs 'b'" lines.
std::string Difference(bool task, const Fields& a, const Fields& b);

// Every field, one line.
std::string Describe(bool task, const Fields& f);
// The item's edits since the last check, oldest first, for a failure report.
std::string History(const struct Logical& item);

// Seconds since 1970 of "YYYY-MM-DDThh:mm:ss" (UTC; any suffix ignored); -1 when malformed.
long long EpochOf(const std::string& wire);

struct Edit {
    Fields fields;
    long long stamp = 0;      // what the planner compares: Outlook's LastModificationTime or last_modified
    bool concurrent = false;  // made while a run was busy
};

struct Logical {
    int tag = 0;
    bool task = true;
    bool serviceDeleted = false;  // deleted on the service: nothing more is done to it
    bool outlookDeleted = false;  // deleted in Outlook since the last check
    bool agreedKnown = false;
    Fields agreed;  // what both sides held at the last check
    std::vector<Edit> outlookEdits, serviceEdits;
    // A faulty run may have left it half done (a push whose answer or link was lost): the
    // documented ten-second rule may then take the service's side over a later Outlook edit.
    bool tainted = false;
    long long taintedAt = 0;  // the instant of the latest such fault (occurrences)
    std::string recordId;     // an occurrence's service event
};

// An occurrence of a recurring series: the series' tag and the occurrence's original start
// (local, as the test's wire text of it).
using OccurrenceKey = std::pair<int, std::string>;

struct Verdict {
    std::vector<Fields> allowed;
    bool ambiguous = false;  // more than one outcome is allowed by the documented rules
};

class Model {
public:
    Logical& Add(bool task);
    Logical* Find(int tag);
    std::map<int, Logical>& Items() { return m_items; }
    // Linked occurrences of recurring series, each its own pair with its own edits (events).
    std::map<OccurrenceKey, Logical>& Occurrences() { return m_occurrences; }

    // A run ended; its "Last%sSync" marks (epoch seconds, 0 when none).
    void RunMarked(long long taskMark, long long eventMark);
    // Whether an Outlook change at this instant lies within the planner's ten seconds of a mark
    // (with `earlierOnly`, of a mark no later than the change).
    bool NearMark(bool task, long long stamp, bool earlierOnly = false) const;
    // What the item may hold after a clean full run (items neither deleted nor new). With
    // `earlierMarksOnly` (occurrences), a mark set after an Outlook edit makes the outcome open
    // only when a fault touched the pair after that edit: the run that set the mark began after
    // the edit and, done cleanly, settled the pair, so no later plan takes the edit for that
    // run's own write.
    Verdict Expected(const Logical& item, bool earlierMarksOnly = false) const;
    // After a check that passed: what both sides hold now is agreed, the edits are cleared.
    void Agreed(Logical& item, const Fields& now);

private:
    std::map<int, Logical> m_items;
    std::map<OccurrenceKey, Logical> m_occurrences;
    int m_next = 1;
    std::vector<long long> m_taskMarks, m_eventMarks;
};

}  // namespace soak

// The soak's model: see SoakModel.h.
#include "soak/SoakModel.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>

namespace soak {

std::string AfterHeading(const std::string& text) {
    const size_t at = text.find("\n\n");
    return at == std::string::npos ? text : text.substr(at + 2);
}

std::string NormaliseLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool SameDescription(bool task, const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (task) return false;
    return AfterHeading(a) == b || a == AfterHeading(b);
}

namespace {
struct Named {
    const char* name;
    std::string Fields::*field;
};
const Named kTaskFields[] = {{"title", &Fields::title},
                             {"priority", &Fields::priority},
                             {"start_date", &Fields::start},
                             {"due_date", &Fields::due},
                             {"completed", &Fields::completed}};
const Named kEventFields[] = {{"title", &Fields::title},
                              {"location", &Fields::location},
                              {"start_time", &Fields::startTime},
                              {"end_time", &Fields::endTime}};
}  // namespace

bool SameStart(const Fields& a, const Fields& b) {
    if (a.start == b.start) return true;
    // Outlook holds a task that starts after it is due as one that starts on its due date.
    auto inverted = [](const Fields& f) { return !f.start.empty() && !f.due.empty() && f.start > f.due; };
    return a.due == b.due && ((inverted(a) && b.start == b.due) || (inverted(b) && a.start == a.due));
}

bool SameDue(const Fields& a, const Fields& b) {
    if (a.due == b.due) return true;
    // Outlook gives a task with a start date only a due date on its start date.
    auto startOnly = [](const Fields& f) { return !f.start.empty() && f.due.empty(); };
    return a.start == b.start && ((startOnly(a) && b.due == b.start) || (startOnly(b) && a.due == a.start));
}

bool SameFields(bool task, const Fields& a, const Fields& b) {
    return Difference(task, a, b).empty();
}

std::string Difference(bool task, const Fields& a, const Fields& b) {
    std::string out;
    auto add = [&](const char* name, const std::string& x, const std::string& y) {
        out += std::string(name) + ": '" + x + "' vs '" + y + "'\n";
    };
    if (task) {
        for (const auto& n : kTaskFields)
            if (a.*n.field != b.*n.field && !(n.field == &Fields::start && SameStart(a, b)) &&
                !(n.field == &Fields::due && SameDue(a, b)))
                add(n.name, a.*n.field, b.*n.field);
    } else {
        for (const auto& n : kEventFields)
            if (a.*n.field != b.*n.field) add(n.name, a.*n.field, b.*n.field);
    }
    if (!SameDescription(task, a.desc, b.desc)) add("description", a.desc, b.desc);
    return out;
}

std::string Describe(bool task, const Fields& f) {
    std::string d = f.desc.size() > 40 ? f.desc.substr(0, 40) + "..." : f.desc;
    if (task)
        return "'" + f.title + "' prio " + f.priority + " start '" + f.start + "' due '" + f.due + "' done " +
               f.completed + " desc '" + d + "'";
    return "'" + f.title + "' at '" + f.location + "' " + f.startTime + " - " + f.endTime + " desc '" + d + "'";
}

std::string History(const Logical& item) {
    std::string out;
    if (item.agreedKnown) out += "  agreed: " + Describe(item.task, item.agreed) + "\n";
    std::vector<std::pair<long long, std::string>> lines;
    for (const Edit& e : item.outlookEdits)
        lines.push_back({e.stamp, "  Outlook @" + std::to_string(e.stamp) + (e.concurrent ? " (while busy)" : "") +
                                      ": " + Describe(item.task, e.fields)});
    for (const Edit& e : item.serviceEdits)
        lines.push_back({e.stamp, "  service @" + std::to_string(e.stamp) + (e.concurrent ? " (while busy)" : "") +
                                      ": " + Describe(item.task, e.fields)});
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& l : lines) out += l.second + "\n";
    if (item.tainted) out += "  (touched by a fault)\n";
    return out;
}

long long EpochOf(const std::string& wire) {
    int y, mo, d, h, mi, s;
    if (wire.size() < 19 || std::sscanf(wire.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6)
        return -1;
    // Days from the civil date (proleptic Gregorian).
    y -= mo <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = era * 146097 + doe - 719468;
    return days * 86400 + h * 3600 + mi * 60 + s;
}

Logical& Model::Add(bool task) {
    Logical& item = m_items[m_next];
    item.tag = m_next++;
    item.task = task;
    return item;
}

Logical* Model::Find(int tag) {
    auto it = m_items.find(tag);
    return it == m_items.end() ? nullptr : &it->second;
}

void Model::RunMarked(long long taskMark, long long eventMark) {
    auto keep = [](std::vector<long long>& marks, long long mark) {
        if (mark <= 0 || (!marks.empty() && marks.back() == mark)) return;
        marks.push_back(mark);
        if (marks.size() > 64) marks.erase(marks.begin());
    };
    keep(m_taskMarks, taskMark);
    keep(m_eventMarks, eventMark);
}

bool Model::NearMark(bool task, long long stamp, bool earlierOnly) const {
    for (long long mark : task ? m_taskMarks : m_eventMarks)
        if (std::llabs(mark - stamp) < 10 && (!earlierOnly || mark <= stamp)) return true;
    return false;
}

Verdict Model::Expected(const Logical& item, bool earlierMarksOnly) const {
    Verdict v;
    const Edit* o = item.outlookEdits.empty() ? nullptr : &item.outlookEdits.back();
    const Edit* s = item.serviceEdits.empty() ? nullptr : &item.serviceEdits.back();
    bool nearMark = false, nearEarlierMark = false, nearLaterMarkThenFault = false, concurrent = false;
    for (const Edit& e : item.outlookEdits) {
        nearMark |= NearMark(item.task, e.stamp);
        nearEarlierMark |= NearMark(item.task, e.stamp, true);
        nearLaterMarkThenFault |= item.tainted && item.taintedAt >= e.stamp && NearMark(item.task, e.stamp);
        concurrent |= e.concurrent;
    }
    for (const Edit& e : item.serviceEdits) concurrent |= e.concurrent;
    const bool openByMark = earlierMarksOnly ? (nearEarlierMark && (s || item.tainted)) || nearLaterMarkThenFault
                                             : nearMark && (s || item.tainted);
    v.ambiguous = concurrent || item.outlookDeleted || openByMark;
    if (v.ambiguous) {
        if (item.agreedKnown) v.allowed.push_back(item.agreed);
        for (const Edit& e : item.outlookEdits) v.allowed.push_back(e.fields);
        for (const Edit& e : item.serviceEdits) v.allowed.push_back(e.fields);
        return v;
    }
    // Both sides edited: the later instant wins, equal instants go to the service.
    if (o && s)
        v.allowed.push_back(o->stamp > s->stamp ? o->fields : s->fields);
    else if (o)
        v.allowed.push_back(o->fields);
    else if (s)
        v.allowed.push_back(s->fields);
    else if (item.agreedKnown)
        v.allowed.push_back(item.agreed);
    return v;
}

void Model::Agreed(Logical& item, const Fields& now) {
    item.agreed = now;
    item.agreedKnown = true;
    item.outlookEdits.clear();
    item.serviceEdits.clear();
    item.outlookDeleted = false;
    item.tainted = false;
    item.taintedAt = 0;
}

}  // namespace soak

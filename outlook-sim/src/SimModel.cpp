#include "outlook-sim/src/SimModel.h"

#include <oleauto.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace hvsim {

// ---------------------------------------------------------------------------------------------
// Dates

DATE MakeDate(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    DATE d = 0;
    ::SystemTimeToVariantTime(&st, &d);
    return d;
}

int DayNumber(DATE d) {
    return static_cast<int>(std::floor(d + 1e-9));
}
double TimeOfDay(DATE d) {
    return d - DayNumber(d);
}
int Weekday(DATE d) {
    return (DayNumber(d) % 7 + 13) % 7;
}  // day 0 (1899-12-30) was a Saturday

void SplitDate(DATE d, int* year, int* month, int* day) {
    SYSTEMTIME st = {};
    ::VariantTimeToSystemTime(static_cast<double>(DayNumber(d)), &st);
    *year = st.wYear;
    *month = st.wMonth;
    *day = st.wDay;
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
    return days[(month - 1) % 12];
}

bool SameSecond(DATE a, DATE b) {
    return std::fabs(a - b) * 86400.0 < 0.5;
}

std::string FormatDate(DATE d) {
    SYSTEMTIME st = {};
    // Round to the second first: VariantTimeToSystemTime truncates.
    double secs = std::floor(d * 86400.0 + 0.5);
    ::VariantTimeToSystemTime(secs / 86400.0 + 1e-9, &st);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                  st.wSecond);
    return buf;
}

bool ParseDate(const std::string& text, DATE* out) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char ampm[3] = {};
    int n = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &n) == 3) {
        const char* rest = text.c_str() + n;
        if (*rest == 'T' || *rest == ' ') std::sscanf(rest + 1, "%d:%d:%d", &h, &mi, &s);
    } else if (std::sscanf(text.c_str(), "%d/%d/%d%n", &mo, &d, &y, &n) == 3) {
        const char* rest = text.c_str() + n;
        int got = std::sscanf(rest, " %d:%d:%d %2s", &h, &mi, &s, ampm);
        if (got < 3) {
            s = 0;
            got = std::sscanf(rest, " %d:%d %2s", &h, &mi, ampm);
        }
        if (_stricmp(ampm, "PM") == 0 && h < 12) h += 12;
        if (_stricmp(ampm, "AM") == 0 && h == 12) h = 0;
    } else {
        return false;
    }
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || s > 59) return false;
    *out = MakeDate(y, mo, d, h, mi, s);
    return true;
}

bool ParseFilterDate(const std::string& text, const std::string& locale, DATE* out) {
    const char* t = text.c_str();
    while (*t == ' ') ++t;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, n = 0;
    if (std::sscanf(t, "%4d-%2d-%2d%n", &y, &mo, &d, &n) != 3 || t[4] != '-') {
        // The locale's short date: its order of day and month and its separator.
        const bool monthFirst = locale.empty() || _stricmp(locale.c_str(), "en-US") == 0;
        const char sep = _strnicmp(locale.c_str(), "de", 2) == 0 ? '.' : '/';
        int a = 0, b = 0;
        char s1 = 0, s2 = 0;
        n = 0;
        if (std::sscanf(t, "%d%c%d%c%d%n", &a, &s1, &b, &s2, &y, &n) != 5 || s1 != sep || s2 != sep) return false;
        mo = monthFirst ? a : b;
        d = monthFirst ? b : a;
    }
    const char* rest = t + n;
    while (*rest == ' ') ++rest;
    if (*rest) {
        int m = 0;
        if (std::sscanf(rest, "%d:%d%n", &h, &mi, &m) != 2) return false;
        rest += m;
        if (*rest == ':') return false;  // seconds: Outlook refuses the condition
        while (*rest == ' ') ++rest;
        if (_strnicmp(rest, "AM", 2) == 0 || _strnicmp(rest, "PM", 2) == 0) {
            if (h < 1 || h > 12) return false;
            const bool pm = _strnicmp(rest, "PM", 2) == 0;
            if (pm && h < 12) h += 12;
            if (!pm && h == 12) h = 0;
            rest += 2;
        }
        while (*rest == ' ') ++rest;
        if (*rest) return false;
    }
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59) return false;
    *out = MakeDate(y, mo, d, h, mi);
    return true;
}

int LocaleFirstDayOfWeek(const std::string& locale) {
    return locale.empty() || _stricmp(locale.c_str(), "en-US") == 0 ? 0 : 1;
}

DATE Model::CurrentTime() {
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    st.wMilliseconds = 0;
    DATE d = 0;
    ::SystemTimeToVariantTime(&st, &d);
    return d;
}

// ---------------------------------------------------------------------------------------------
// Values

std::string Value::AsText() const {
    switch (kind) {
        case Text:
            return text;
        case Long:
            return std::to_string(l);
        case Bool:
            return l ? "True" : "False";
        case Date:
            return FormatDate(d);
        case Double: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%g", d);
            return buf;
        }
        default:
            return std::string();
    }
}

long Value::AsLong() const {
    switch (kind) {
        case Text:
            return std::strtol(text.c_str(), nullptr, 10);
        case Long:
        case Bool:
            return l;
        case Date:
        case Double:
            return static_cast<long>(d);
        default:
            return 0;
    }
}

bool Value::AsBool() const {
    if (kind == Text) return _stricmp(text.c_str(), "true") == 0 || text == "1";
    return AsLong() != 0 || ((kind == Double || kind == Date) && d != 0);
}

DATE Value::AsDate() const {
    if (kind == Date || kind == Double) return d;
    if (kind == Text) {
        DATE out = 0;
        if (ParseDate(text, &out)) return out;
    }
    return static_cast<DATE>(AsLong());
}

bool Value::operator==(const Value& o) const {
    if (kind != o.kind) return false;
    if (kind == Text) return text == o.text;
    if (kind == Date || kind == Double) return d == o.d;
    return l == o.l;
}

// ---------------------------------------------------------------------------------------------
// Item classes

const std::map<std::string, Value>& ClassDefaults(long cls) {
    static const std::map<std::string, Value> common = {{"Subject", ""},
                                                        {"Body", ""},
                                                        {"Importance", 1L},
                                                        {"BillingInformation", ""},
                                                        {"Categories", ""},
                                                        {"Mileage", ""},
                                                        {"Sensitivity", 0L},
                                                        {"UnRead", false},
                                                        {"CreationTime", Value::FromDate(kNoDate)},
                                                        {"LastModificationTime", Value::FromDate(kNoDate)}};
    auto with = [](std::map<std::string, Value> extra) {
        for (const auto& kv : common) extra.emplace(kv);
        return extra;
    };
    static const std::map<std::string, Value> task = with({{"MessageClass", "IPM.Task"},
                                                           {"StartDate", Value::FromDate(kNoDate)},
                                                           {"DueDate", Value::FromDate(kNoDate)},
                                                           {"DateCompleted", Value::FromDate(kNoDate)},
                                                           {"Complete", false},
                                                           {"Status", 0L},
                                                           {"PercentComplete", 0L},
                                                           {"ReminderSet", false},
                                                           {"ReminderOverrideDefault", false},
                                                           {"ReminderTime", Value::FromDate(kNoDate)},
                                                           {"Owner", ""},
                                                           {"TotalWork", 0L},
                                                           {"ActualWork", 0L}});
    static const std::map<std::string, Value> appt = with({{"MessageClass", "IPM.Appointment"},
                                                           {"Start", Value::FromDate(kNoDate)},
                                                           {"End", Value::FromDate(kNoDate)},
                                                           {"Location", ""},
                                                           {"BusyStatus", 2L},
                                                           {"AllDayEvent", false},
                                                           {"ReminderSet", true},
                                                           {"ReminderOverrideDefault", false},
                                                           {"ReminderMinutesBeforeStart", 15L},
                                                           {"Organizer", ""},
                                                           {"MeetingStatus", 0L},
                                                           {"RequiredAttendees", ""},
                                                           {"OptionalAttendees", ""}});
    static const std::map<std::string, Value> mail = with({{"MessageClass", "IPM.Note"},
                                                           {"To", ""},
                                                           {"CC", ""},
                                                           {"BCC", ""},
                                                           {"SenderName", ""},
                                                           {"SenderEmailAddress", ""},
                                                           {"SentOn", Value::FromDate(kNoDate)},
                                                           {"ReceivedTime", Value::FromDate(kNoDate)},
                                                           {"Sent", false},
                                                           {"BodyFormat", 1L},
                                                           {"HTMLBody", ""}});
    static const std::map<std::string, Value> contact = with({{"MessageClass", "IPM.Contact"},
                                                              {"FullName", ""},
                                                              {"FirstName", ""},
                                                              {"LastName", ""},
                                                              {"CompanyName", ""},
                                                              {"Email1Address", ""},
                                                              {"BusinessTelephoneNumber", ""},
                                                              {"FileAs", ""}});
    // A meeting request is a mail that carries a meeting; a report (delivery report) has little.
    static const std::map<std::string, Value> meeting = [] {
        auto m = mail;
        m["MessageClass"] = Value("IPM.Schedule.Meeting.Request");
        return m;
    }();
    static const std::map<std::string, Value> report = with({{"MessageClass", "REPORT.IPM.Note.NDR"}});
    switch (cls) {
        case olAppointment:
            return appt;
        case olMail:
            return mail;
        case olMeetingRequest:
            return meeting;
        case olReport:
            return report;
        case olContact:
            return contact;
        default:
            return task;
    }
}

std::string CanonicalProperty(long cls, const std::string& name) {
    for (const auto& kv : ClassDefaults(cls))
        if (_stricmp(kv.first.c_str(), name.c_str()) == 0) return kv.first;
    return std::string();
}

Value ItemData::Get(const std::string& name) const {
    auto it = props.find(name);
    if (it != props.end()) return it->second;
    const auto& defaults = ClassDefaults(cls);
    auto d = defaults.find(name);
    return d != defaults.end() ? d->second : Value();
}

void ItemData::Set(const std::string& name, const Value& v) {
    props[name] = v;
    dirty = true;
}

UserProperty* ItemData::FindUserProp(const std::string& name) {
    for (auto& p : userProps)
        if (_stricmp(p.name.c_str(), name.c_str()) == 0) return &p;
    return nullptr;
}

const UserProperty* ItemData::FindUserProp(const std::string& name) const {
    return const_cast<ItemData*>(this)->FindUserProp(name);
}

bool Folder::HasUserField(const std::string& name) const {
    for (const auto& f : m_userFields)
        if (_stricmp(f.c_str(), name.c_str()) == 0) return true;
    return false;
}

std::string Folder::EntryId() const {
    char buf[80];
    std::snprintf(buf, sizeof buf, "00000000%s0100%08lX", m_model->storeId.c_str(), static_cast<unsigned long>(m_id));
    return buf;
}

// ---------------------------------------------------------------------------------------------
// Recurrence

namespace {

int MonthIndex(int day) {
    int y, m, d;
    SplitDate(day, &y, &m, &d);
    return y * 12 + (m - 1);
}

// The n-th day of the month (1..4, 5 = last) whose weekday is in the mask; 0 when none.
int NthDayOfMonth(int year, int month, long mask, long instance) {
    std::vector<int> days;
    for (int d = 1; d <= DaysInMonth(year, month); ++d) {
        int day = DayNumber(MakeDate(year, month, d));
        if (mask & (1L << Weekday(day))) days.push_back(d);
    }
    if (days.empty()) return 0;
    if (instance >= 5) return days.back();
    if (instance < 1 || static_cast<size_t>(instance) > days.size()) return 0;
    return days[static_cast<size_t>(instance) - 1];
}

// Monthly types step by months from the start's month; yearly types by years (their
// interval counts months, 12 a year; a smaller value is taken as years) in MonthOfYear.
bool StepMatches(long type, long every, int day, int start) {
    if (type == olRecursMonthly || type == olRecursMonthNth) return (MonthIndex(day) - MonthIndex(start)) % every == 0;
    const long years = every >= 12 ? every / 12 : every;
    return (MonthIndex(day) / 12 - MonthIndex(start) / 12) % years == 0;
}

}  // namespace

bool Recurrence::IsOccurrenceDay(int day) const {
    const int start = DayNumber(patternStart);
    if (day < start) return false;
    if (!noEndDate && day > DayNumber(patternEnd)) return false;
    const long every = interval > 0 ? interval : 1;
    int y, m, d;
    SplitDate(day, &y, &m, &d);
    switch (type) {
        case olRecursDaily:
            return (day - start) % every == 0;
        case olRecursWeekly: {
            if (!(dayOfWeekMask & (1L << Weekday(day)))) return false;
            // Weeks start on the series' first day of the week; the first is the one holding the
            // pattern start.
            const int first = firstDayOfWeek < 0 ? 0 : static_cast<int>(firstDayOfWeek % 7);
            const int week0 = start - (Weekday(start) - first + 7) % 7;
            const int week = day - (Weekday(day) - first + 7) % 7;
            return ((week - week0) / 7) % every == 0;
        }
        case olRecursMonthly:
        case olRecursYearly: {
            if (!StepMatches(type, every, day, start)) return false;
            if (type == olRecursYearly && monthOfYear > 0 && m != monthOfYear) return false;
            int want = static_cast<int>(std::min<long>(dayOfMonth, DaysInMonth(y, m)));
            return d == want;
        }
        case olRecursMonthNth:
        case olRecursYearNth: {
            if (!StepMatches(type, every, day, start)) return false;
            if (type == olRecursYearNth && monthOfYear > 0 && m != monthOfYear) return false;
            return NthDayOfMonth(y, m, dayOfWeekMask, instance) == d;
        }
        default:
            return false;
    }
}

std::vector<DATE> Recurrence::OccurrencesBetween(int fromDay, int toDay) const {
    std::vector<DATE> out;
    for (int day = std::max(fromDay, DayNumber(patternStart)); day <= toDay; ++day)
        if (IsOccurrenceDay(day)) out.push_back(day + startTime);
    return out;
}

void Recurrence::ApplyOccurrenceCount() {
    if (occurrences <= 0) return;
    noEndDate = false;
    patternEnd = DayNumber(patternStart) + 366.0 * 100;  // far enough for any count
    long seen = 0;
    for (int day = DayNumber(patternStart); day <= DayNumber(patternEnd); ++day) {
        if (IsOccurrenceDay(day) && ++seen == occurrences) {
            patternEnd = day;
            return;
        }
    }
}

const ExceptionData* Recurrence::FindException(DATE originalStart) const {
    for (const auto& e : exceptions)
        if (DayNumber(e.originalDate) == DayNumber(originalStart)) return &e;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Filters: [Property] op value, joined by AND / OR, NOT and parentheses.

struct Filter::Node {
    enum Kind { And, Or, Not, Compare } kind = Compare;
    std::shared_ptr<Node> left, right;
    std::string property;
    std::string op;
    Value literal;
    bool literalIsDate = false;
};

namespace {

struct Lexer {
    const std::string& s;
    size_t i = 0;
    void Skip() {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    }
    bool Keyword(const char* word) {
        Skip();
        size_t n = std::strlen(word);
        if (s.size() - i >= n && _strnicmp(s.c_str() + i, word, n) == 0 &&
            (i + n == s.size() || !std::isalnum(static_cast<unsigned char>(s[i + n])))) {
            i += n;
            return true;
        }
        return false;
    }
    bool Char(char c) {
        Skip();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    [[noreturn]] void Error(const std::string& what) {
        throw FilterError("Cannot parse condition. Error at \"" + s.substr(std::min(i, s.size())) + "\": " + what);
    }
};

std::shared_ptr<Filter::Node> ParseOr(Lexer& lx);

std::shared_ptr<Filter::Node> ParseComparison(Lexer& lx) {
    auto node = std::make_shared<Filter::Node>();
    if (!lx.Char('[')) lx.Error("expected [property]");
    size_t close = lx.s.find(']', lx.i);
    if (close == std::string::npos) lx.Error("missing ]");
    node->property = lx.s.substr(lx.i, close - lx.i);
    lx.i = close + 1;
    if (node->property.empty()) lx.Error("empty property name");
    lx.Skip();
    static const char* ops[] = {"<>", "<=", ">=", "=", "<", ">"};
    for (const char* op : ops) {
        if (lx.s.compare(lx.i, std::strlen(op), op) == 0) {
            node->op = op;
            lx.i += std::strlen(op);
            break;
        }
    }
    if (node->op.empty()) lx.Error("expected a comparison");
    lx.Skip();
    if (lx.i >= lx.s.size()) lx.Error("expected a value");
    char q = lx.s[lx.i];
    if (q == '\'' || q == '"') {
        std::string text;
        ++lx.i;
        for (;;) {
            if (lx.i >= lx.s.size()) lx.Error("unterminated text");
            if (lx.s[lx.i] == q) {
                if (lx.i + 1 < lx.s.size() && lx.s[lx.i + 1] == q) {  // doubled quote
                    text += q;
                    lx.i += 2;
                    continue;
                }
                ++lx.i;
                break;
            }
            text += lx.s[lx.i++];
        }
        node->literal = Value(text);
    } else if (lx.Keyword("True")) {
        node->literal = Value(true);
    } else if (lx.Keyword("False")) {
        node->literal = Value(false);
    } else {
        size_t start = lx.i;
        while (lx.i < lx.s.size() &&
               (std::isdigit(static_cast<unsigned char>(lx.s[lx.i])) || lx.s[lx.i] == '-' || lx.s[lx.i] == '.'))
            ++lx.i;
        if (start == lx.i) lx.Error("expected a value");
        node->literal = Value::FromDouble(std::atof(lx.s.substr(start, lx.i - start).c_str()));
    }
    return node;
}

std::shared_ptr<Filter::Node> ParsePrimary(Lexer& lx) {
    if (lx.Keyword("NOT")) {
        auto node = std::make_shared<Filter::Node>();
        node->kind = Filter::Node::Not;
        node->left = ParsePrimary(lx);
        return node;
    }
    if (lx.Char('(')) {
        auto inner = ParseOr(lx);
        if (!lx.Char(')')) lx.Error("missing )");
        return inner;
    }
    return ParseComparison(lx);
}

std::shared_ptr<Filter::Node> ParseAnd(Lexer& lx) {
    auto left = ParsePrimary(lx);
    while (lx.Keyword("AND")) {
        auto node = std::make_shared<Filter::Node>();
        node->kind = Filter::Node::And;
        node->left = left;
        node->right = ParsePrimary(lx);
        left = node;
    }
    return left;
}

std::shared_ptr<Filter::Node> ParseOr(Lexer& lx) {
    auto left = ParseAnd(lx);
    while (lx.Keyword("OR")) {
        auto node = std::make_shared<Filter::Node>();
        node->kind = Filter::Node::Or;
        node->left = left;
        node->right = ParseAnd(lx);
        left = node;
    }
    return left;
}

template <typename T>
bool CompareWith(const std::string& op, const T& a, const T& b) {
    if (op == "=") return a == b;
    if (op == "<>") return !(a == b);
    if (op == "<") return a < b;
    if (op == ">") return a > b;
    if (op == "<=") return !(b < a);
    return !(a < b);  // ">="
}

// Outlook compares dates in filters to the minute.
long long Minutes(DATE d) {
    return static_cast<long long>(std::floor(d * 1440.0 + 1e-6));
}

bool Evaluate(const Filter::Node& n, const ItemData& item, const Folder& folder) {
    switch (n.kind) {
        case Filter::Node::And:
            return Evaluate(*n.left, item, folder) && Evaluate(*n.right, item, folder);
        case Filter::Node::Or:
            return Evaluate(*n.left, item, folder) || Evaluate(*n.right, item, folder);
        case Filter::Node::Not:
            return !Evaluate(*n.left, item, folder);
        default:
            break;
    }
    Value actual;
    std::string canonical = CanonicalProperty(item.cls, n.property);
    // Outlook cannot filter on a body or an EntryID, and knows a user-defined field only when
    // the folder has it.
    if (_stricmp(n.property.c_str(), "Body") == 0 || _stricmp(n.property.c_str(), "EntryID") == 0)
        throw FilterError("Cannot use the property \"" + n.property + "\" in a filter.");
    bool builtIn = _stricmp(n.property.c_str(), "IsRecurring") == 0;
    for (long cls : {olTask, olAppointment, olMail, olContact})
        if (!CanonicalProperty(cls, n.property).empty()) builtIn = true;
    if (!builtIn && !folder.HasUserField(n.property))
        throw FilterError("The property \"" + n.property + "\" in the condition is not valid.");
    if (_stricmp(n.property.c_str(), "IsRecurring") == 0) {
        actual = Value(item.IsRecurring());
    } else if (!canonical.empty()) {
        actual = item.Get(canonical);
    } else if (const UserProperty* up = item.FindUserProp(n.property)) {
        actual = up->value;
    } else {
        return false;  // a field this item does not carry
    }
    const Value& lit = n.literal;
    switch (actual.kind) {
        case Value::Date: {
            DATE want = 0;
            const Model* model = folder.GetModel();
            if (lit.kind == Value::Text && !ParseFilterDate(lit.text, model ? model->locale : std::string(), &want))
                throw FilterError("The condition value \"" + lit.text + "\" is not a valid date.");
            if (lit.kind != Value::Text) want = lit.AsDate();
            return CompareWith(n.op, Minutes(actual.d), Minutes(want));
        }
        case Value::Bool: {
            bool want =
                lit.kind == Value::Text ? lit.AsBool() : lit.AsLong() != 0 || (lit.kind == Value::Double && lit.d != 0);
            return CompareWith(n.op, actual.l != 0, want);
        }
        case Value::Long:
        case Value::Double: {
            double a = actual.kind == Value::Long ? actual.l : actual.d;
            double b =
                lit.kind == Value::Text ? std::atof(lit.text.c_str()) : (lit.kind == Value::Double ? lit.d : lit.l);
            return CompareWith(n.op, a, b);
        }
        default: {
            // Text compares without regard to case, as Outlook does.
            std::string a = actual.AsText(), b = lit.AsText();
            std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return std::tolower(c); });
            std::transform(b.begin(), b.end(), b.begin(), [](unsigned char c) { return std::tolower(c); });
            return CompareWith(n.op, a, b);
        }
    }
}

}  // namespace

Filter Filter::Parse(const std::string& text) {
    Lexer lx{text};
    Filter f;
    f.root = ParseOr(lx);
    lx.Skip();
    if (lx.i != text.size()) lx.Error("unexpected text");
    return f;
}

bool Filter::Matches(const ItemData& item, const Folder& folder) const {
    return Evaluate(*root, item, folder);
}

// ---------------------------------------------------------------------------------------------
// The model

std::vector<std::shared_ptr<BarGroupData>> DefaultOutlookBarGroups() {
    auto shortcuts = std::make_shared<BarGroupData>();
    shortcuts->name = "Shortcuts";
    for (const char* name : {"Outlook Today", "Inbox", "Calendar", "Contacts", "Tasks"})
        shortcuts->shortcuts.push_back(
            std::make_shared<ShortcutData>(ShortcutData{name, std::string("outlook:") + name, ""}));
    auto mine = std::make_shared<BarGroupData>();
    mine->name = "My Shortcuts";
    return {shortcuts, mine};
}

Model::Model() {
    m_folders.push_back(std::make_unique<Folder>(this, olFolderInbox, "Inbox", olMailItem));
    m_folders.push_back(std::make_unique<Folder>(this, olFolderCalendar, "Calendar", olAppointmentItem));
    m_folders.push_back(std::make_unique<Folder>(this, olFolderTasks, "Tasks", olTaskItem));
    m_folders.push_back(std::make_unique<Folder>(this, olFolderSentMail, "Sent Items", olMailItem));
    m_folders.push_back(std::make_unique<Folder>(this, olFolderContacts, "Contacts", olContactItem));
    m_folders.push_back(std::make_unique<Folder>(this, olFolderDeletedItems, "Deleted Items", olMailItem));
    m_folders.push_back(std::make_unique<Folder>(this, olFolderOutbox, "Outbox", olMailItem));
}

Folder* Model::GetFolder(long id) const {
    for (const auto& f : m_folders)
        if (f->Id() == id) return f.get();
    return nullptr;
}

std::shared_ptr<ItemData> Model::FindByEntryId(const std::string& id) const {
    for (const auto& f : m_folders)
        for (const auto& item : f->Items())
            if (item->entryId == id) return item;
    return nullptr;
}

std::shared_ptr<ItemData> Model::NewItem(Folder* folder, long cls) {
    auto item = std::make_shared<ItemData>();
    item->cls = cls;
    item->folder = folder;
    const DATE now = Now();
    item->props["CreationTime"] = Value::FromDate(now);
    if (cls == olAppointment) {
        // Outlook proposes the next half hour, lasting 30 minutes.
        DATE start = std::ceil(now * 48.0 - 1e-9) / 48.0;
        item->props["Start"] = Value::FromDate(start);
        item->props["End"] = Value::FromDate(start + 1.0 / 48.0);
    }
    return item;
}

Recurrence& Model::EnsureRecurrence(ItemData& appt) {
    if (!appt.recurrence) {
        auto r = std::make_unique<Recurrence>();
        DATE start = appt.Get("Start").AsDate();
        DATE end = appt.Get("End").AsDate();
        if (start >= kNoDate) start = DayNumber(Now()) + 8.0 / 24;
        r->type = olRecursWeekly;
        r->interval = 1;
        r->firstDayOfWeek = LocaleFirstDayOfWeek(locale);
        r->dayOfWeekMask = 1L << Weekday(start);
        r->patternStart = DayNumber(start);
        r->startTime = TimeOfDay(start);
        r->duration = end > start && end < kNoDate ? end - start : 1.0 / 48;
        appt.recurrence = std::move(r);
        appt.dirty = true;
    }
    return *appt.recurrence;
}

void Model::SyncSeriesTimes(ItemData& series) {
    // The series' own Start and End are those of its first occurrence.
    Recurrence& r = *series.recurrence;
    DATE first = r.patternStart + r.startTime;
    for (int day = DayNumber(r.patternStart), n = 0; n < 3660; ++day, ++n) {
        if (r.IsOccurrenceDay(day)) {
            first = day + r.startTime;
            break;
        }
    }
    series.props["Start"] = Value::FromDate(first);
    series.props["End"] = Value::FromDate(first + r.duration);
}

std::shared_ptr<ItemData> Model::GetOccurrence(const std::shared_ptr<ItemData>& series, DATE when) {
    if (!series || !series->recurrence) return nullptr;
    Recurrence& r = *series->recurrence;
    const int day = DayNumber(when);
    const double time = TimeOfDay(when);
    const bool timeGiven = time * 86400.0 >= 0.5;
    // A changed occurrence is found on the day it now lies on, at its new time.
    for (const auto& e : r.exceptions) {
        if (e.deleted || !e.item) continue;
        DATE start = e.item->Get("Start").AsDate();
        if (DayNumber(start) == day && (!timeGiven || SameSecond(TimeOfDay(start), time))) return e.item;
    }
    if (!r.IsOccurrenceDay(day)) return nullptr;
    if (timeGiven && !SameSecond(time, r.startTime)) return nullptr;
    const DATE original = day + r.startTime;
    if (r.FindException(original)) return nullptr;  // deleted, or moved elsewhere
    auto occ = std::make_shared<ItemData>();
    occ->cls = olAppointment;
    // Its user properties are the series' (read and written there), never a copy.
    occ->props = series->props;
    occ->entryId = series->entryId;
    occ->folder = series->folder;
    occ->saved = true;
    occ->series = series;
    occ->originalStart = original;
    occ->props["Start"] = Value::FromDate(original);
    occ->props["End"] = Value::FromDate(original + r.duration);
    return occ;
}

std::string Model::CheckOccurrencePlace(const ItemData& occ) const {
    auto series = occ.series.lock();
    if (!series || !series->recurrence) return std::string();
    const Recurrence& r = *series->recurrence;
    const DATE start = occ.Get("Start").AsDate(), end = occ.Get("End").AsDate();
    const int own = DayNumber(occ.originalStart);
    // The other occurrences where they now lie: the pattern's, less the deleted and moved
    // ones, plus the moved ones at their new places.
    std::vector<std::pair<DATE, DATE>> others;
    const int from = std::min(own, DayNumber(start)) - 400, to = std::max(own, DayNumber(start)) + 400;
    for (DATE s : r.OccurrencesBetween(from, to))
        if (DayNumber(s) != own && !r.FindException(s)) others.emplace_back(s, s + r.duration);
    for (const auto& e : r.exceptions) {
        if (e.deleted || !e.item || DayNumber(e.originalDate) == own) continue;
        others.emplace_back(e.item->Get("Start").AsDate(), e.item->Get("End").AsDate());
    }
    const std::pair<DATE, DATE>* previous = nullptr;
    const std::pair<DATE, DATE>* next = nullptr;
    for (const auto& o : others) {
        if (DayNumber(o.first) == DayNumber(start))
            return "Two occurrences of \"" + series->Subject() + "\" can't occur on the same day.";
        if (o.first < occ.originalStart && (!previous || o.first > previous->first)) previous = &o;
        if (o.first > occ.originalStart && (!next || o.first < next->first)) next = &o;
    }
    if ((previous && start < previous->second) || (next && start > next->first))
        return "Cannot change the date of this occurrence because it skips over a later or earlier occurrence of "
               "the same appointment.";
    (void)end;
    return std::string();
}

void Model::Save(const std::shared_ptr<ItemData>& item) {
    const DATE now = Now();
    if (auto series = item->series.lock()) {
        // A changed occurrence lives on as an exception of its series.
        Recurrence& r = EnsureRecurrence(*series);
        item->props["LastModificationTime"] = Value::FromDate(now);
        ExceptionData* found = nullptr;
        for (auto& e : r.exceptions)
            if (DayNumber(e.originalDate) == DayNumber(item->originalStart)) found = &e;
        if (!found) {
            r.exceptions.push_back(ExceptionData{item->originalStart, false, item});
        } else {
            found->deleted = false;
            found->item = item;
        }
        item->dirty = false;
        ++series->version;
        series->props["LastModificationTime"] = Value::FromDate(now);
        if (series->folder)
            for (auto* l : listeners) l->OnItemChange(*series->folder, series);
        return;
    }
    Folder* folder = item->folder;
    if (!folder) return;
    const bool added = !item->saved;
    if (item->entryId.empty()) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "00000000%s0700%016lX", storeId.c_str(), nextEntry++);
        item->entryId = buf;
    }
    item->props["LastModificationTime"] = Value::FromDate(now);
    if (item->recurrence) {
        if (item->recurrence->firstDayOfWeek < 0) item->recurrence->firstDayOfWeek = LocaleFirstDayOfWeek(locale);
        SyncSeriesTimes(*item);
    }
    item->dirty = false;
    ++item->saveCount;
    ++item->version;
    if (added) {
        item->saved = true;
        folder->Items().push_back(item);
        if (m_batchDepth > 0) {
            m_batchAdds.emplace_back(folder, item);
            return;
        }
        for (auto* l : listeners) l->OnItemAdd(*folder, item);
    } else {
        for (auto* l : listeners) l->OnItemChange(*folder, item);
    }
}

void Model::EndBatch() {
    if (m_batchDepth == 0 || --m_batchDepth > 0) return;
    auto adds = std::move(m_batchAdds);
    m_batchAdds.clear();
    // "This event does not run when a large number of items are added to the folder at once."
    if (adds.size() > kItemAddBatchLimit) return;
    for (const auto& a : adds)
        for (auto* l : listeners) l->OnItemAdd(*a.first, a.second);
}

void Model::Move(const std::shared_ptr<ItemData>& item, Folder* to) {
    Folder* from = item->folder;
    if (from && item->saved) {
        auto& items = from->Items();
        items.erase(std::remove(items.begin(), items.end(), item), items.end());
        for (auto* l : listeners) l->OnItemRemove(*from);
    }
    item->folder = to;
    item->saved = true;
    to->Items().push_back(item);
    for (auto* l : listeners) l->OnItemAdd(*to, item);
}

void Model::Delete(const std::shared_ptr<ItemData>& item) {
    if (auto series = item->series.lock()) {
        Recurrence& r = EnsureRecurrence(*series);
        bool found = false;
        for (auto& e : r.exceptions) {
            if (DayNumber(e.originalDate) == DayNumber(item->originalStart)) {
                e.deleted = true;
                e.item.reset();
                found = true;
            }
        }
        if (!found) r.exceptions.push_back(ExceptionData{item->originalStart, true, nullptr});
        ++series->version;
        series->props["LastModificationTime"] = Value::FromDate(Now());
        if (series->folder)
            for (auto* l : listeners) l->OnItemChange(*series->folder, series);
        return;
    }
    if (!item->saved) return;
    Folder* trash = GetFolder(olFolderDeletedItems);
    if (item->folder == trash) {
        auto& items = trash->Items();
        items.erase(std::remove(items.begin(), items.end(), item), items.end());
        item->saved = false;
        for (auto* l : listeners) l->OnItemRemove(*trash);
        return;
    }
    Move(item, trash);
}

}  // namespace hvsim

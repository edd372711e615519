#pragma once
// The simulated Outlook's data: folders, items, user properties, recurrence series with their
// exceptions, attachments and recipients. Plain C++; the COM objects (SimItem.cpp and its neighbours) are thin
// views over it, so tests can seed and inspect the store without going through IDispatch.
//
// Text is UTF-8 here; dates are OLE DATEs in local time; Outlook's "no date" is 4501-01-01.
#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

namespace hvsim {

// Outlook's constants, as the object model numbers them.
enum OlItemType { olMailItem = 0, olAppointmentItem = 1, olContactItem = 2, olTaskItem = 3 };
enum OlObjectClass {
    olAppointment = 26,
    olMail = 43,
    olContact = 40,
    olTask = 48,
    olMeetingRequest = 53,
    olReport = 46
};
enum OlDefaultFolders {
    olFolderDeletedItems = 3,
    olFolderOutbox = 4,
    olFolderSentMail = 5,
    olFolderInbox = 6,
    olFolderCalendar = 9,
    olFolderContacts = 10,
    olFolderTasks = 13
};
enum OlRecurrenceType {
    olRecursDaily = 0,
    olRecursWeekly = 1,
    olRecursMonthly = 2,
    olRecursMonthNth = 3,
    olRecursYearly = 5,
    olRecursYearNth = 6
};
enum OlDaysOfWeek {
    olSunday = 1,
    olMonday = 2,
    olTuesday = 4,
    olWednesday = 8,
    olThursday = 16,
    olFriday = 32,
    olSaturday = 64
};
enum OlUserPropertyType { olText = 1, olNumber = 3, olDateTime = 5, olYesNo = 6, olInteger = 20 };

// 4501-01-01 00:00, what Outlook answers for an empty date.
constexpr DATE kNoDate = 949998.0;

DATE MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// "yyyy-mm-dd hh:mm:ss" (time optional) and "mm/dd/yyyy hh:mm[:ss] AM" forms; false when neither.
bool ParseDate(const std::string& text, DATE* out);
// A date literal of a Restrict or Find filter, as Outlook reads it: the short date of the
// profile's locale ("en-US" M/d/yyyy, "en-GB" dd/MM/yyyy, "de-DE" dd.MM.yyyy), or the
// unambiguous yyyy-mm-dd, optionally followed by hours and minutes (12-hour with AM/PM, or
// 24-hour). A time with seconds is refused. False when the text is no such date.
bool ParseFilterDate(const std::string& text, const std::string& locale, DATE* out);
// The first day of the week of a locale, 0 Sunday .. 6 Saturday (en-US Sunday, most of
// Europe Monday).
int LocaleFirstDayOfWeek(const std::string& locale);
std::string FormatDate(DATE d);  // "yyyy-mm-dd hh:mm:ss"
int DayNumber(DATE d);           // whole days since 1899-12-30
double TimeOfDay(DATE d);        // fraction of a day
int Weekday(DATE d);             // 0 Sunday .. 6 Saturday
void SplitDate(DATE d, int* year, int* month, int* day);
int DaysInMonth(int year, int month);
// Equal to the second.
bool SameSecond(DATE a, DATE b);

// One property value.
struct Value {
    enum Kind { Empty, Text, Long, Bool, Date, Double };
    Kind kind = Empty;
    std::string text;
    long l = 0;
    double d = 0;

    Value() = default;
    Value(const char* s) : kind(Text), text(s) {}
    Value(std::string s) : kind(Text), text(std::move(s)) {}
    Value(int v) : kind(Long), l(v) {}
    Value(long v) : kind(Long), l(v) {}
    Value(bool v) : kind(Bool), l(v ? 1 : 0) {}
    static Value FromDate(DATE v) {
        Value x;
        x.kind = Date;
        x.d = v;
        return x;
    }
    static Value FromDouble(double v) {
        Value x;
        x.kind = Double;
        x.d = v;
        return x;
    }

    std::string AsText() const;
    long AsLong() const;
    bool AsBool() const;
    DATE AsDate() const;
    bool operator==(const Value& o) const;
};

// A date value for the seeding helpers: Value(Date(2024, 1, 5, 10, 0)).
inline Value DateValue(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    return Value::FromDate(MakeDate(y, m, d, h, mi, s));
}

struct UserProperty {
    std::string name;
    long type = olText;
    Value value;
};

struct Attachment {
    std::string displayName;
    std::string fileName;
    long type = 1;  // olByValue
    long position = 0;
    std::string data;  // the file's bytes
};

struct Recipient {
    std::string name;
    std::string address;
    bool resolved = false;
};

struct ItemData;

struct ExceptionData {
    DATE originalDate = 0;  // original start (date and time) of the occurrence
    bool deleted = false;
    std::shared_ptr<ItemData> item;  // the changed occurrence; null when deleted
};

struct Recurrence {
    long type = olRecursWeekly;
    long interval = 1;
    long dayOfWeekMask = 0;
    long dayOfMonth = 0;
    long monthOfYear = 0;
    long instance = 0;
    DATE patternStart = 0;      // date only
    DATE patternEnd = kNoDate;  // date only
    bool noEndDate = true;
    long occurrences = 0;  // with an end by count; 0 otherwise
    double startTime = 0;  // time of day of every occurrence
    double duration = 0;   // in days
    // The day weekly periods start on, 0 Sunday .. 6 Saturday: the profile locale's first day
    // of the week when the series was made (FirstDOW of the recurrence blob); -1 until then.
    long firstDayOfWeek = -1;
    std::vector<ExceptionData> exceptions;

    // Whether the series has an occurrence starting on this day (ignoring exceptions).
    bool IsOccurrenceDay(int day) const;
    // Start times of the series' occurrences on days [fromDay, toDay], exceptions ignored.
    std::vector<DATE> OccurrencesBetween(int fromDay, int toDay) const;
    // With an end after `occurrences` occurrences: the day of the last one.
    void ApplyOccurrenceCount();
    const ExceptionData* FindException(DATE originalStart) const;
};

class Folder;
class Model;

struct ItemData {
    long cls = olTask;
    std::string entryId;                 // empty until the first Save
    std::map<std::string, Value> props;  // canonical property names
    std::vector<UserProperty> userProps;
    std::vector<Attachment> attachments;
    std::vector<Recipient> recipients;
    std::unique_ptr<Recurrence> recurrence;  // series only
    Folder* folder = nullptr;                // where it lives (or will live after its first Save)
    bool saved = false;                      // in the folder
    bool dirty = false;                      // changed since the last Save or load
    int saveCount = 0;
    // Tests: the next this many Saves through the object model fail, as a save of an item
    // changed elsewhere fails in Outlook ("The operation cannot be performed because the
    // message has been changed"). An occurrence's Save counts against its series.
    int failSaves = 0;
    // Tests: while set on a series, reading any property of one of its occurrences fails with
    // "this instance no longer exists", however fresh the copy (as while another program keeps
    // saving the series).
    bool failOccurrenceReads = false;

    // Occurrences of a series: the series, and the original start of this occurrence.
    std::weak_ptr<ItemData> series;
    DATE originalStart = 0;
    bool isOccurrence() const { return !series.expired(); }

    // Saves of a series and of its occurrences so far. An object over a recurring item keeps
    // the value it was opened at; a Save through it after another object saved fails.
    long version = 0;

    // The COM view currently alive for this item (identity, as Outlook keeps it while in use).
    void* liveObject = nullptr;

    Value Get(const std::string& name) const;
    void Set(const std::string& name, const Value& v);
    std::string Subject() const { return Get("Subject").AsText(); }
    UserProperty* FindUserProp(const std::string& name);
    const UserProperty* FindUserProp(const std::string& name) const;
    bool IsRecurring() const { return recurrence != nullptr || isOccurrence(); }
};

// Default values and types of each class's properties.
const std::map<std::string, Value>& ClassDefaults(long cls);
// Canonical spelling of a property of the class (case-insensitive match); empty when unknown.
std::string CanonicalProperty(long cls, const std::string& name);

class Folder {
public:
    Folder(Model* model, long id, std::string name, long defaultItemType)
        : m_model(model), m_id(id), m_name(std::move(name)), m_defaultItemType(defaultItemType) {}
    long Id() const { return m_id; }
    const std::string& Name() const { return m_name; }
    long DefaultItemType() const { return m_defaultItemType; }
    Model* GetModel() const { return m_model; }
    std::vector<std::shared_ptr<ItemData>>& Items() { return m_items; }
    // Names of user-defined fields the folder knows (added with addToFolderFields true).
    std::vector<std::string>& UserFields() { return m_userFields; }
    bool HasUserField(const std::string& name) const;
    std::string EntryId() const;

private:
    Model* m_model;
    long m_id;
    std::string m_name;
    long m_defaultItemType;
    std::vector<std::shared_ptr<ItemData>> m_items;
    std::vector<std::string> m_userFields;
};

// A parsed Restrict/Find filter.
class Filter {
public:
    // Throws FilterError for a filter it cannot parse.
    static Filter Parse(const std::string& text);
    // Whether the item matches; unknown properties make Evaluate throw FilterError.
    bool Matches(const ItemData& item, const Folder& folder) const;
    struct Node;
    std::shared_ptr<Node> root;
};

struct FilterError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The events the model raises; the COM layer connects them to connection points.
struct ModelEvents {
    virtual ~ModelEvents() = default;
    virtual void OnItemAdd(Folder&, const std::shared_ptr<ItemData>&) {}
    virtual void OnItemChange(Folder&, const std::shared_ptr<ItemData>&) {}
    virtual void OnItemRemove(Folder&) {}
};

// How the Items events reach their sinks. Outlook's delivery varies with the store (cached
// Exchange mode, a PST) and with what the handlers do; the default is the friendliest: once,
// at once, in the order of the saves.
struct EventDelivery {
    bool asynchronous = false;     // from the message loop, after the call that caused them returns
    bool itemChangeTwice = false;  // one save raises "ItemChange" twice
    int lateItemChangeMs = 0;      // > 0: one more "ItemChange" this long after each save
    bool closeAfterWrite = false;  // an inspector's "Close" after its save and "ItemChange"
};
// More items than this added in one go (Model::BeginBatch .. EndBatch) raise no "ItemAdd".
constexpr size_t kItemAddBatchLimit = 16;

// A COM add-in as Outlook lists it in Application.COMAddIns.
struct AddInEntry {
    std::string progId;
    std::string description;
    bool connected = false;
    IDispatch* object = nullptr;  // the add-in's own object, when loaded (not owned)
};

// The Outlook Bar (Shortcuts pane): groups of shortcuts, kept in the profile.
struct ShortcutData {
    std::string name, target, icon;
};
struct BarGroupData {
    std::string name;
    long viewType = 0;  // olLargeIcon 0, olSmallIcon 1 (Outlook accepts the values it stores)
    std::vector<std::shared_ptr<ShortcutData>> shortcuts;
};
std::vector<std::shared_ptr<BarGroupData>> DefaultOutlookBarGroups();

class Model {
public:
    Model();
    std::vector<std::unique_ptr<Folder>>& Folders() { return m_folders; }
    Folder* GetFolder(long id) const;
    std::shared_ptr<ItemData> FindByEntryId(const std::string& id) const;

    // A new, unsaved item of the folder's kind (or of `cls`).
    std::shared_ptr<ItemData> NewItem(Folder* folder, long cls);
    // Stores the item: assigns its EntryID on the first save, stamps LastModificationTime and
    // raises ItemAdd or ItemChange. An occurrence becomes (or updates) an exception of its series.
    void Save(const std::shared_ptr<ItemData>& item);
    // Moves the item to Deleted Items (an occurrence becomes a deleted exception).
    void Delete(const std::shared_ptr<ItemData>& item);
    void Move(const std::shared_ptr<ItemData>& item, Folder* to);
    // The occurrence of a series on that date ("date" or "date and start time"); null when the
    // series has none there.
    std::shared_ptr<ItemData> GetOccurrence(const std::shared_ptr<ItemData>& series, DATE when);
    // Why Outlook refuses to save this occurrence where it now lies (on another occurrence's
    // day, or past its neighbours); empty when it may be saved.
    std::string CheckOccurrencePlace(const ItemData& occurrence) const;
    // Makes the appointment a series (weekly on its start's weekday, as Outlook does).
    Recurrence& EnsureRecurrence(ItemData& appt);
    void SyncSeriesTimes(ItemData& series);

    // Items saved for the first time between these two calls are added "in one go".
    void BeginBatch() { ++m_batchDepth; }
    void EndBatch();

    DATE Now() const { return m_clock ? m_clock() : CurrentTime(); }
    void SetClock(std::function<DATE()> clock) { m_clock = std::move(clock); }
    const std::function<DATE()>& Clock() const { return m_clock; }
    static DATE CurrentTime();

    bool offline = false;
    // The user's locale (Windows regional settings), which Outlook uses to read dates in
    // filters and to give a new series its first day of the week.
    std::string locale = "en-US";
    std::string version = "16.0.0.4266";
    std::string storeId = "4F5554534D5354524531";  // part of every EntryID
    unsigned long nextEntry = 1;
    std::vector<AddInEntry> addIns;
    bool outlookBar = true;  // false: Panes.Item("OutlookBar") fails, as in an Outlook without it
    std::vector<std::shared_ptr<BarGroupData>> outlookBarGroups = DefaultOutlookBarGroups();
    EventDelivery delivery;
    std::vector<ModelEvents*> listeners;
    std::vector<std::string> log;  // what the model did, for the host's report

private:
    std::vector<std::unique_ptr<Folder>> m_folders;
    std::function<DATE()> m_clock;
    int m_batchDepth = 0;
    std::vector<std::pair<Folder*, std::shared_ptr<ItemData>>> m_batchAdds;
};

// The store as JSON, and back (throws std::runtime_error on malformed input).
std::string ModelToJson(const Model& model);
void ModelFromJson(Model& model, const std::string& json);

}  // namespace hvsim

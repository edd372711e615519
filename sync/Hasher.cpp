#include "sync/Hasher.h"
#include "common/DiagLog.h"
#include "service/TimeLogic.h"
#include "sync/Hash.h"
#include "sync/ItemAccess.h"
#include "win/ComTypes.h"
#include "win/Strings.h"

namespace {

const char* Safe(const char* text) {
    return text ? text : "";
}

// A text property of an item; empty when it cannot be read.
std::string TextProperty(IDispatch* item, const wchar_t* name) {
    std::string text;
    return hvitem::TryText(item, name, text) ? text : std::string();
}

bool DateProperty(IDispatch* item, const wchar_t* name, COleDate& date) {
    return hvitem::TryDate(item, name, date);
}

// A task date of Outlook as the local calendar date; Outlook's "no date" gives false.
bool TaskDate(IDispatch* item, const wchar_t* name, std::string& text) {
    COleDate date;
    text.clear();
    if (!DateProperty(item, name, date)) return false;
    text = CTimeLogic::FormatOutlookDate(date, "%Y-%m-%d");
    if (text == "4501-01-01") {
        text.clear();
        return false;
    }
    return !text.empty();
}

}  // namespace

std::string CHasher::FilterInput(const std::string& input) {
    std::string out;
    out.reserve(input.size());
    for (char ch : input) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c <= 0x7E && c != '$') out += ch;
    }
    return out;
}

std::string CHasher::TaskDateText(const char* text) {
    std::string out = Safe(text);
    if (out.empty()) return out;
    if (out.find('-') == std::string::npos) {
        FILETIME ft;
        if (ParseWireTime(out, 0, ft)) out = LocalDateText(ft);
    }
    const size_t t = out.find('T');
    if (t != std::string::npos) out.erase(t);
    return out;
}

void CHasher::Digest(const char* logFormat, std::string& hash) {
    CDiagLog& log = HvLog();
    log.LogCommentFmt(logFormat, m_strInput.c_str());
    m_md5.Compute(m_strInput.c_str(), 0, hash);
    log.LogCommentFmt("MD5 Hash: %s", hash.c_str());
}

void CHasher::HashApptProps(const char* title, const char* location, const char* start, const char* end,
                            const char* assignedIDs, const char* organizer, const char* internalUse, const char* body,
                            std::string& hash) {
    std::string input;
    for (const char* part : {title, location, start, end, assignedIDs, organizer, internalUse, body})
        input += Safe(part);
    m_strInput = FilterInput(input);
    Digest("CHasher::HashApptProps: %s", hash);
}

void CHasher::HashTaskProps(const char* title, const char* priority, const char* start, const char* due,
                            const char* completed, const char* assignedIDs, const char* body, std::string& hash) {
    const std::string startText = TaskDateText(start);
    const std::string dueText = TaskDateText(due);
    std::string input;
    for (const char* part : {Safe(title), Safe(priority), startText.c_str(), dueText.c_str(), Safe(completed),
                             Safe(assignedIDs), Safe(body)})
        input += part;
    m_strInput = FilterInput(input);
    Digest("CHasher::HashTaskProps: %s", hash);
}

HRESULT CHasher::HashAppt(IDispatch* item, CSyncItem* record, int load, int compute) {
    if (!record) return 0;
    if (load && item) {
        record->title = TextProperty(item, L"Subject");
        record->location = TextProperty(item, L"Location");
        COleDate date;
        record->start_time.clear();
        if (DateProperty(item, L"Start", date)) CTimeLogic::ConvertToUTC(date, record->start_time);
        record->end_time.clear();
        if (DateProperty(item, L"End", date)) CTimeLogic::ConvertToUTC(date, record->end_time);
        record->description_plain_text = TextProperty(item, L"Body");
        if (record->assigned_to_userids.empty())
            hvitem::GetUserProperty(item, L"HV Assigned To IDs", record->assigned_to_userids);
        if (record->organizer.empty()) hvitem::GetUserProperty(item, L"HV Organizer", record->organizer);
        if (record->internal_use_only.empty())
            hvitem::GetUserProperty(item, L"HV Internal Use", record->internal_use_only);
    }
    if (compute) {
        HvLog().LogComment("CHasher::HashAppt: HashApptProps...");
        HashApptProps(record->title.c_str(), record->location.c_str(), record->start_time.c_str(),
                      record->end_time.c_str(), record->assigned_to_userids.c_str(), record->organizer.c_str(),
                      record->internal_use_only.c_str(), record->description_plain_text.c_str(), record->m_strHash);
    }
    return 0;
}

HRESULT CHasher::HashTask(IDispatch* item, CSyncItem* record, int load, int compute) {
    if (!record) return 0;
    std::string startText, dueText;
    bool haveStart = false, haveDue = false;
    if (load && item) {
        record->title = TextProperty(item, L"Subject");
        record->priority.clear();
        long importance = 0;
        if (hvitem::TryLong(item, L"Importance", importance)) record->priority = hv::Format("%ld", importance + 1);
        bool complete = false;
        record->completed = hvitem::TryBool(item, L"Complete", complete) && complete ? "true" : "false";
        haveStart = TaskDate(item, L"StartDate", record->start_date);
        if (haveStart) startText = record->start_date;
        haveDue = TaskDate(item, L"DueDate", record->due_date);
        if (haveDue) dueText = record->due_date;
        record->description_plain_text = TextProperty(item, L"Body");
    }
    // A record from the service gives its own dates: a date text as it is, a bare service time
    // as its local date.
    auto fromRecord = [](const std::string& field, std::string& text) {
        if (field.find('-') != std::string::npos) {
            text = field;
            return;
        }
        FILETIME ft;
        if (ParseWireTime(field, 0, ft)) text = LocalDateText(ft);
    };
    if (!haveStart && !record->start_date.empty()) fromRecord(record->start_date, startText);
    if (!haveDue && !record->due_date.empty()) fromRecord(record->due_date, dueText);
    if (record->assigned_to_userids.empty() && item)
        hvitem::GetUserProperty(item, L"HV Assigned To IDs", record->assigned_to_userids);
    if (compute) {
        HvLog().LogComment("CHasher::HashTask: HashTaskProps...");
        HashTaskProps(record->title.c_str(), record->priority.c_str(), startText.c_str(), dueText.c_str(),
                      record->completed.c_str(), record->assigned_to_userids.c_str(),
                      record->description_plain_text.c_str(), record->m_strHash);
    }
    return 0;
}

HRESULT CHasher::Hash(IDispatch* item, long olClass, CSyncItem* record, int load, int compute) {
    if (olClass == OL_CLASS_APPOINTMENT) return HashAppt(item, record, load, compute);
    if (olClass == OL_CLASS_TASK) return HashTask(item, record, load, compute);
    return E_NOTIMPL;
}

std::string CHasher::ContentHash(long olClass, const CSyncItem& record) {
    CSyncItem scratch(record);
    scratch.m_pCounterpart = nullptr;
    scratch.assigned_to_userids.clear();
    scratch.organizer.clear();
    scratch.internal_use_only.clear();
    scratch.m_strHash.clear();
    Hash(nullptr, olClass, &scratch, 0, 1);
    return scratch.m_strHash;
}

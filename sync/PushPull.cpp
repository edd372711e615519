#include "sync/PushPull.h"
#include <cstring>
#include "sync/SynchRes.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "service/OpDeleteEvent.h"
#include "service/OpDeleteTask.h"
#include "service/OpGetEvent.h"
#include "service/OpGetTask.h"
#include "service/OpPushEvent.h"
#include "service/OpPushTask.h"
#include "service/WebSvrAPI.h"
#include "sync/ItemAccess.h"
#include "win/Dialog.h"
#include "win/Files.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

namespace {

void Log(const char* text) {
    HvLog().LogComment(text);
}

// Outlook's "no date": 4501-01-01.
constexpr DATE kOutlookNoDate = 949998.0;

// A task date as Outlook shows it ("%Y-%m-%d"); Outlook's "no date" reads as empty.
std::string TaskDateOf(IDispatch* item, const wchar_t* name) {
    COleDate date;
    if (!hvitem::TryDate(item, name, date)) return std::string();
    std::string text = CTimeLogic::FormatOutlookDate(date, "%Y-%m-%d");
    if (text == "4501-01-01") text.clear();
    return text;
}

// The local Outlook date of a service time (the instant, in UTC, shown in local time).
bool ServiceTimeToOutlook(const std::string& text, COleDate& date, HvTime* when = nullptr) {
    FILETIME ft;
    if (!ParseWireTime(text, 0, ft)) return false;
    const HvTime t = TimeFromFileTime(ft);
    date = OutlookDateFromTime(t);
    if (when) *when = t;
    return date.m_fValid;
}

// A task's start or due date. The service keeps a task date as a calendar date, and the
// fingerprint takes a text with "-" by its date part, so that calendar date is what Outlook
// gets (local midnight); a shift through UTC would move it a day back west of Greenwich and
// again on every round trip. Only a text without "-" is read as an instant.
bool TaskDateToOutlook(const std::string& text, COleDate& date, HvTime& when) {
    if (text.find('-') != std::string::npos && text.size() >= 10) {
        const int year = atoi(text.substr(0, 4).c_str()), month = atoi(text.substr(5, 2).c_str()),
                  day = atoi(text.substr(8, 2).c_str());
        date = COleDate::FromLocal(year, month, day);
        if (!date.m_fValid) return false;
        // The task is due during that day; its reminder is past once the day is over.
        when = TimeFromOutlookDate(date) + 86400;
        return true;
    }
    return ServiceTimeToOutlook(text, date, &when);
}

void CopySelectedMembers(const CMemberList& members, std::vector<CAssignee>& assignees) {
    for (const auto& m : members) {
        if (!m || !m->m_fChecked) continue;
        CAssignee a;
        a.user_id = m->user_id;
        a.full_name = m->full_name;
        a.m_fSelected = true;
        assignees.push_back(a);
    }
}

bool WriteAll(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

}  // namespace

CPushPull::CPushPull(CWebSvrAPI* api, HWND owner) : CPumpOp(api), m_hOwner(owner) {
    m_strPriority[0] = hv::LoadResString(IDS_PRIORITY_1);
    m_strPriority[1] = hv::LoadResString(IDS_PRIORITY_2);
    m_strPriority[2] = hv::LoadResString(IDS_PRIORITY_3);
    m_strPriority[3] = hv::LoadResString(IDS_PRIORITY_0);
    m_fActivityLog = CConfig().GetHashVersion() == static_cast<DWORD>(HASH_VERSION) ? 1 : 0;
}

CPushPull::~CPushPull() {
    ReleaseOperation();
    m_vectors.clear();
}

void CPushPull::ShowRecord(CSyncItem*) {}

const std::string& CPushPull::ServiceURL() const {
    static const std::string none;
    return m_pAPI ? m_pAPI->m_strServiceURL : none;
}

void CPushPull::SetOperation(std::unique_ptr<CWebSvrOp> operation, int post) {
    if (post && m_hOwner) {
        StartOperation(m_hOwner, std::move(operation));
        return;
    }
    ReleaseOperation();
    m_pOperation = std::move(operation);
    m_nStep = 0;
}

// ---- Reading Outlook items ---------------------------------------------------------------------

void CPushPull::LoadOneItem(CSyncItem* record, IDispatch* item, int fingerprint) {
    LoadOneItem(record, item, fingerprint, -1);
}

void CPushPull::LoadOneItem(CSyncItem* record, IDispatch* item, int fingerprint, int knownRecurring) {
    if (!record || !item) return;
    CLogBlock block("CPushPull::LoadOneItem");
    const bool task = record->m_strType == "Task";
    bool recurring = knownRecurring == 1;
    if (!task && knownRecurring < 0) {
        Log("LoadOneItem: IsRecurring");
        bool flag = false;
        recurring = hvitem::TryBool(item, L"IsRecurring", flag) && flag;
    }
    LoadUserProps(item, *record, recurring);
    Hash(item, task ? OL_CLASS_TASK : OL_CLASS_APPOINTMENT, record, 1, fingerprint ? 1 : 0);
    Log("LoadOneItem: EntryID");
    std::string entryId;
    if (hvitem::TryText(item, L"EntryID", entryId)) record->m_strEntryID = entryId;
    record->m_nSource = SOURCE_OUTLOOK;
    Log("LoadOneItem: LastModificationTime");
    COleDate modified;
    if (hvitem::TryDate(item, L"LastModificationTime", modified)) {
        Log("LoadOneItem: VariantTimeToSystemTime");
        record->m_timeOutlookModified = TimeFromOutlookDate(modified);
    }
    if (!task) {
        Log("LoadOneItem: Busy Status");
        long busy = 0;
        if (hvitem::TryLong(item, L"BusyStatus", busy)) record->m_nBusyStatus = busy;
    }
}

// ---- Pushes to the service ---------------------------------------------------------------------

HRESULT CPushPull::PushTask(IDispatch* item, const CTarget& target, int post) {
    CLogBlock block("CPushPull::PushTask");
    HRESULT hr = S_OK;
    try {
        Log("PushTask: Fetching Subject...");
        std::string subject;
        hvitem::TryText(item, L"Subject", subject);
        HvLog().LogComment(subject);
        THROW_HR_IF(E_INVALIDARG, subject.empty());
        Log("PushTask: Fetching Importance...");
        // An importance that cannot be read is sent as normal.
        long importance = OL_IMPORTANCE_NORMAL;
        hvitem::TryLong(item, L"Importance", importance);
        Log("PushTask: Fetching StartDate...");
        const std::string start = TaskDateOf(item, L"StartDate");
        Log("PushTask: Fetching DueDate...");
        const std::string due = TaskDateOf(item, L"DueDate");
        Log("PushTask: Fetching Complete...");
        bool complete = false;
        hvitem::TryBool(item, L"Complete", complete);

        Log("PushTask: Creating OpPushTask...");
        auto op = NewOp<OpPushTask>();
        op->m_strTitle = subject;
        op->m_nPriority = importance + 1;
        if (!due.empty()) op->m_strDueDate = due;
        if (!start.empty()) op->m_strStartDate = start;
        CTarget t = target;
        if (!t.m_strID.empty()) {
            if (t.m_strCatID.empty()) {
                Log("PushTask: Forcing CategoryID to 0");
                t.m_strCatID = "0";
            }
            if (t.m_strSpaceID.empty()) {
                Log("PushTask: Forcing SpaceID to 0");
                t.m_strSpaceID = "0";
            }
        }
        op->m_target = t;
        op->m_fCompleted = complete ? 1 : 0;
        op->m_fSendEmail = m_fNotify ? 1 : 0;
        op->m_fAddToActivityLog = m_fActivityLog ? 1 : 0;
        CopySelectedMembers(m_members, op->m_assignees);
        Log("PushTask: Fetching Body...");
        hvitem::TryText(item, L"Body", op->m_strDescription);
        if (post) Log("PushTask: Pumping Op...");
        SetOperation(std::move(op), post);
    } catch (...) {
        hr = hv::ResultFromCaughtException();
    }
    m_strAssignedIds.clear();
    m_strOrganizer.clear();
    m_strInternalUse.clear();
    return hr;
}

HRESULT CPushPull::PushAppt(IDispatch* item, const CTarget& target, int post, int laterOccurrence) {
    CLogBlock block("CPushPull::PushAppt");
    HRESULT hr = S_OK;
    try {
        std::string subject, location;
        hvitem::TryText(item, L"Subject", subject);
        THROW_HR_IF(E_INVALIDARG, subject.empty());
        hvitem::TryText(item, L"Location", location);
        COleDate start, end;
        hvitem::TryDate(item, L"Start", start);
        hvitem::TryDate(item, L"End", end);

        auto op = NewOp<OpPushEvent>();
        op->m_strTitle = subject;
        op->m_strLocation = location;
        op->m_start = start;
        op->m_end = end;
        CTarget t = target;
        if (t.m_strSpaceID.empty()) t.m_strSpaceID = "0";
        op->m_target = t;
        op->m_fAddToActivityLog = !t.m_strID.empty() ? 1 : (m_fActivityLog ? 1 : 0);
        op->m_fSendEmail = m_fNotify ? 1 : 0;
        op->m_strOrganizer = m_strOrganizer;
        op->m_strInternalUse = m_strInternalUse;
        op->m_fLaterOccurrence = laterOccurrence ? 1 : 0;
        CopySelectedMembers(m_members, op->m_assignees);
        hvitem::TryText(item, L"Body", op->m_strDescription);
        if (post) Log("PushAppt: Pumping Op...");
        SetOperation(std::move(op), post);
    } catch (...) {
        hr = hv::ResultFromCaughtException();
    }
    m_strAssignedIds.clear();
    m_strOrganizer.clear();
    m_strInternalUse.clear();
    return hr;
}

HRESULT CPushPull::PushItem(IDispatch* item, long olClass, const CTarget& target) {
    CLogBlock block("CPushPull::PushItem");
    if (olClass == OL_CLASS_APPOINTMENT) {
        Log("PushItem: PushAppt...");
        PushAppt(item, target, 1, 0);
    } else if (olClass == OL_CLASS_TASK) {
        Log("PushItem: PushTask...");
        PushTask(item, target, 1);
    }
    return S_OK;
}

HRESULT CPushPull::PullTask(const std::string& id, int post) {
    CLogBlock block("CPushPull::PullTask");
    if (post) Log("PullTask: PumpIt");
    return StartRecordOp(&OpGetTask::m_strTaskID, id, post);
}

HRESULT CPushPull::PullEvent(const std::string& id, int post) {
    return StartRecordOp(&OpGetEvent::m_strEventID, id, post);
}

HRESULT CPushPull::DeleteTask(const std::string& id, int post) {
    return StartRecordOp(&OpDeleteTask::m_strTaskID, id, post);
}

HRESULT CPushPull::DeleteEvent(const std::string& id, int post) {
    return StartRecordOp(&OpDeleteEvent::m_strEventID, id, post);
}

// ---- Writing Outlook items ---------------------------------------------------------------------

HRESULT CPushPull::OpenDefaultFolder(long folder, long* count) {
    try {
        THROW_HR_IF(E_POINTER, !m_pNameSpace);
        hv::unique_variant arg = hv::unique_variant::FromLong(folder);
        hv::com_ptr<IDispatch> f = hvitem::CallObject(m_pNameSpace.get(), L"GetDefaultFolder", 1, &arg);
        hv::com_ptr<IDispatch> items = hvitem::Object(f.get(), L"Items");
        long n = 0;
        hv::unique_variant c;
        THROW_IF_FAILED(GetProperty(items.get(), L"Count", c.put()));
        n = c.AsLong();
        m_pFolder = f;
        m_pItems = items;
        m_nItemCount = n;
        if (count) *count = n;
        return S_OK;
    }
    CATCH_RETURN();
}

HRESULT CPushPull::GetItemFromID(const std::string& entryId, hv::com_ptr<IDispatch>& item) {
    try {
        THROW_HR_IF(E_POINTER, !m_pNameSpace);
        THROW_HR_IF(E_INVALIDARG, entryId.empty());
        hv::unique_variant arg = hv::unique_variant::FromString(entryId);
        item = hvitem::CallObject(m_pNameSpace.get(), L"GetItemFromID", 1, &arg);
        return S_OK;
    }
    CATCH_RETURN();
}

HRESULT CPushPull::DeleteItem(const std::string& entryId) {
    if (entryId.empty()) return E_FAIL;
    try {
        hv::com_ptr<IDispatch> item;
        THROW_IF_FAILED(GetItemFromID(entryId, item));
        return CallMethod(item.get(), L"Delete", nullptr, 0, nullptr);
    }
    CATCH_RETURN();
}

HRESULT CPushPull::DeleteOccurrence(CSyncItem* record) {
    if (!record || !record->m_pOccurrence) return E_INVALIDARG;
    try {
        hv::com_ptr<IDispatch> occurrence;
        if (!ReconstituteAppt(record, occurrence, 0, 1) || !occurrence) return E_FAIL;
        return CallMethod(occurrence.get(), L"Delete", nullptr, 0, nullptr);
    }
    CATCH_RETURN();
}

void CPushPull::SuppressPastReminder(IDispatch* item, HvTime when) {
    if (!item || !IsBeforeNow(when)) return;
    hv::unique_variant on = hv::unique_variant::FromBool(true), off = hv::unique_variant::FromBool(false);
    LOG_IF_FAILED(PutProperty(item, L"ReminderOverrideDefault", &on));
    LOG_IF_FAILED(PutProperty(item, L"ReminderSet", &off));
}

HRESULT CPushPull::AbsorbTask(const std::string& entryId, CSyncItem* record) {
    CLogBlock block("CPushPull::AbsorbTask");
    if (!record) return E_INVALIDARG;
    try {
        hv::com_ptr<IDispatch> item;
        if (entryId.empty()) {
            THROW_IF_FAILED(OpenDefaultFolder(OL_FOLDER_TASKS));
            hv::unique_variant kind = hv::unique_variant::FromLong(OL_NEW_TASK);
            item = hvitem::CallObject(m_pItems.get(), L"Add", 1, &kind);
        } else {
            THROW_IF_FAILED(GetItemFromID(entryId, item));
        }
        m_pCurrentItem = item;
        hvitem::Put(item.get(), L"Subject", hv::unique_variant::FromString(record->title));
        // A description or date cleared on the service is cleared in an existing item too;
        // otherwise the item keeps the old value and a later run pushes it back.
        const bool existing = !entryId.empty();
        if (!record->description_plain_text.empty() || existing)
            hvitem::Put(item.get(), L"Body", hv::unique_variant::FromString(record->description_plain_text));
        COleDate date;
        HvTime when = 0;
        if (!record->start_date.empty() && TaskDateToOutlook(record->start_date, date, when))
            hvitem::Put(item.get(), L"StartDate", hv::unique_variant::FromDate(date.m_dt));
        else if (record->start_date.empty() && existing)
            hvitem::Put(item.get(), L"StartDate", hv::unique_variant::FromDate(kOutlookNoDate));
        if (!record->due_date.empty() && TaskDateToOutlook(record->due_date, date, when)) {
            hvitem::Put(item.get(), L"DueDate", hv::unique_variant::FromDate(date.m_dt));
            SuppressPastReminder(item.get(), when);
        } else if (record->due_date.empty() && existing) {
            // Clearing an Outlook task's due date clears its start date too: a task with a start
            // date only takes its start as its due date, the form Outlook gives it, or the start
            // would be lost here and pushed back as cleared.
            COleDate start;
            HvTime startWhen = 0;
            const bool started = !record->start_date.empty() && TaskDateToOutlook(record->start_date, start, startWhen);
            hvitem::Put(item.get(), L"DueDate", hv::unique_variant::FromDate(started ? start.m_dt : kOutlookNoDate));
        }
        long importance = OL_IMPORTANCE_NORMAL;
        if (record->priority == m_strPriority[0])
            importance = OL_IMPORTANCE_LOW;
        else if (record->priority == m_strPriority[1])
            importance = OL_IMPORTANCE_NORMAL;
        else if (record->priority == m_strPriority[2])
            importance = OL_IMPORTANCE_HIGH;
        hvitem::Put(item.get(), L"Importance", hv::unique_variant::FromLong(importance));
        hvitem::Put(item.get(), L"Complete", hv::unique_variant::FromBool(record->completed == "true"));
        THROW_IF_FAILED(SetLinkProps(item.get(), OL_CLASS_TASK, record, record->m_target, &record->last_modified,
                                     &record->assigned_to, &record->assigned_to_userids, nullptr, nullptr, this));
        return CallMethod(item.get(), L"Save", nullptr, 0, nullptr);
    }
    CATCH_RETURN();
}

HRESULT CPushPull::AbsorbAppt(const std::string& entryId, CSyncItem* record) {
    CLogBlock block("CPushPull::AbsorbAppt");
    if (!record) return E_INVALIDARG;
    // Outlook refuses to save an occurrence through a copy of its series taken before the series
    // was saved elsewhere ("the message has been changed"): every reference is let go, the
    // occurrence is opened afresh and written once more.
    const int attempts = !entryId.empty() && record->m_pOccurrence ? 2 : 1;
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) HvLog().LogComment("AbsorbAppt: the occurrence is opened again");
        m_pCurrentItem.reset();
        hr = AbsorbApptOnce(entryId, record);
        if (SUCCEEDED(hr)) break;
    }
    return hr;
}

HRESULT CPushPull::AbsorbApptOnce(const std::string& entryId, CSyncItem* record) {
    try {
        hv::com_ptr<IDispatch> item;
        if (entryId.empty()) {
            THROW_IF_FAILED(OpenDefaultFolder(OL_FOLDER_CALENDAR));
            hv::unique_variant kind = hv::unique_variant::FromLong(OL_NEW_APPOINTMENT);
            item = hvitem::CallObject(m_pItems.get(), L"Add", 1, &kind);
        } else {
            THROW_IF_FAILED(GetItemFromID(entryId, item));
            if (record->m_pOccurrence) {
                THROW_IF_FAILED(OpenOccurrence(item.get(), record));
                item = m_pCurrentItem;
            }
        }
        m_pCurrentItem = item;
        hvitem::Put(item.get(), L"Subject", hv::unique_variant::FromString(record->title));
        hvitem::Put(item.get(), L"Location", hv::unique_variant::FromString(record->location));
        // The service puts a paragraph of its own before the user's text.
        std::string body = record->description_plain_text;
        const size_t gap = body.find("\n\n");
        if (gap != std::string::npos) body.erase(0, gap + 2);
        hvitem::Put(item.get(), L"Body", hv::unique_variant::FromString(body));
        COleDate date;
        HvTime when = 0;
        if (!record->start_time.empty() && ServiceTimeToOutlook(record->start_time, date))
            hvitem::Put(item.get(), L"Start", hv::unique_variant::FromDate(date.m_dt));
        if (!record->end_time.empty() && ServiceTimeToOutlook(record->end_time, date, &when)) {
            hvitem::Put(item.get(), L"End", hv::unique_variant::FromDate(date.m_dt));
            SuppressPastReminder(item.get(), when);
        }
        THROW_IF_FAILED(SetLinkProps(item.get(), OL_CLASS_APPOINTMENT, record, record->m_target, &record->last_modified,
                                     &record->assigned_to, &record->assigned_to_userids, &record->organizer,
                                     &record->internal_use_only, this));
        return CallMethod(item.get(), L"Save", nullptr, 0, nullptr);
    }
    CATCH_RETURN();
}

// ---- Mail ----------------------------------------------------------------------------------------

HRESULT CPushPull::AddAttachment(IDispatch* item, const std::string& path, const std::string& displayName) {
    try {
        hv::com_ptr<IDispatch> attachments = hvitem::Object(item, L"Attachments");
        hv::unique_variant args[4];
        args[3] = hv::unique_variant::FromString(path);
        args[2] = hv::unique_variant::FromLong(OL_ATTACH_BY_VALUE);
        args[1] = hv::unique_variant::FromLong(1);
        args[0] = hv::unique_variant::FromString(displayName);
        return CallMethod(attachments.get(), L"Add", nullptr, 4, args);
    }
    CATCH_RETURN();
}

HRESULT CPushPull::AttachMetadata(IDispatch* mail, const std::string& comments) {
    std::string ids;
    for (const auto& m : m_members) {
        if (!m || !m->m_fChecked) continue;
        if (!ids.empty()) ids += ", ";
        ids += m->user_id;
    }
    if (ids.empty()) return S_FALSE;

    const std::string path = hv::TempFolder() + "\\hvmeta.xml";
    ::DeleteFileA(path.c_str());
    {
        hv::unique_hfile file(
            ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return E_FAIL;
        // The comments are the user's own text: escaped, so that they cannot break the document.
        bool ok = WriteAll(file.get(), hv::Format("<%s>\n", "hv")) &&
                  WriteAll(file.get(), hv::Format("<%s>\n", "notification")) && WriteAll(file.get(), ids) &&
                  WriteAll(file.get(), hv::Format("\n</%s>\n", "notification"));
        if (ok && !comments.empty())
            ok = WriteAll(file.get(), hv::Format("<%s>\n", "comments")) &&
                 WriteAll(file.get(), EscapeFiveSpecials(comments)) &&
                 WriteAll(file.get(), hv::Format("\n</%s>\n", "comments"));
        if (ok) ok = WriteAll(file.get(), hv::Format("</%s>\n", "hv"));
        if (!ok) {
            file.reset();
            ::DeleteFileA(path.c_str());
            return E_FAIL;
        }
    }
    const HRESULT hr = AddAttachment(mail, path, "hvmeta.xml");
    ::DeleteFileA(path.c_str());
    return hr;
}

HRESULT CPushPull::ForwardItem(IDispatch* item, long olClass, const std::string& address, const std::string& comments) {
    CLogBlock block("CPushPull::ForwardItem");
    try {
        const wchar_t* method = olClass == OL_CLASS_CONTACT       ? L"ForwardAsVcard"
                                : olClass == OL_CLASS_APPOINTMENT ? L"ForwardAsVcal"
                                                                  : L"Forward";
        hv::com_ptr<IDispatch> mail = hvitem::CallObject(item, method, 0, nullptr);
        LOG_IF_FAILED(AttachMetadata(mail.get(), comments));
        hv::com_ptr<IDispatch> recipients = hvitem::Object(mail.get(), L"Recipients");
        hv::unique_variant to = hv::unique_variant::FromString(address);
        THROW_IF_FAILED(CallMethod(recipients.get(), L"Add", nullptr, 1, &to));
        return CallMethod(mail.get(), L"Send", nullptr, 0, nullptr);
    }
    CATCH_RETURN();
}

void CPushPull::BuildMemberList() {
    m_members.clear();
    size_t pos = 0;
    while (pos <= m_strAssignedIds.size()) {
        size_t comma = m_strAssignedIds.find(',', pos);
        if (comma == std::string::npos) comma = m_strAssignedIds.size();
        std::string id = m_strAssignedIds.substr(pos, comma - pos);
        const size_t first = id.find_first_not_of(" \t");
        const size_t last = id.find_last_not_of(" \t");
        id = first == std::string::npos ? std::string() : id.substr(first, last - first + 1);
        if (!id.empty()) {
            auto member = std::make_unique<CMember>();
            member->user_id = id;
            member->m_fChecked = 1;
            m_members.push_back(std::move(member));
        }
        pos = comma + 1;
    }
}

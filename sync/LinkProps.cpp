#include "sync/LinkProps.h"
#include "sync/SynchRes.h"
#include "common/DiagLog.h"
#include "service/TimeLogic.h"
#include "sync/Hasher.h"
#include "sync/ItemAccess.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"
#include "win/Strings.h"

void LoadUserProps(IDispatch* item, CSyncItem& record, bool recurring) {
    try {
        if (recurring) {
            // An occurrence shares its user properties with the series: its own link is the blob.
            hv::unique_variant blob;
            if (SUCCEEDED(CDispatcher::GetProperty(item, L"BillingInformation", blob.put())) && !blob.IsEmpty())
                record.ReadLinkBlob(blob.AsString());
            return;
        }
        // The collection once for all eight properties; without it none can be read.
        hv::com_ptr<IDispatch> props = hvitem::UserProperties(item);
        if (!props) return;
        auto get = [&](const wchar_t* name, std::string& value) {
            return hvitem::GetUserPropertyOf(props.get(), name, value);
        };
        get(L"HV Record ID", record.m_target.m_strID);
        get(L"HV Hash", record.m_strHash);
        get(L"HV Category ID", record.m_target.m_strCatID);
        get(L"HV Workspace ID", record.m_target.m_strSpaceID);
        get(L"HV Assigned To IDs", record.assigned_to_userids);
        // Only events carry an organizer and the internal-use mark.
        if (record.m_strType != "Task") {
            get(L"HV Organizer", record.organizer);
            get(L"HV Internal Use", record.internal_use_only);
        }
        if (get(L"HV Last Modified", record.last_modified) == S_OK) {
            HvLog().LogComment("CPushPull::LoadUserProps: NormalizeTime");
            NormalizeTime(record.last_modified);
        }
    } catch (...) {
        // A link that cannot be read leaves the record as it was.
    }
}

HRESULT SetLinkProps(IDispatch* item, long olClass, CSyncItem* record, const CTarget& target,
                     const std::string* lastModified, const std::string* assignedTo, const std::string* assignedIds,
                     const std::string* organizer, const std::string* internalUse, CHasher* callerHasher,
                     const CSyncItem* content) {
    if (!item || (olClass != OL_CLASS_TASK && olClass != OL_CLASS_APPOINTMENT)) return E_INVALIDARG;
    try {
        CHasher local;
        CHasher& hasher = callerHasher ? *callerHasher : local;
        auto given = [&](CSyncItem& r) {
            if (assignedTo) r.assigned_to = *assignedTo;
            if (assignedIds) r.assigned_to_userids = *assignedIds;
            if (organizer) r.organizer = *organizer;
            if (internalUse) r.internal_use_only = *internalUse;
        };
        auto text = [](const std::string& s) { return hv::unique_variant::FromString(s); };
        // The collection once for all the properties written here.
        // An item without any user property yet (a new one) gets each of them added without
        // looking for it first.
        hv::unique_variant props;
        bool none = false;
        auto set = [&](const wchar_t* name, const VARIANT& value) -> HRESULT {
            if (!props.AsDispatch()) {
                RETURN_IF_FAILED(CDispatcher::GetProperty(item, L"UserProperties", props.put()));
                if (!props.AsDispatch()) return E_NOINTERFACE;
                long count = -1;
                none = hvitem::TryLong(props.AsDispatch(), L"Count", count) && count == 0;
            }
            if (none) return hvitem::AddUserPropertyTo(props.AsDispatch(), name, value);
            return hvitem::SetUserPropertyOf(props.AsDispatch(), name, value);
        };
        if (!record) {
            CSyncItem scratch;
            given(scratch);
            hasher.Hash(item, olClass, &scratch, 1, 1);
            RETURN_IF_FAILED(set(L"HV Hash", text(scratch.m_strHash)));
        } else if (record->m_pOccurrence) {
            CSyncItem linked(*record);
            linked.m_target = target;
            std::string blob = linked.BuildLinkBlob(lastModified, assignedTo, assignedIds, organizer, internalUse);
            // The occurrence keeps its own fingerprint with its link, taken the way a later
            // change check takes it (from what the blob says), so that a saved series can tell
            // which of its occurrences changed since.
            CSyncItem stored;
            stored.m_strType = "Event";
            if (stored.ReadLinkBlob(blob) == S_OK) {
                hasher.Hash(item, olClass, &stored, 1, 1);
                const size_t end = blob.rfind("</HV>");
                if (!stored.m_strHash.empty() && end != std::string::npos)
                    blob.insert(end, "<Hash>" + stored.m_strHash + "</Hash>");
            }
            auto value = text(blob);
            RETURN_IF_FAILED(CDispatcher::PutProperty(item, L"BillingInformation", &value));
            // Only the blob: an occurrence's user properties are the series', and a record id
            // there would pair every later lookup of this event with the whole series.
            return CDispatcher::CallMethod(item, L"Save", nullptr, 0, nullptr);
        } else {
            given(*record);
            // The fingerprint of what the item now holds, which is what a later run compares
            // with: an event takes only part of a service description, so a fingerprint of the
            // record would later make the item look changed and push the shortened text back.
            CSyncItem written(*record);
            written.m_pCounterpart = nullptr;
            if (content) {
                // What the item holds is what the caller has just read from it (and sent).
                written.title = content->title;
                written.priority = content->priority;
                written.completed = content->completed;
                written.start_date = content->start_date;
                written.due_date = content->due_date;
                written.location = content->location;
                written.start_time = content->start_time;
                written.end_time = content->end_time;
                written.description_plain_text = content->description_plain_text;
            } else {
                hasher.Hash(item, olClass, &written, 1, 0);
            }
            // The link fields are the ones this call writes, not what the item held before.
            written.assigned_to_userids = record->assigned_to_userids;
            written.organizer = record->organizer;
            written.internal_use_only = record->internal_use_only;
            hasher.Hash(nullptr, olClass, &written, 0, 1);
            record->m_strHash = written.m_strHash;
            RETURN_IF_FAILED(set(L"HV Hash", text(record->m_strHash)));
        }

        RETURN_IF_FAILED(set(L"HV", hv::unique_variant::FromBool(true)));
        if (!target.m_strID.empty()) RETURN_IF_FAILED(set(L"HV Record ID", text(target.m_strID)));
        if (lastModified) {
            std::string normalized = *lastModified;
            NormalizeTime(normalized);
            RETURN_IF_FAILED(set(L"HV Last Modified", text(normalized)));
        }
        if (assignedTo) RETURN_IF_FAILED(set(L"HV Assigned To", text(*assignedTo)));
        if (assignedIds) RETURN_IF_FAILED(set(L"HV Assigned To IDs", text(*assignedIds)));
        if (organizer && !organizer->empty()) RETURN_IF_FAILED(set(L"HV Organizer", text(*organizer)));
        if (internalUse && !internalUse->empty()) RETURN_IF_FAILED(set(L"HV Internal Use", text(*internalUse)));
        if (!target.m_strCatID.empty()) RETURN_IF_FAILED(set(L"HV Category ID", text(target.m_strCatID)));
        std::string folder = target.m_strFolder;
        if (folder.empty()) folder = hv::LoadResString(olClass == OL_CLASS_TASK ? IDS_MY_TASKS : IDS_MY_EVENTS);
        RETURN_IF_FAILED(set(L"HV Folder", text(folder)));
        if (!target.m_strWorkspace.empty()) RETURN_IF_FAILED(set(L"HV Workspace", text(target.m_strWorkspace)));
        if (!target.m_strSpaceID.empty()) RETURN_IF_FAILED(set(L"HV Workspace ID", text(target.m_strSpaceID)));

        return CDispatcher::CallMethod(item, L"Save", nullptr, 0, nullptr);
    }
    CATCH_RETURN();
}

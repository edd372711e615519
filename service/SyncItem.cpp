#include "service/SyncItem.h"
#include "service/ServiceRes.h"
#include "common/DiagLog.h"
#include "service/TimeLogic.h"
#include "win/Strings.h"

CSyncItem::CSyncItem() : m_strActionText(ActionText(ACTION_COMPUTING)) {}

CSyncItem::CSyncItem(const CSyncItem& other) : CXMLElem() {
    *this = other;
}

CSyncItem& CSyncItem::operator=(const CSyncItem& other) {
    if (this == &other) return *this;
    m_nAction = other.m_nAction;
    m_nListIndex = other.m_nListIndex;
    m_strEntryID = other.m_strEntryID;
    m_target = other.m_target;
    title = other.title;
    location = other.location;
    description_plain_text = other.description_plain_text;
    completed = other.completed;
    priority = other.priority;
    due_date = other.due_date;
    assigned_to = other.assigned_to;
    assigned_to_userids = other.assigned_to_userids;
    internal_use_only = other.internal_use_only;
    created = other.created;
    created_by = other.created_by;
    created_by_name = other.created_by_name;
    last_modified = other.last_modified;
    m_timeOutlookModified = other.m_timeOutlookModified;
    m_strType = other.m_strType;
    m_strActionText = other.m_strActionText;
    organizer = other.organizer;
    start_date = other.start_date;
    end_time = other.end_time;
    m_strHash = other.m_strHash;
    m_fDeleted = other.m_fDeleted;
    deleted = other.deleted;
    m_pOccurrence = other.m_pOccurrence;
    m_fLaterOccurrence = other.m_fLaterOccurrence;
    m_nBusyStatus = other.m_nBusyStatus;
    m_nSource = other.m_nSource;
    m_pCounterpart = other.m_pCounterpart;
    return *this;
}

std::string CSyncItem::ActionText(long action) {
    switch (action) {
        case ACTION_UPDATE_SERVICE:
            return hv::LoadResString(IDS_ACTION_UPDATE_HV);
        case ACTION_UPDATE_OUTLOOK:
            return hv::LoadResString(IDS_ACTION_UPDATE_OUTLOOK);
        case ACTION_NONE:
            return hv::LoadResString(IDS_ACTION_NONE);
        case ACTION_DONE:
            return std::string();
        case ACTION_FAILED:
            return hv::LoadResString(IDS_ACTION_FAILED);
        case ACTION_DELETE_OUTLOOK:
            return hv::LoadResString(IDS_ACTION_DELETE_OUTLOOK);
        case ACTION_DELETE_SERVICE:
            return hv::LoadResString(IDS_ACTION_DELETE_SERVICE);
        default:
            return hv::LoadResString(IDS_ACTION_COMPUTING);
    }
}

void CSyncItem::SetAction(long action) {
    if (action < ACTION_UPDATE_SERVICE || action > ACTION_DELETE_SERVICE) action = ACTION_COMPUTING;
    m_nAction = action;
    m_strActionText = ActionText(action);
    if (m_pCounterpart && m_pCounterpart != this) {
        m_pCounterpart->m_nAction = m_nAction;
        m_pCounterpart->m_strActionText = m_strActionText;
    }
}

void CSyncItem::AbsorbAnswer(const CSyncItem& answer) {
    m_target = answer.m_target;
    title = answer.title;
    location = answer.location;
    description_plain_text = answer.description_plain_text;
    completed = answer.completed;
    priority = answer.priority;
    due_date = answer.due_date;
    assigned_to = answer.assigned_to;
    assigned_to_userids = answer.assigned_to_userids;
    internal_use_only = answer.internal_use_only;
    created = answer.created;
    created_by = answer.created_by;
    created_by_name = answer.created_by_name;
    last_modified = answer.last_modified;
    organizer = answer.organizer;
    start_date = answer.start_date;
    end_time = answer.end_time;
    m_fDeleted = answer.m_fDeleted;
    deleted = answer.deleted;
}

std::string CSyncItem::BuildLinkBlob(const std::string* lastModified, const std::string* assignedTo,
                                     const std::string* assignedIds, const std::string* organizerText,
                                     const std::string* internalUse) const {
    // A folder or workspace called "R&D" must not break the text: every value is escaped,
    // which the document reader undoes.
    auto element = [](const char* name, const std::string& value) {
        return hv::Format("<%s>%s</%s>", name, EscapeFiveSpecials(value).c_str(), name);
    };
    std::string blob = "<HV>";
    blob += element("ID", m_target.m_strID);
    blob += element("CatID", m_target.m_strCatID);
    blob += element("SpaceID", m_target.m_strSpaceID);
    blob += element("Folder", m_target.m_strFolder);
    blob += element("Workspace", m_target.m_strWorkspace);
    if (lastModified) blob += element("LastMod", *lastModified);
    if (assignedTo) blob += element("AssignedTo", *assignedTo);
    if (assignedIds) blob += element("AssignedIDs", *assignedIds);
    if (organizerText) blob += element("Organizer", *organizerText);
    if (internalUse) blob += element("InternalUse", *internalUse);
    blob += "</HV>";
    return blob;
}

HRESULT CSyncItem::ReadLinkBlob(const std::string& blob) {
    try {
        if (blob.empty()) return E_INVALIDARG;
        CXMLDoc doc;
        HRESULT hr = doc.LoadString(blob);
        if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
        hr = doc.GotoNode("/HV");
        if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
        doc.GetSingleNodeValue("ID", m_target.m_strID);
        doc.GetSingleNodeValue("Hash", m_strHash);
        doc.GetSingleNodeValue("CatID", m_target.m_strCatID);
        doc.GetSingleNodeValue("SpaceID", m_target.m_strSpaceID);
        doc.GetSingleNodeValue("Folder", m_target.m_strFolder);
        doc.GetSingleNodeValue("Workspace", m_target.m_strWorkspace);
        doc.GetSingleNodeValue("AssignedTo", assigned_to);
        doc.GetSingleNodeValue("AssignedIDs", assigned_to_userids);
        doc.GetSingleNodeValue("Organizer", organizer);
        doc.GetSingleNodeValue("InternalUse", internal_use_only);
        if (doc.GetSingleNodeValue("LastMod", last_modified) == S_OK) {
            HvLog().LogComment("CPushPull::LoadUserProps: NormalizeTime");
            NormalizeTime(last_modified);
        }
        return S_OK;
    }
    CATCH_RETURN();
}

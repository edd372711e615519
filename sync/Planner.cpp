// The planner of the synchronisation dialog: pairs the downloaded service records with the
// Outlook items that carry their ids, adds rows for Outlook items without a partner, and gives
// every row exactly one action.
#include <cstdio>
#include <map>
#include "common/Config.h"
#include "common/DiagLog.h"
#include "sync/DlgSynch.h"
#include "sync/FilterDate.h"
#include "sync/ItemAccess.h"
#include "win/ComTypes.h"
#include "win/Strings.h"

namespace {


bool IsRecurringItem(IDispatch* item) {
    bool recurring = false;
    return hvitem::TryBool(item, L"IsRecurring", recurring) && recurring;
}

// A wire time as a time value (the instant it names).
bool WireTimeValue(const std::string& text, HvTime& t) {
    FILETIME ft;
    if (text.empty() || !ParseWireTime(text, 0, ft)) return false;
    t = TimeFromFileTime(ft);
    return true;
}

// The text Outlook shows of an event description: what follows the first empty line.
std::string ShownEventBody(const std::string& description) {
    const size_t at = description.find("\n\n");
    return at == std::string::npos ? description : description.substr(at + 2);
}

}  // namespace

bool CDlgSynch::LastSyncInUse(const char* type, std::string& text) {
    text.clear();
    if (!m_fIncremental) return false;
    CConfig config;
    return config.GetLastSync(type, text) == S_OK && !text.empty();
}

bool CDlgSynch::LastSyncTime(const char* type, HvTime& t) {
    std::string text;
    return LastSyncInUse(type, text) && WireTimeValue(text, t);
}

HRESULT CDlgSynch::CorrelateAndLoad() {
    CLogBlock block("CDlgSynch::CorrelateAndLoad");
    HRESULT result = S_OK;
    for (const bool events : {true, false}) {
        if (!(m_nSyncKinds & (events ? SYNC_EVENTS : SYNC_TASKS))) continue;
        const char* type = events ? CConfig::TYPE_EVENT : CConfig::TYPE_TASK;
        try {
            // 1. The folder.
            long folderCount = 0;
            HRESULT hr = OpenDefaultFolder(events ? OL_FOLDER_CALENDAR : OL_FOLDER_TASKS, &folderCount);
            result = hr;
            if (FAILED(hr)) continue;
            hv::com_ptr<IDispatch> folderItems = m_pItems;

            // 2. and 3. The collection: the selection, the items changed since the last run, or all.
            const bool selection = m_pSelection && m_nSelCount > 0;
            hv::com_ptr<IDispatch> collection = selection ? m_pSelection : folderItems;
            long count = selection ? m_nSelCount : folderCount;
            std::string mark;
            const bool markInUse = LastSyncInUse(type, mark);
            if (!selection && markInUse) {
                FILETIME local;
                SYSTEMTIME st;
                if (ParseWireTime(mark, 2, local) && ::FileTimeToSystemTime(&local, &st)) {
                    const std::string filter = "[LastModificationTime] > '" + FormatFilterDate(st) + "'";
                    HvLog().LogComment("CorrelateAndLoad: Calling Restrict");
                    if (hv::com_ptr<IDispatch> restricted = hvitem::TryFilter(folderItems.get(), L"Restrict", filter)) {
                        collection = restricted;
                        count = hvitem::Count(restricted.get());
                    }
                }
            }
            HvTime markTime = 0;
            const bool markParses = markInUse && WireTimeValue(mark, markTime);

            // 4. Events: every recurring appointment becomes occurrence records.
            if (events) {
                if (hv::com_ptr<IDispatch> series = hvitem::TryFilter(folderItems.get(), L"Restrict", "[IsRecurring] = True")) {
                    const long seriesCount = hvitem::Count(series.get());
                    for (long i = 1; i <= seriesCount; ++i) {
                        HvLog().LogComment("CorrelateAndLoad: CallMethod Item");
                        hv::com_ptr<IDispatch> appt = hvitem::TryItemAt(series.get(), i);
                        if (!appt) continue;
                        CSyncItem record;
                        record.m_strType = "Event";
                        LoadOneItem(&record, appt.get(), 0);
                        if (m_context.pSyncItem && m_context.pSyncItem->m_strEntryID == record.m_strEntryID) {
                            record.m_target = m_context.pSyncItem->m_target;
                            record.assigned_to_userids = m_context.pSyncItem->assigned_to_userids;
                        }
                        PopAppt(&record, appt.get(), nullptr);
                    }
                }
            }

            // Links an earlier run could not save: EntryID -> record id, and back.
            std::map<std::string, std::string> pending = CConfig().GetPendingLinks(type);
            std::map<std::string, std::string> pendingByRecord;
            for (const auto& link : pending) pendingByRecord[link.second] = link.first;

            // 5. Pair the downloaded records with the items that carry their ids.
            const std::vector<CSyncItem*> downloaded = m_rows;
            for (CSyncItem* service : downloaded) {
                if (service->m_strType != type || service->m_nSource == SOURCE_OUTLOOK || service->m_pCounterpart)
                    continue;
                hv::com_ptr<IDispatch> item;
                if (!service->m_target.m_strID.empty()) {
                    const std::string filter = hv::Format("[HV Record ID] = '%s'", service->m_target.m_strID.c_str());
                    HvLog().LogComment("CorrelateAndLoad: Calling Find");
                    item = hvitem::TryFilter(collection.get(), L"Find", filter);
                    if (!item && collection.get() != folderItems.get())
                        item = hvitem::TryFilter(folderItems.get(), L"Find", filter);
                    if (!item) item = CompletePendingLink(service, pendingByRecord, events);
                }
                if (item) {
                    CSyncItem* outlook = Own(new CSyncItem());
                    outlook->m_strType = type;
                    LoadOneItem(outlook, item.get(), 0);
                    outlook->m_pCounterpart = service;
                    service->m_pCounterpart = outlook;
                    service->m_strEntryID = outlook->m_strEntryID;
                    m_entryIds[outlook->m_strEntryID] = service;
                    continue;
                }
                if (!events) continue;
                for (auto it = m_occurrences.begin(); it != m_occurrences.end(); ++it) {
                    CSyncItem* occurrence = *it;
                    if (occurrence->m_target.m_strID.empty() || occurrence->m_target.m_strID != service->m_target.m_strID)
                        continue;
                    m_occurrences.erase(it);
                    Own(occurrence);
                    occurrence->m_pCounterpart = service;
                    service->m_pCounterpart = occurrence;
                    service->m_strEntryID = occurrence->m_strEntryID;
                    m_entryIds[occurrence->m_strEntryID] = service;
                    if (occurrence->m_pOccurrence) {
                        service->m_pOccurrence = CopyVector(*occurrence->m_pOccurrence);
                        service->m_fLaterOccurrence = occurrence->m_fLaterOccurrence;
                    }
                    break;
                }
            }

            // 6. The Outlook items without a partner.
            for (long i = 1; i <= count; ++i) {
                HvLog().LogComment("CorrelateAndLoad: CallMethod Item");
                hv::com_ptr<IDispatch> item = hvitem::TryItemAt(collection.get(), i);
                if (!item) continue;
                if (events && IsRecurringItem(item.get())) continue;
                auto record = std::make_unique<CSyncItem>();
                record->m_strType = type;
                record->m_nSource = SOURCE_OUTLOOK;
                LoadOneItem(record.get(), item.get(), 0);
                if (record->m_target.m_strID.empty()) {
                    // Pushed by an earlier run whose link did not save: update that record
                    // rather than create a second one.
                    const auto link = pending.find(record->m_strEntryID);
                    if (link != pending.end()) {
                        HvLog().LogCommentFmt("CorrelateAndLoad: pending link to %s", link->second);
                        record->m_target.m_strID = link->second;
                    }
                }
                // The previous run's own writes carry its mark as their modification time.
                if (!selection && markParses && IsSameInstant(markTime, record->m_timeOutlookModified)) continue;
                if (m_entryIds.count(record->m_strEntryID)) continue;
                AddRow(Own(record.release()));
            }

            // 7. Occurrences without a partner.
            if (events) {
                while (!m_occurrences.empty()) {
                    std::unique_ptr<CSyncItem> occurrence(m_occurrences.front());
                    m_occurrences.pop_front();
                    if (m_entryIds.count(occurrence->m_strEntryID)) continue;
                    bool keep = !markInUse;
                    if (markParses && occurrence->m_timeOutlookModified - markTime >= 10) keep = true;
                    if (keep) AddRow(Own(occurrence.release()));
                }
            }
        } catch (...) {
            result = hv::ResultFromCaughtException();
            HvLog().LogError("CorrelateAndLoad: failed");
        }
    }
    return result;
}

hv::com_ptr<IDispatch> CDlgSynch::CompletePendingLink(CSyncItem* service,
                                                     std::map<std::string, std::string>& pendingByRecord,
                                                     bool events) {
    const auto link = pendingByRecord.find(service->m_target.m_strID);
    if (link == pendingByRecord.end()) return nullptr;
    const std::string entryId = link->second;
    pendingByRecord.erase(link);
    const char* type = events ? CConfig::TYPE_EVENT : CConfig::TYPE_TASK;
    hv::com_ptr<IDispatch> item;
    if (FAILED(GetItemFromID(entryId, item)) || !item) {
        // The item is gone from Outlook: nothing is left to link.
        CConfig().ClearPendingLink(type, entryId);
        return nullptr;
    }
    HvLog().LogCommentFmt("CorrelateAndLoad: completing the pending link of %s", service->m_target.m_strID);
    const HRESULT hr =
        events ? SetLinkProps(item.get(), OL_CLASS_APPOINTMENT, nullptr, service->m_target, &service->last_modified,
                              &service->assigned_to, &service->assigned_to_userids, &service->organizer,
                              &service->internal_use_only)
               : SetLinkProps(item.get(), OL_CLASS_TASK, nullptr, service->m_target, &service->last_modified,
                              &service->assigned_to, &service->assigned_to_userids, nullptr, nullptr);
    if (SUCCEEDED(hr))
        CConfig().ClearPendingLink(type, entryId);
    else
        HvLog().LogError("CorrelateAndLoad: the pending link could not be saved again; it stays pending");
    // Paired either way: the two are one item, whether or not its link could be written yet.
    return item;
}

bool CDlgSynch::IsStale(CSyncItem* record) {
    const char* type = nullptr;
    const std::string* date = nullptr;
    long* cache = nullptr;
    if (record->m_strType == "Event") {
        type = CConfig::TYPE_EVENT;
        date = &record->end_time;
        cache = &m_nStaleEvent;
    } else if (record->m_strType == "Task") {
        if (record->completed == "false") return false;
        type = CConfig::TYPE_TASK;
        date = &record->due_date;
        cache = &m_nStaleTask;
    } else {
        return false;
    }
    if (*cache < 0) {
        CConfig config;
        *cache = static_cast<long>(config.GetStaleAfter(type));
    }
    return *cache >= 1 && !date->empty() && IsWireTimeOlderThan(*date, *cache);
}

bool CDlgSynch::IsHashUnchanged(CSyncItem* record) {
    try {
        CSyncItem scratch(*record);
        scratch.m_pCounterpart = nullptr;
        Hash(nullptr, record->m_strType == "Event" ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK, &scratch, 0, 1);
        return !scratch.m_strHash.empty() && scratch.m_strHash == record->m_strHash;
    } catch (...) {
        return false;
    }
}

bool CDlgSynch::EquivalentCounterpart(CSyncItem* record) {
    CSyncItem* other = record->m_pCounterpart;
    if (!other) return false;
    const long olClass = record->m_strType == "Event" ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK;
    Hash(nullptr, olClass, other, 0, 1);
    Hash(nullptr, olClass, record, 0, 1);
    if (olClass == OL_CLASS_TASK && record->m_strHash != other->m_strHash && record->due_date.empty() &&
        !record->start_date.empty()) {
        // Outlook gives a task with a start date and no due date a due date on its start date:
        // that is the same task, not a change to send back.
        CSyncItem dated(*record);
        dated.m_pCounterpart = nullptr;
        dated.due_date = record->start_date;
        Hash(nullptr, olClass, &dated, 0, 1);
        if (dated.m_strHash == other->m_strHash) record->m_strHash = dated.m_strHash;
    }
    if (olClass != OL_CLASS_APPOINTMENT || record->m_strHash == other->m_strHash)
        return record->m_strHash == other->m_strHash;
    // Outlook shows an event's description from its first empty line on (that is what an
    // update writes), while a push sends the whole body: Outlook holding either the whole
    // service text or its shown part is the same event. Otherwise an event with a heading
    // paragraph would push its heading away, and one whose body has an empty line would be
    // pushed again on every run.
    CSyncItem shown(*record);
    shown.m_pCounterpart = nullptr;
    shown.description_plain_text = ShownEventBody(record->description_plain_text);
    Hash(nullptr, olClass, &shown, 0, 1);
    record->m_strHash = shown.m_strHash;
    return record->m_strHash == other->m_strHash;
}

void CDlgSynch::ComputeActions() {
    CLogBlock block("CDlgSynch::ComputeActions");
    CConfig config;
    long purge[2] = {-1, -1};  // Task, Event
    long deleteOutlook = -1;
    try {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            CSyncItem* record = m_rows[i];
            if (record->m_nAction == ACTION_FAILED) continue;  // could not be read: nothing to do
            const bool isEvent = record->m_strType == "Event";
            const char* type = isEvent ? CConfig::TYPE_EVENT : CConfig::TYPE_TASK;
            long& purgeKind = purge[isEvent ? 1 : 0];
            if (purgeKind < 0) purgeKind = static_cast<long>(config.GetPurgeHV(type));
            HvTime markTime = 0;

            if (purgeKind == 1) {
                record->SetAction(ACTION_DELETE_SERVICE);
            } else if (IsStale(record)) {
                HvLog().LogComment("ComputeActions: Stale Item");
                record->SetAction(ACTION_NONE);
            } else if (isEvent && record->m_nBusyStatus == 1) {
                HvLog().LogComment("ComputeActions: Appt is tentative");
                record->SetAction(ACTION_NONE);
            } else if (record->m_nSource == SOURCE_OUTLOOK) {
                if (IsHashUnchanged(record)) {
                    HvLog().LogComment("ComputeActions: Has is unchanged");
                    record->SetAction(ACTION_NONE);
                } else if (LastSyncTime(type, markTime) && IsSameInstant(markTime, record->m_timeOutlookModified)) {
                    HvLog().LogComment("ComputeActions: Equivalent timestamp - no action");
                    record->SetAction(ACTION_NONE);
                } else {
                    HvLog().LogComment("ComputeActions: m_nSource is SOURCE_OUTLOOK");
                    record->SetAction(ACTION_UPDATE_SERVICE);
                }
            } else if (record->m_fDeleted) {
                if (deleteOutlook < 0) deleteOutlook = static_cast<long>(config.GetDeleteOutlookItems());
                if (!record->m_pCounterpart || deleteOutlook == 0) {
                    HvLog().LogComment("ComputeActions: Skipping Deleted Item");
                    record->SetAction(ACTION_NONE);
                } else {
                    HvLog().LogComment("ComputeActions: Setting Action to Delete");
                    record->SetAction(ACTION_DELETE_OUTLOOK);
                }
            } else if (!record->m_pCounterpart) {
                record->SetAction(ACTION_UPDATE_OUTLOOK);
            } else if (EquivalentCounterpart(record)) {
                HvLog().LogComment("ComputeActions: EquivalentCounterpart");
                record->SetAction(ACTION_NONE);
            } else {
                CSyncItem* other = record->m_pCounterpart;
                HvLog().LogComment("ComputeActions: Comparing HV Times");
                NormalizeTime(record->last_modified);
                NormalizeTime(other->last_modified);
                HvTime serviceTime = 0;
                if (record->last_modified == other->last_modified) {
                    HvLog().LogComment("ComputeActions: HV Times Match");
                    record->SetAction(ACTION_UPDATE_SERVICE);
                } else if (LastSyncTime(type, markTime) && IsSameInstant(markTime, other->m_timeOutlookModified)) {
                    HvLog().LogComment("ComputeActions: Outlook timestamp matches last sync");
                    record->SetAction(ACTION_UPDATE_OUTLOOK);
                } else if (!WireTimeValue(record->last_modified, serviceTime)) {
                    HvLog().LogComment("ComputeActions: HV last modified conversion failed");
                    record->SetAction(ACTION_UPDATE_SERVICE);
                } else if (serviceTime < other->m_timeOutlookModified) {
                    HvLog().LogComment("ComputeActions: Outlook timestamp is greater");
                    record->SetAction(ACTION_UPDATE_SERVICE);
                } else {
                    HvLog().LogComment("ComputeActions: HV timestamp is greater");
                    record->SetAction(ACTION_UPDATE_OUTLOOK);
                }
            }
        }
    } catch (...) {
        HvLog().LogError("ComputeActions: exception; the remaining rows keep their state");
    }
    RedrawAllRows();
}

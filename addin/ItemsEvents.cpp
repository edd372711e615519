#include "addin/ItemsEvents.h"

#include <memory>
#include <new>

#include "addin/ChangeHook.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "service/SyncItem.h"
#include "sync/Hasher.h"
#include "sync/ItemAccess.h"
#include "sync/LinkProps.h"
#include "ui/DlgUpdate.h"
#include "ui/ProtocolUI.h"
#include "win/ComTypes.h"

namespace {

void Log(const char* text) {
    HvLog().LogComment(text);
}

IDispatch* ItemArgument(DISPPARAMS* params) {
    if (!params || params->cArgs < 1 || !params->rgvarg) return nullptr;
    VARIANT& arg = params->rgvarg[0];
    if (arg.vt == VT_DISPATCH) return arg.pdispVal;
    if (arg.vt == (VT_DISPATCH | VT_BYREF) && arg.ppdispVal) return *arg.ppdispVal;
    return nullptr;
}

// A user property that is there and not empty.
bool LinkValue(IDispatch* item, const wchar_t* name, std::string& value) {
    value.clear();
    return GetUserProperty(item, name, value) == S_OK && !value.empty();
}

// The link properties an unlinked item has empty, in the order they are written.
const wchar_t* const kLinkProps[] = {L"HV Record ID", L"HV Last Modified", L"HV Assigned To", L"HV Assigned To IDs",
                                     L"HV Organizer", L"HV Internal Use",  L"HV Category ID", L"HV Folder",
                                     L"HV Workspace", L"HV Workspace ID"};

// Holds the operation flag while the update dialog runs.
class COperationScope {
public:
    explicit COperationScope(CEventHandler& handler) : m_handler(handler), m_fTaken(handler.TakeOperation()) {}
    ~COperationScope() {
        if (m_fTaken) m_handler.ClearOperation();
    }
    COperationScope(const COperationScope&) = delete;
    COperationScope& operator=(const COperationScope&) = delete;
    bool Taken() const noexcept { return m_fTaken != FALSE; }

private:
    CEventHandler& m_handler;
    BOOL m_fTaken;
};

// Whether an inspector shows the item with this EntryID.
bool OpenInInspector(IDispatch* application, const std::string& entryId) {
    if (!application) return false;
    hv::com_ptr<IDispatch> inspectors = hvitem::TryCallObject(application, L"Inspectors", 0, nullptr);
    const long count = inspectors ? hvitem::Count(inspectors.get()) : 0;
    for (long i = 1; i <= count; ++i) {
        hv::com_ptr<IDispatch> inspector = hvitem::TryItemAt(inspectors.get(), i);
        hv::com_ptr<IDispatch> current =
            inspector ? hvitem::TryCallObject(inspector.get(), L"CurrentItem", 0, nullptr) : nullptr;
        std::string id;
        if (current && hvitem::TryText(current.get(), L"EntryID", id) && id == entryId) return true;
    }
    return false;
}

}  // namespace

const DISPATCH_ENTRY CItemsEvents::s_table[] = {
    {DISPID_ITEMADD, 1, "ItemAdd"},
    {DISPID_ITEMCHANGE, 1, "ItemChange"},
    {0, 0, nullptr},
};

HRESULT CItemsEvents::Connect(IDispatch* source) {
    if (source) m_pItems = source;
    if (!m_pItems) return E_POINTER;
    return CEventHandler::Connect(m_pItems.get());
}

void CItemsEvents::OnInvoke(DISPID dispid, DISPPARAMS* params) {
    try {
        if (IsOffline(FALSE)) return;
        if (dispid != DISPID_ITEMADD && dispid != DISPID_ITEMCHANGE) return;
        const BOOL isChange = dispid == DISPID_ITEMCHANGE ? TRUE : FALSE;
        if (isChange)
            ++m_nChanges;
        else
            ++m_nAdds;
        CLogBlock block("CItemsEvents::OnInvoke");
        if (TestOperation()) return;
        IDispatch* item = ItemArgument(params);
        if (!item) return;

        const HWND parent = GetParentWindow(PREFER_EXPLORER);
        Log("CItemsEvents::OnInvoke: GetAutoPush");
        const DWORD autoPush = CConfig().GetAutoPush();
        Log("Calling OnItemChange");
        std::string kind;
        OnItemAddChange(parent, item, isChange, kind);
        if (!autoPush && (kind == "Task" || kind == "Event")) CheckLink(item, kind);

        Log("CItemsEvents::OnInvoke: IsTimeToSync");
        if (IsTimeToSync()) {
            Log("Calling DoSynch");
            DoSynch(parent, nullptr);
        }
    } catch (...) {
        HvLog().LogError("CItemsEvents::OnInvoke failed");
    }
}

BOOL CItemsEvents::ItemWasActive(IDispatch* item) {
    CLogBlock block("CItemsEvents::ItemWasActive");
    try {
        Log("Fetching Item's EntryID");
        std::string entryId;
        if (!hvitem::TryText(item, L"EntryID", entryId) || entryId.empty()) return FALSE;
        Log("Got Item's EntryID");
        if (m_pLastClosed && entryId == m_pLastClosed->m_strData) {
            Log("Item was Active!");
            return TRUE;
        }
        // Outlook may raise the window's "Close" only after the save and its "ItemChange": an
        // item still open in a window when it changes was changed there.
        if (OpenInInspector(m_pApplication, entryId)) {
            Log("Item is open in a window");
            return TRUE;
        }
        return FALSE;
    } catch (...) {
        return FALSE;
    }
}

void CItemsEvents::OnItemAddChange(HWND parent, IDispatch* item, BOOL isChange, std::string& kind) {
    CLogBlock block("CItemsEvents::OnItemAddChange");
    kind.clear();
    long olClass = 0;
    if (!hvitem::TryLong(item, L"Class", olClass)) return;
    if (olClass == OL_CLASS_APPOINTMENT)
        kind = "Event";
    else if (olClass == OL_CLASS_TASK)
        kind = "Task";
    else
        return;
    if (!CConfig().GetAutoPush()) return;

    std::unique_ptr<CDlgUpdate> dialog;
    auto makeDialog = [&]() -> bool {
        if (dialog) return true;
        dialog.reset(new (std::nothrow) CDlgUpdate(TheAPI(), parent));
        if (!dialog) {
            HvLog().LogError("Out of Memory!");
            return false;
        }
        hv::unique_variant mapi = hv::unique_variant::FromString("MAPI");
        hv::unique_variant ns;
        if (SUCCEEDED(CallMethod(m_pApplication, L"GetNamespace", ns.put(), 1, &mapi)) && ns.AsDispatch())
            dialog->m_pNameSpace = ns.AsDispatch();
        return true;
    };

    bool series = false;
    if (kind == "Event") {
        Log("OnItemAddChange: Busy Status");
        long busy = 0;
        // Free and tentative time is the user's own business.
        if (hvitem::TryLong(item, L"BusyStatus", busy) && (busy == 0 || busy == 1)) return;
        bool recurring = false;
        if (hvitem::TryBool(item, L"IsRecurring", recurring) && recurring) {
            series = true;
            if (!makeDialog()) return;
            CSyncItem seriesRecord;
            seriesRecord.m_strType = kind;
            dialog->LoadOneItem(&seriesRecord, item, 1);
            dialog->ExpandAppt(&seriesRecord, item);
            if (dialog->CheckOccurrences() == 0) return;
        }
    }

    std::string recordId, storedHash;
    if (!series) {
        const bool linked = LinkValue(item, L"HV Record ID", recordId);
        if (!linked && isChange) {
            Log("OnItemAddChange: No HV Id");
            return;
        }
        const bool haveHash = LinkValue(item, L"HV Hash", storedHash);
        if (isChange) {
            if (!haveHash) {
                Log("OnItemAddChange: No HV Hash");
                return;
            }
            if (!ItemWasActive(item)) {
                Log("OnItemAddChange: Ignoring");
                return;
            }
        }
    }

    Log("OnItemAddChange: Comparing hash");
    std::string freshHash;
    if (!series && !storedHash.empty()) {
        CHasher hasher;
        CSyncItem fresh;
        fresh.m_strType = kind;
        hasher.Hash(item, olClass, &fresh, 1, 1);
        freshHash = fresh.m_strHash;
        if (freshHash.empty()) return;
        // Nothing the service keeps has changed.
        if (freshHash == storedHash) return;
    }
    Log("OnItemAddChange: Hash Mis-Match");
    if (!storedHash.empty()) {
        HvLog().LogCommentFmt("strHash: %s", storedHash);
        HvLog().LogCommentFmt("si.m_strHash: %s", freshHash);
    } else {
        Log("strHash is Empty");
    }

    if (isChange && !series && SameSaveAgain(item)) {
        // Outlook reports one save more than once (twice, or once more later in cached mode):
        // it is sent once, and a push that failed is left to the next synchronisation.
        Log("OnItemAddChange: this save was handled already");
        ++m_nSavesSeenAgain;
        return;
    }

    if (!makeDialog()) return;
    if (!series) {
        std::unique_ptr<CSyncItem> record(new (std::nothrow) CSyncItem);
        if (!record) {
            HvLog().LogError("Out of Memory!");
            return;
        }
        record->m_strType = kind;
        record->m_target.m_strID = recordId;
        record->m_target.m_strCatID.clear();
        record->m_target.m_strSpaceID.clear();
        GetUserProperty(item, L"HV Category ID", record->m_target.m_strCatID);
        GetUserProperty(item, L"HV Workspace ID", record->m_target.m_strSpaceID);
        // An item of no task list or workspace goes to the user's own ("My Tasks", "My Events").
        if (record->m_target.m_strCatID.empty()) record->m_target.m_strCatID = "0";
        if (record->m_target.m_strSpaceID.empty()) record->m_target.m_strSpaceID = "0";
        GetUserProperty(item, L"HV Assigned To IDs", record->assigned_to_userids);
        GetUserProperty(item, L"HV Organizer", record->organizer);
        GetUserProperty(item, L"HV Internal Use", record->internal_use_only);
        hvitem::TryText(item, L"EntryID", record->m_strEntryID);
        record->m_nSource = SOURCE_OUTLOOK;
        dialog->AddRecord(std::move(record), item);
    }

    if (!EnsureProtocol(m_pApplication, parent)) return;
    CProtocolUI* protocol = dynamic_cast<CProtocolUI*>(TheProtocol());
    if (!protocol) return;
    if (FAILED(FireUpProtocol(reinterpret_cast<LONG_PTR>(m_pApplication)))) return;
    CCredentials credentials;
    // Only a real login sends anything; a cancelled one leaves the item to the next run.
    if (protocol->LoginUser(&credentials, olClass) != S_OK) return;
    dialog->m_credentials = credentials;
    dialog->m_lClass = olClass;
    dialog->m_pAPI = TheAPI();
    RunUpdate(*dialog, olClass);
}

bool CItemsEvents::SameSaveAgain(IDispatch* item) {
    std::string entryId;
    COleDate modified;
    if (!hvitem::TryText(item, L"EntryID", entryId) || entryId.empty() ||
        !hvitem::TryDate(item, L"LastModificationTime", modified))
        return false;
    if (entryId == m_strSentEntryID && modified.m_dt == m_sentModified) return true;
    m_strSentEntryID = entryId;
    m_sentModified = modified.m_dt;
    return false;
}

void CItemsEvents::RunUpdate(CDlgUpdate& dialog, long) {
    // One piece of work at a time: no timed synchronisation or button action starts inside it.
    COperationScope operation(*this);
    if (!operation.Taken()) return;
    CChangeHook hook(this, m_pItems.get());
    hook.Disable(m_pcs);
    ++m_nUpdateRuns;
    m_nLastUpdateResult = dialog.DoModal();
    hook.Enable(m_pcs);
    m_strLastUpdateMessage = dialog.m_strMessage;
    m_nLastUpdatePushed = 0;
    for (const auto& entry : dialog.m_entries)
        if (entry.m_fPushed) ++m_nLastUpdatePushed;
}

void CItemsEvents::CheckLink(IDispatch* item, const std::string& kind) {
    CLogBlock block("CItemsEvents::CheckLink");
    ++m_nLinkChecks;
    try {
        const long olClass = kind == "Event" ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK;
        CHasher hasher;
        CSyncItem fresh;
        fresh.m_strType = kind;
        hasher.Hash(item, olClass, &fresh, 1, 1);
        if (fresh.m_strHash.empty()) return;
        std::string stored;
        const HRESULT hr = GetUserProperty(item, L"HV Hash", stored);
        if (hr == S_OK) {
            if (stored == fresh.m_strHash) return;
            // The same item still differing in the same way as at the add-in's last save of it
            // (the echo of that save, or a change the fingerprint does not see): saving again
            // would only feed the next "ItemChange".
            std::string entryId;
            hvitem::TryText(item, L"EntryID", entryId);
            if (!entryId.empty() && entryId == m_strOwnEntryID && stored == m_strOwnStored &&
                fresh.m_strHash == m_strOwnFresh) {
                ++m_nRepeatsSkipped;
                Log("CItemsEvents::CheckLink: saved already");
                return;
            }
            if (SUCCEEDED(SaveOwn(item))) {
                m_strOwnEntryID = entryId;
                m_strOwnStored = stored;
                m_strOwnFresh = fresh.m_strHash;
            }
            return;
        }
        if (hr != S_FALSE) return;
        // Not linked: every link property empty and "HV" false. An item that is so already is
        // left alone, so that a save of it does not bring another.
        std::string flagText;
        bool unlinked = GetUserProperty(item, L"HV", flagText) == S_OK &&
                        (flagText.empty() || flagText == "0" || flagText == "False" || flagText == "false");
        for (const wchar_t* name : kLinkProps) {
            if (!unlinked) break;
            std::string value;
            if (GetUserProperty(item, name, value) == S_OK && !value.empty()) unlinked = false;
        }
        if (unlinked) return;
        const hv::unique_variant empty = hv::unique_variant::FromString(std::string());
        for (const wchar_t* name : kLinkProps) SetUserProperty(item, name, empty);
        SetUserProperty(item, L"HV", hv::unique_variant::FromBool(false));
        SaveOwn(item);
    } catch (...) {
        HvLog().LogError("CItemsEvents::CheckLink failed");
    }
}

HRESULT CItemsEvents::SaveOwn(IDispatch* item) {
    // Outlook reports a save made inside "ItemChange" as another "ItemChange": with the sink
    // off it does not reach this folder's handler.
    CChangeHook hook(this, m_pItems.get());
    hook.Disable(m_pcs);
    const HRESULT hr = CallMethod(item, L"Save", nullptr, 0, nullptr);
    hook.Enable(m_pcs);
    if (SUCCEEDED(hr)) ++m_nOwnSaves;
    return hr;
}

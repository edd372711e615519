#include "addin/EventHandler.h"

#include <memory>
#include <new>

#include "addin/OfficeInterfaces.h"
#include "addin/resource.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "service/TimeLogic.h"
#include "sync/DlgSynch.h"
#include "ui/DlgError.h"
#include "ui/DlgSeriesSynch.h"
#include "ui/ProtocolUI.h"
#include "win/ComTypes.h"
#include "win/Strings.h"

namespace {

// Holds the critical section for one scope; nothing when there is none.
class CSectionLock {
public:
    explicit CSectionLock(CRITICAL_SECTION* cs) noexcept : m_cs(cs) {
        if (m_cs) ::EnterCriticalSection(m_cs);
    }
    ~CSectionLock() {
        if (m_cs) ::LeaveCriticalSection(m_cs);
    }
    CSectionLock(const CSectionLock&) = delete;
    CSectionLock& operator=(const CSectionLock&) = delete;

private:
    CRITICAL_SECTION* m_cs;
};

}  // namespace

// The shared protocol object of the add-in, made on first use.
CProtocolUI* CEventHandler::EnsureProtocol(IDispatch* application, HWND parent) {
    if (CProtocol* existing = TheProtocol()) {
        CProtocolUI* ui = dynamic_cast<CProtocolUI*>(existing);
        if (ui) ui->m_hParent = parent;
        return ui;
    }
    CProtocolUI* protocol = new (std::nothrow) CProtocolUI(reinterpret_cast<LONG_PTR>(application), parent);
    if (!protocol) {
        HvLog().LogError("Out of Memory!");
        return nullptr;
    }
    SetTheProtocol(protocol);
    return protocol;
}

CEventHandler::~CEventHandler() {
    Disconnect();
}

HRESULT CEventHandler::Connect(IDispatch* source) {
    if (!source) return E_POINTER;
    hv::com_ptr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (FAILED(hr)) return hr;
    Disconnect();
    hv::com_ptr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(GetSourceIID(), point.put());
    if (FAILED(hr)) return hr;
    DWORD cookie = 0;
    hr = point->Advise(static_cast<IDispatch*>(this), &cookie);
    if (FAILED(hr)) return hr;
    m_pConnectionPoint = point;
    m_dwCookie = cookie;
    return S_OK;
}

void CEventHandler::Disconnect() {
    if (!m_pConnectionPoint) return;
    // The connection point holds a reference to this sink: let it go last.
    hv::com_ptr<IConnectionPoint> point = std::move(m_pConnectionPoint);
    const DWORD cookie = m_dwCookie;
    m_dwCookie = 0;
    point->Unadvise(cookie);
}

HWND CEventHandler::GetParentWindow(int preference) {
    CLogBlock block("CEventHandler::GetParentWindow");
    CDiagLog& log = HvLog();
    HWND found = nullptr;
    auto byCaption = [&](const wchar_t* member, bool method) -> HWND {
        hv::unique_variant window;
        HRESULT hr = method ? CallMethod(m_pApplication, member, window.put(), 0, nullptr)
                            : GetProperty(m_pApplication, member, window.put());
        if (FAILED(hr) || !window.AsDispatch()) return nullptr;
        log.LogComment(method ? "Getting Inspector Caption" : "Getting Explorer Caption");
        hv::unique_variant caption;
        if (FAILED(GetProperty(window.AsDispatch(), L"Caption", caption.put())) || caption.vt != VT_BSTR)
            return nullptr;
        log.LogComment(hv::ToAnsi(caption.bstrVal ? caption.bstrVal : L""));
        HWND hwnd = ::FindWindowW(L"rctrl_renwnd32", caption.bstrVal ? caption.bstrVal : L"");
        return hwnd && ::IsWindow(hwnd) ? hwnd : nullptr;
    };
    try {
        if (preference == PREFER_EXPLORER) {
            log.LogComment("Explorer is preferred");
            log.LogComment("Fetching Active Explorer");
            found = byCaption(L"ActiveExplorer", false);
        } else {
            log.LogComment(preference == PREFER_INSPECTOR ? "Active Inspector is preferred"
                                                          : "Either window is preferred");
            log.LogComment("Fetching Active Inspector");
            found = byCaption(L"ActiveInspector", true);
            if (!found && preference == PREFER_EITHER) {
                log.LogComment("Fetching Active Explorer");
                found = byCaption(L"ActiveExplorer", false);
            }
        }
    } catch (...) {
        found = nullptr;
    }
    if (!found) {
        log.LogComment("Invalid Window Handle - Deferring to Desktop");
        found = ::GetDesktopWindow();
    }
    return found;
}

BOOL CEventHandler::IsOffline(BOOL showMessage) {
    BOOL offline = FALSE;
    try {
        hv::unique_variant mapi = hv::unique_variant::FromString("MAPI");
        hv::unique_variant ns;
        if (SUCCEEDED(CallMethod(m_pApplication, L"GetNamespace", ns.put(), 1, &mapi)) && ns.AsDispatch()) {
            hv::unique_variant value;
            if (SUCCEEDED(GetProperty(ns.AsDispatch(), L"Offline", value.put())))
                offline = value.AsBool() ? TRUE : FALSE;
        }
    } catch (...) {
        offline = FALSE;
    }
    if (offline && showMessage) ShowErrorText(GetParentWindow(PREFER_EITHER), IDS_OFFLINE);
    return offline;
}

void CEventHandler::ShowErrorText(HWND parent, UINT stringId) {
    std::string text = hv::LoadResString(stringId);
    if (text.empty()) text = hv::LoadResString(IDS_UNKNOWN_FAILURE);
    CDlgError dialog(parent);
    dialog.m_strDetails = text;
    dialog.DoModal();
}

BOOL CEventHandler::IsTimeToSync() {
    CConfig config;
    const DWORD quantum = config.GetSyncQuantum();
    if (quantum == 0) return FALSE;
    const HvTime seconds = static_cast<HvTime>(quantum) * 60;
    const HvTime now = TimeNow();
    for (const char* kind : {CConfig::TYPE_TASK, CConfig::TYPE_EVENT}) {
        std::string text;
        if (FAILED(config.GetLastSync(kind, text))) continue;
        FILETIME last;
        if (!ParseWireTime(text, 0, last)) continue;
        if (now - TimeFromFileTime(last) > seconds) return TRUE;
    }
    return FALSE;
}

BOOL CEventHandler::TakeOperation() {
    if (!m_pcs || !m_pfOperation) return FALSE;
    CSectionLock lock(m_pcs);
    if (*m_pfOperation) return FALSE;
    *m_pfOperation = 1;
    return TRUE;
}

void CEventHandler::ClearOperation() {
    if (!m_pfOperation) return;
    CSectionLock lock(m_pcs);
    *m_pfOperation = 0;
}

BOOL CEventHandler::TestOperation() {
    if (!m_pcs || !m_pfOperation) return FALSE;
    CSectionLock lock(m_pcs);
    return *m_pfOperation ? TRUE : FALSE;
}

void CEventHandler::DoSynch(HWND parent, CSyncContext* context) {
    if (!TakeOperation()) return;
    CLogBlock block("CEventHandler::DoSynch");
    try {
        // A record handed over by the Add Item dialog is a recurring appointment to send.
        std::unique_ptr<CDlgSynch> dialog(context ? new (std::nothrow) CDlgSeriesSynch(TheAPI(), parent)
                                                  : new (std::nothrow) CDlgSynch(TheAPI(), parent));
        if (dialog) {
            dialog->m_fIncremental = 1;
            if (context) dialog->m_context = *context;
            hv::unique_variant explorer;
            hv::unique_variant mapi = hv::unique_variant::FromString("MAPI");
            hv::unique_variant ns;
            if (SUCCEEDED(GetProperty(m_pApplication, L"ActiveExplorer", explorer.put())) &&
                SUCCEEDED(CallMethod(m_pApplication, L"GetNamespace", ns.put(), 1, &mapi)) && ns.AsDispatch()) {
                dialog->m_pNameSpace = ns.AsDispatch();
                if (CProtocolUI* protocol = EnsureProtocol(m_pApplication, parent)) {
                    CCredentials credentials;
                    if (SUCCEEDED(FireUpProtocol(reinterpret_cast<LONG_PTR>(m_pApplication))) &&
                        // Only a real login runs the dialog: a cancelled one is no success.
                        protocol->LoginUser(&credentials, hv::office::olTask) == S_OK) {
                        dialog->m_credentials = credentials;
                        dialog->m_nSyncKinds = SYNC_TASKS | SYNC_EVENTS;
                        dialog->m_pAPI = TheAPI();
                        dialog->Run();
                    }
                }
            }
        } else {
            HvLog().LogError("Out of Memory!");
        }
    } catch (...) {
        HvLog().LogError("CEventHandler::DoSynch failed");
    }
    ClearOperation();
}

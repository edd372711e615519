#include "addin/OutAddIn.h"

#include <gdiplus.h>
#include <olectl.h>
#include <memory>
#include <new>

#include "addin/AddBtn.h"
#include "addin/BtnMgr.h"
#include "addin/CmdBar.h"
#include "addin/SyncBtn.h"
#include "addin/resource.h"
#include "addin/ExplorerEvents.h"
#include "addin/ItemWindowsEvents.h"
#include "addin/ItemsEvents.h"
#include "addin/OutlookEvents.h"
#include "addin/SettingsWatch.h"
#include "addin/WordEvents.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "common/Registration.h"
#include "service/Protocol.h"
#include "win/Errors.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

const DISPATCH_ENTRY COutAddIn::s_table[] = {
    {DISPID_GETCUSTOMIMAGE, 1, "GetCustomImage"},
    {0, 0, nullptr},
};

namespace {

// Disconnects and releases one sink member and clears it.
template <typename Sink>
void DropSink(Sink*& sink) {
    if (!sink) return;
    Sink* s = sink;
    sink = nullptr;
    s->Disconnect();
    s->Release();
}

// Runs one start-up step: whatever it raises ends that step only.
template <typename Step>
void RunStep(const Step& step) noexcept {
    try {
        step();
    } catch (...) {
        LOG_IF_FAILED(hv::ResultFromCaughtException());
    }
}

// GDI+ for the lifetime of one image conversion.
class CGdiplusSession {
public:
    CGdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        m_status = Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
    }
    ~CGdiplusSession() {
        if (m_status == Gdiplus::Ok) Gdiplus::GdiplusShutdown(m_token);
    }
    bool Ok() const noexcept { return m_status == Gdiplus::Ok; }

private:
    ULONG_PTR m_token = 0;
    Gdiplus::Status m_status;
};

struct free_gdip_image {
    void operator()(Gdiplus::GpBitmap* b) const noexcept { Gdiplus::DllExports::GdipDisposeImage(b); }
};

}  // namespace

// ---- module bookkeeping ----------------------------------------------------------------------

LONG& CHvOutModule::LiveObjects() noexcept {
    static LONG count = 0;
    return count;
}
LONG& CHvOutModule::FactoryLocks() noexcept {
    static LONG count = 0;
    return count;
}
LONG& CHvOutModule::ModuleLocks() noexcept {
    static LONG count = 0;
    return count;
}
bool& CHvOutModule::RibbonAsked() noexcept {
    static bool asked = false;
    return asked;
}
HRESULT CHvOutModule::CanUnloadNow() noexcept {
    return ModuleLocks() > 0 || LiveObjects() > 0 || FactoryLocks() > 0 ? S_FALSE : S_OK;
}

// ---- COutAddIn -----------------------------------------------------------------------------

COutAddIn::COutAddIn() noexcept : m_pLastClosed(new (std::nothrow) CCtrlData) {}

COutAddIn::~COutAddIn() {
    // A host that let go without shutting down still gets its sinks back.
    if (m_pInspectorsEvents || m_pOutlookEvents || m_pCalendarItemsEvents || m_pTasksItemsEvents || m_pExplorerEvents ||
        m_pWordEvents || m_pInspectors || m_fCsReady || m_pExplorerBar || m_pShortcutGroups || m_pSettingsWatch)
        OnBeginShutdown(nullptr);
    if (m_pApplication) m_pApplication->Release();
    delete m_pLastClosed;
}

HRESULT COutAddIn::QueryInterface(REFIID iid, void** out) try {
    CLogBlock block("COutAddIn::QueryInterface");
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == hv::office::IID_IDTExtensibility2 || iid == IID_IUnknown || iid == IID_IDispatch) {
        *out = static_cast<IDTExtensibility2*>(this);
    } else if (iid == hv::office::IID_IRibbonExtensibility) {
        if (!m_fConnected) return E_NOINTERFACE;
        CHvOutModule::RibbonAsked() = true;
        *out = static_cast<IDTRibbonExtensibility*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}
CATCH_RETURN()

ULONG COutAddIn::AddRef() {
    return ::InterlockedIncrement(reinterpret_cast<volatile LONG*>(&m_cRef));
}

ULONG COutAddIn::Release() {
    const ULONG count = ::InterlockedDecrement(reinterpret_cast<volatile LONG*>(&m_cRef));
    if (count != 0) return count;
    CDiagLog* log = nullptr;
    try {
        log = &HvLog();
        log->LogBlockEnter("COutAddIn::Release");
    } catch (...) {
        log = nullptr;
    }
    ::InterlockedDecrement(&CHvOutModule::LiveObjects());
    delete this;
    if (log) log->LogBlockExit("COutAddIn::Release");
    return 0;
}

HRESULT COutAddIn::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return E_FAIL;
}

HRESULT COutAddIn::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_FAIL;
}

HRESULT COutAddIn::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    try {
        HRESULT hr = CDispatchObject::LookupName(s_table, riid, names, count, ids);
        if (hr == DISP_E_UNKNOWNNAME) hr = CDispatchObject::LookupName(CBtnMgr::s_table, riid, names, count, ids);
        return hr;
    }
    CATCH_RETURN();
}

HRESULT COutAddIn::Invoke(DISPID dispid, REFIID riid, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                          UINT*) {
    try {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        const DISPATCH_ENTRY* entry = CDispatchObject::FindId(s_table, dispid);
        if (!entry) entry = CDispatchObject::FindId(CBtnMgr::s_table, dispid);
        if (!entry) return DISP_E_MEMBERNOTFOUND;
        if (!params) return E_POINTER;
        if (static_cast<LONG>(params->cArgs) != entry->argCount) return DISP_E_BADPARAMCOUNT;

        CBtnMgr manager(m_pApplication);
        manager.m_pcs = m_fCsReady ? &m_cs : nullptr;
        manager.m_pfOperation = &m_fOperation;
        manager.m_pLastClosed = m_pLastClosed;
        manager.m_calendarHook = CChangeHook(m_pCalendarItemsEvents, m_calendarItems.AsDispatch());
        manager.m_tasksHook = CChangeHook(m_pTasksItemsEvents, m_tasksItems.AsDispatch());
        HRESULT hr = manager.InvokeByName(entry->name, params, result);
        if (dispid == DISPID_GETCUSTOMIMAGE) {
            HvLog().LogComment("COutAddIn::Invoke(GetCustomImage)");
            hr = GetCustomImage(&params->rgvarg[0], result);
        }
        return hr;
    }
    CATCH_RETURN();
}

HRESULT COutAddIn::OnConnection(IDispatch* application, ext_ConnectMode connectMode, IDispatch*, SAFEARRAY** custom) {
    try {
        CLogBlock block("COutAddIn::OnConnection");
        if (!application) return E_POINTER;
        application->AddRef();
        if (m_pApplication) m_pApplication->Release();
        m_pApplication = application;
        m_fConnected = 1;
        // Loaded into an Outlook that already runs: there will be no start-up completion.
        if (connectMode != ext_cm_Startup) OnStartupComplete(custom);
        return S_OK;
    }
    CATCH_RETURN();
}

HRESULT COutAddIn::OnDisconnection(ext_DisconnectMode removeMode, SAFEARRAY** custom) {
    HRESULT hr = S_OK;
    try {
        CLogBlock block("COutAddIn::OnDisconnection");
        // The host calls OnBeginShutdown only when it shuts down itself.
        if (removeMode != ext_dm_HostShutdown) OnBeginShutdown(custom);
        if (IDispatch* app = m_pApplication) {
            m_pApplication = nullptr;
            app->Release();
        }
    } catch (...) {
        hr = hv::ResultFromCaughtException();
    }
    // The host is going: the log closes here, not in static destruction under the loader lock.
    // After a user's unload it stays open, for a later load in the same session.
    if (removeMode == ext_dm_HostShutdown) HvLogShutdown();
    return hr;
}

HRESULT COutAddIn::OnAddInsUpdate(SAFEARRAY**) {
    try {
        CLogBlock block("COutAddIn::OnAddInsUpdate");
        return S_OK;
    }
    CATCH_RETURN();
}

template <typename Sink>
void COutAddIn::Share(Sink* sink) {
    sink->m_pApplication = m_pApplication;
    sink->m_pfOperation = &m_fOperation;
    sink->m_pcs = m_fCsReady ? &m_cs : nullptr;
    sink->m_pLastClosed = m_pLastClosed;
}

HRESULT COutAddIn::OnStartupComplete(SAFEARRAY**) {
    try {
        CLogBlock block("COutAddIn::OnStartupComplete");
        if (!m_fCsReady) {
            ::InitializeCriticalSection(&m_cs);
            m_fCsReady = true;
        }
        // A second start-up completion (a host that also calls it after a late load) must not
        // sink everything twice.
        if (m_pOutlookEvents || m_pWordEvents || m_pInspectorsEvents || m_pCalendarItemsEvents) return S_OK;
        hv::unique_variant name;
        if (!m_pApplication || FAILED(CDispatcher::GetProperty(m_pApplication, L"Name", name.put())) || !m_fConnected)
            return S_OK;
        if (name.vt != VT_BSTR || !name.bstrVal || wcscmp(name.bstrVal, L"Outlook") != 0) {
            RunStep([&] { SinkWordEvents(); });
            return S_OK;
        }
        RunStep([&] { SinkItemChanges(); });
        RunStep([&] { SinkNewInspector(); });
        RunStep([&] { SinkOutlookEvents(); });
        RunStep([&] { AddSortcuts(); });
        if (CRegistration::VersionBelow(OutlookVersion(), CRegistration::FIRST_RIBBON_VERSION)) {
            RunStep([&] { AddExplorerButtons(); });
            RunStep([&] { SinkExplorerEvents(); });
        }
        return S_OK;
    }
    CATCH_RETURN();
}

void COutAddIn::SinkItemChanges() {
    CLogBlock block("COutAddIn::SinkItemChanges");
    hv::unique_variant mapi = hv::unique_variant::FromString("MAPI");
    hv::unique_variant ns;
    THROW_IF_FAILED(CDispatcher::CallMethod(m_pApplication, L"GetNameSpace", ns.put(), 1, &mapi));
    THROW_HR_IF(E_POINTER, !ns.AsDispatch());
    auto sinkFolder = [&](long folderId, hv::unique_variant& items, CItemsEvents*& sink) {
        hv::unique_variant id = hv::unique_variant::FromLong(folderId);
        hv::unique_variant folder;
        THROW_IF_FAILED(CDispatcher::CallMethod(ns.AsDispatch(), L"GetDefaultFolder", folder.put(), 1, &id));
        THROW_HR_IF(E_POINTER, !folder.AsDispatch());
        THROW_IF_FAILED(CDispatcher::GetProperty(folder.AsDispatch(), L"Items", items.put()));
        THROW_HR_IF(E_POINTER, !items.AsDispatch());
        CItemsEvents* created = new (std::nothrow) CItemsEvents;
        THROW_HR_IF(E_OUTOFMEMORY, !created);
        Share(created);
        created->AddRef();
        sink = created;
        THROW_IF_FAILED(created->Connect(items.AsDispatch()));
    };
    sinkFolder(hv::office::olFolderCalendar, m_calendarItems, m_pCalendarItemsEvents);
    sinkFolder(hv::office::olFolderTasks, m_tasksItems, m_pTasksItemsEvents);
}

void COutAddIn::SinkNewInspector() {
    CLogBlock block("COutAddIn::SinkNewInspector");
    hv::unique_variant inspectors;
    THROW_IF_FAILED(CDispatcher::GetProperty(m_pApplication, L"Inspectors", inspectors.put()));
    THROW_HR_IF(E_POINTER, !inspectors.AsDispatch());
    m_pInspectors = inspectors.AsDispatch();
    m_pInspectors->AddRef();
    CInspectorsEvents* sink = new (std::nothrow) CInspectorsEvents;
    THROW_HR_IF(E_OUTOFMEMORY, !sink);
    Share(sink);
    sink->m_calendarHook = CChangeHook(m_pCalendarItemsEvents, m_calendarItems.AsDispatch());
    sink->m_tasksHook = CChangeHook(m_pTasksItemsEvents, m_tasksItems.AsDispatch());
    sink->AddRef();
    m_pInspectorsEvents = sink;
    THROW_IF_FAILED(sink->Connect(m_pInspectors));
}

void COutAddIn::SinkOutlookEvents() {
    CLogBlock block("COutAddIn::SinkOutlookEvents");
    COutlookEvents* sink = new (std::nothrow) COutlookEvents;
    THROW_HR_IF(E_OUTOFMEMORY, !sink);
    Share(sink);
    sink->AddRef();
    m_pOutlookEvents = sink;
    THROW_IF_FAILED(sink->Connect(m_pApplication));
}

void COutAddIn::SinkWordEvents() {
    CLogBlock block("COutAddIn::SinkWordEvents");
    CWordEvents* sink = new (std::nothrow) CWordEvents;
    THROW_HR_IF(E_OUTOFMEMORY, !sink);
    Share(sink);
    sink->AddRef();
    m_pWordEvents = sink;
    THROW_IF_FAILED(sink->Connect(m_pApplication));
}

void COutAddIn::SinkExplorerEvents() {
    CLogBlock block("COutAddIn::SinkExplorerEvents");
    hv::unique_variant explorer;
    THROW_IF_FAILED(CDispatcher::GetProperty(m_pApplication, L"ActiveExplorer", explorer.put()));
    THROW_HR_IF(E_POINTER, !explorer.AsDispatch());
    CExplorerEvents* sink = new (std::nothrow) CExplorerEvents(&m_pExplorerBar);
    THROW_HR_IF(E_OUTOFMEMORY, !sink);
    Share(sink);
    sink->AddRef();
    m_pExplorerEvents = sink;
    THROW_IF_FAILED(sink->Connect(explorer.AsDispatch()));
}

void COutAddIn::AddExplorerButtons() {
    CLogBlock block("COutAddIn::AddExplorerButtons");
    hv::unique_variant explorer;
    THROW_IF_FAILED(CDispatcher::GetProperty(m_pApplication, L"ActiveExplorer", explorer.put()));
    THROW_HR_IF(E_POINTER, !explorer.AsDispatch());
    delete m_pExplorerBar;
    m_pExplorerBar = new CCmdBar;
    THROW_IF_FAILED(m_pExplorerBar->Create(explorer.AsDispatch(), hv::LoadResString(IDS_BAR_NAME)));
    auto add = [&](CCmdBtn* button) {
        Share(button);
        button->ShareHooks(CChangeHook(m_pCalendarItemsEvents, m_calendarItems.AsDispatch()),
                           CChangeHook(m_pTasksItemsEvents, m_tasksItems.AsDispatch()));
        // The bar keeps a reference from AddButton on; this one covers a failure before it.
        button->AddRef();
        const HRESULT hr = m_pExplorerBar->AddButton(button, FALSE);
        button->Release();
        THROW_IF_FAILED(hr);
    };
    add(new CAddBtn(IDS_ADD_TO_HV, IDB_BUTTON_FACE, IDB_BUTTON_MASK));
    add(new CSyncBtn(IDS_SYNC_WITH_HV, IDB_BUTTON_FACE, IDB_BUTTON_MASK));
    CCmdBarState state;
    if (SUCCEEDED(state.Load())) m_pExplorerBar->Render(state);
    // Hidden until the explorer's first selection change or folder switch.
    m_pExplorerBar->SetVisibility(nullptr, FALSE);
}

HRESULT COutAddIn::OnBeginShutdown(SAFEARRAY**) {
    try {
        CLogBlock block("COutAddIn::OnBeginShutdown");
        if (m_fCsReady) {
            m_fCsReady = false;
            ::DeleteCriticalSection(&m_cs);
        }
        m_pSettingsWatch.reset();
        if (m_pShortcutGroups) {
            RunStep([&] { RemoveShortcuts(); });
            IDispatch* groups = m_pShortcutGroups;
            m_pShortcutGroups = nullptr;
            groups->Release();
        }
        DropSink(m_pInspectorsEvents);
        DropSink(m_pOutlookEvents);
        DropSink(m_pCalendarItemsEvents);
        DropSink(m_pTasksItemsEvents);
        DropSink(m_pExplorerEvents);
        DropSink(m_pWordEvents);
        if (IDispatch* inspectors = m_pInspectors) {
            m_pInspectors = nullptr;
            inspectors->Release();
        }
        m_calendarItems.reset();
        m_tasksItems.reset();
        if (CCmdBar* bar = m_pExplorerBar) {
            m_pExplorerBar = nullptr;
            delete bar;
        }
        if (TheProtocol()) {
            SetTheProtocol(nullptr);  // closes and deletes the shared API object with it
        } else if (CWebSvrAPI* api = TheAPI()) {
            TheAPI() = nullptr;
            api->Close();
            delete api;
        }
        return S_OK;
    }
    CATCH_RETURN();
}

HRESULT COutAddIn::GetCustomUI(BSTR ribbonId, BSTR* ribbonXml) {
    try {
        CLogBlock block("COutAddIn::GetCustomUI");
        if (!ribbonXml) return E_POINTER;
        *ribbonXml = nullptr;
        const std::string id = ribbonId ? hv::ToAnsi(ribbonId) : std::string();
        CDiagLog& log = HvLog();
        log.LogCommentFmt("GetCustomUI:RibbonID: %s", id);
        const UINT resource = CConfig::GetRibbonResource(id.c_str());
        const std::string xml = resource ? hv::LoadResString(resource) : std::string();
        log.LogCommentFmt("GetCustomUI:Ribbon = %s", xml);
        *ribbonXml = ::SysAllocString(hv::ToWide(xml).c_str());
        return *ribbonXml ? S_OK : E_OUTOFMEMORY;
    }
    CATCH_RETURN();
}

HRESULT COutAddIn::GetCustomImage(VARIANT*, VARIANT* result) {
    try {
        HvLog().LogComment("COutAddIn::GetCustomImage");
        THROW_HR_IF(E_POINTER, !result);
        CGdiplusSession gdiplus;
        THROW_HR_IF(E_FAIL, !gdiplus.Ok());
        const HMODULE module = hv::ThisModule();
        HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(CConfig::GetImageResource()), MAKEINTRESOURCEW(10));
        THROW_HR_IF(E_FAIL, !found);
        const DWORD size = ::SizeofResource(module, found);
        HGLOBAL loaded = ::LoadResource(module, found);
        const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
        THROW_HR_IF(E_FAIL, !bytes || size == 0);

        hv::unique_hglobal block(::GlobalAlloc(GMEM_MOVEABLE, size));
        THROW_HR_IF(E_OUTOFMEMORY, !block);
        void* copy = ::GlobalLock(block.get());
        THROW_HR_IF(E_FAIL, !copy);
        memcpy(copy, bytes, size);
        ::GlobalUnlock(block.get());

        Gdiplus::GpBitmap* raw = nullptr;
        {
            hv::com_ptr<IStream> stream;
            THROW_IF_FAILED(::CreateStreamOnHGlobal(block.get(), FALSE, stream.put()));
            THROW_HR_IF(E_FAIL, Gdiplus::DllExports::GdipCreateBitmapFromStream(stream.get(), &raw) != Gdiplus::Ok);
        }
        std::unique_ptr<Gdiplus::GpBitmap, free_gdip_image> bitmap(raw);
        HBITMAP handle = nullptr;
        // ARGB 0: transparent black behind the logo.
        THROW_HR_IF(E_FAIL, Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(bitmap.get(), &handle, 0) != Gdiplus::Ok);
        hv::unique_hbitmap owned(handle);

        PICTDESC desc = {};
        desc.cbSizeofstruct = sizeof(desc);
        desc.picType = PICTYPE_BITMAP;
        desc.bmp.hbitmap = owned.get();
        desc.bmp.hpal = nullptr;
        IDispatch* picture = nullptr;
        THROW_IF_FAILED(::OleCreatePictureIndirect(&desc, IID_IDispatch, TRUE, reinterpret_cast<void**>(&picture)));
        owned.release();  // the picture owns the bitmap now
        ::VariantClear(result);
        result->vt = VT_DISPATCH;
        result->pdispVal = picture;
        return S_OK;
    }
    CATCH_RETURN();
}

std::string COutAddIn::OutlookVersion() {
    return CRegistration::OutlookVersion();
}

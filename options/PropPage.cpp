#include "options/PropPage.h"
#include <climits>
#include <cwchar>
#include <new>
#include <servprov.h>
#include "common/Config.h"
#include "common/DiagLog.h"
#include "common/EnvReport.h"
#include "options/ClassFactory.h"
#include "options/CredentialTest.h"
#include "options/resource.h"
#include "win/ComTypes.h"
#include "win/Errors.h"
#include "win/Strings.h"

namespace {

void SystemBeep() {
    ::MessageBeep(MB_ICONEXCLAMATION);
}

struct NamedDispId {
    const wchar_t* name;
    DISPID id;
};
const NamedDispId kPageMembers[] = {
    {L"GetPageInfo", CPropPage::DISPID_GETPAGEINFO},
    {L"Dirty", CPropPage::DISPID_DIRTY},
    {L"Apply", CPropPage::DISPID_APPLY},
};

}  // namespace

CPropPage::BeepFn CPropPage::s_pfnBeep = &SystemBeep;

HRESULT CPropPage::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CPropPage* page = new (std::nothrow) CPropPage();
    if (!page) return E_OUTOFMEMORY;
    HRESULT hr = page->QueryInterface(iid, out);
    page->Release();
    return hr;
}

CPropPage::CPropPage() : CCompositeControl(IDD_PROPPAGE, CLSID_PropPage, IID_IPropPage) {
    ::VariantInit(&m_varDirty);
    m_varDirty.vt = VT_BOOL;
    m_varDirty.boolVal = VARIANT_FALSE;
    OptObjectCreated();
}

CPropPage::~CPropPage() {
    m_fInitialized = false;
    if (GetHwnd()) ::DestroyWindow(GetHwnd());
    OptObjectDestroyed();
}

// ---------------------------------------------------------------------------------------------
// IUnknown and IDispatch

STDMETHODIMP CPropPage::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IPropPage)
        *out = static_cast<IPropPage*>(this);
    else if (iid == IID_PropertyPage)
        *out = static_cast<PropertyPage*>(this);
    else
        return QueryControlInterface(iid, out);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CPropPage::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CPropPage::Release() {
    const LONG count = ::InterlockedDecrement(&m_cRef);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CPropPage::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CPropPage::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    try {
        return LoadTypeInfo(IID_IPropPage, info);
    }
    CATCH_RETURN();
}

STDMETHODIMP CPropPage::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        // Only the member itself has a name here; named arguments are not supported.
        if (i == 0 && names[0]) {
            for (const NamedDispId& member : kPageMembers)
                if (::_wcsicmp(member.name, names[0]) == 0) ids[0] = member.id;
        }
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP CPropPage::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                               UINT* argError) {
    try {
        const UINT argc = params ? params->cArgs : 0;
        switch (id) {
            case DISPID_GETPAGEINFO: {
                if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
                if (argc != 2) return DISP_E_BADPARAMCOUNT;
                // Arguments arrive last first: rgvarg[1] is the help file, rgvarg[0] the context.
                VARIANT& file = params->rgvarg[1];
                VARIANT& context = params->rgvarg[0];
                if (file.vt != (VT_BSTR | VT_BYREF) || context.vt != (VT_I4 | VT_BYREF)) {
                    if (argError) *argError = file.vt != (VT_BSTR | VT_BYREF) ? 1 : 0;
                    return DISP_E_TYPEMISMATCH;
                }
                return GetPageInfo(file.pbstrVal, context.plVal);
            }
            case DISPID_DIRTY: {
                if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
                if (argc != 0) return DISP_E_BADPARAMCOUNT;
                VARIANT_BOOL dirty = VARIANT_FALSE;
                RETURN_IF_FAILED(get_Dirty(&dirty));
                if (result) {
                    ::VariantClear(result);
                    result->vt = VT_BOOL;
                    result->boolVal = dirty;
                }
                return S_OK;
            }
            case DISPID_APPLY:
                if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
                if (argc != 0) return DISP_E_BADPARAMCOUNT;
                return Apply();
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }
    CATCH_RETURN();
}

// ---------------------------------------------------------------------------------------------
// PropertyPage

STDMETHODIMP CPropPage::GetPageInfo(BSTR*, long*) {
    return E_NOTIMPL;
}

STDMETHODIMP CPropPage::get_Dirty(VARIANT_BOOL* dirty) {
    if (!dirty) return E_POINTER;
    *dirty = m_varDirty.boolVal;
    return S_OK;
}

STDMETHODIMP CPropPage::Apply() {
    try {
        CLogBlock block("CPropPage::Apply");
        // A page that never opened has nothing to apply; writing would blank the settings.
        if (!GetHwnd() && !m_fHaveValues) return S_OK;
        const HRESULT credentials = Store(GetHwnd() ? ReadControls() : m_values);
        if (FAILED(credentials)) {
            // The store refuses a user name and password it cannot hold; say so rather than
            // let the user believe they were saved.
            hv::com_ptr<ICreateErrorInfo> create;
            if (SUCCEEDED(::CreateErrorInfo(create.put()))) {
                create->SetGUID(IID_PropertyPage);
                create->SetSource(const_cast<LPOLESTR>(L"HvToolsOpts.PropPage"));
                create->SetDescription(const_cast<LPOLESTR>(L"The user name and password are too long to be stored."));
                hv::com_ptr<IErrorInfo> info = create.try_query<IErrorInfo>();
                ::SetErrorInfo(0, info.get());
            }
            return credentials;
        }
        m_varDirty.boolVal = VARIANT_FALSE;
        m_fHaveValues = false;
        return S_OK;
    }
    CATCH_RETURN();
}

HRESULT CPropPage::Store(const Values& values) {
    CConfig config;
    const HRESULT credentials = config.SetCredentials(values.user, values.password);
    DWORD quantum = 0;
    if (values.syncAutomatically) {
        quantum = ParseMinutes(values.minutes);
        if (quantum < MIN_SYNC_QUANTUM) quantum = MIN_SYNC_QUANTUM;
    }
    config.SetSyncQuantum(quantum);
    config.SetSyncAtStartup(values.syncAtStartup ? 1 : 0);
    config.SetAutoPush(values.autoPush ? 1 : 0);
    config.SetDeleteOutlookItems(values.deleteOutlookItems ? 1 : 0);
    config.SetDeleteHVItems(values.deleteHVItems ? 1 : 0);
    return credentials;
}

CPropPage::Values CPropPage::ReadControls() const {
    Values values;
    values.user = GetItemText(IDC_USERNAME);
    values.password = GetItemText(IDC_PASSWORD);
    values.minutes = GetItemText(IDC_SYNC_QUANTUM);
    values.syncAutomatically = IsChecked(IDC_SYNC_AUTOMATICALLY);
    values.syncAtStartup = IsChecked(IDC_SYNC_AT_STARTUP);
    values.autoPush = IsChecked(IDC_AUTO_PUSH);
    values.deleteOutlookItems = IsChecked(IDC_DELETE_OUTLOOK_ITEMS);
    values.deleteHVItems = IsChecked(IDC_DELETE_HV_ITEMS);
    return values;
}

void CPropPage::WriteControls(const Values& values) {
    SetItemText(IDC_USERNAME, values.user);
    SetItemText(IDC_PASSWORD, values.password);
    SetItemText(IDC_SYNC_QUANTUM, values.minutes);
    SetChecked(IDC_SYNC_AUTOMATICALLY, values.syncAutomatically);
    EnableItem(IDC_SYNC_QUANTUM, values.syncAutomatically);
    SetChecked(IDC_SYNC_AT_STARTUP, values.syncAtStartup);
    SetChecked(IDC_AUTO_PUSH, values.autoPush);
    SetChecked(IDC_DELETE_OUTLOOK_ITEMS, values.deleteOutlookItems);
    SetChecked(IDC_DELETE_HV_ITEMS, values.deleteHVItems);
}

STDMETHODIMP CPropPage::InPlaceDeactivate() {
    // Focus leaving the minutes box while the page goes away is no user edit.
    m_fInitialized = false;
    return CCompositeControl::InPlaceDeactivate();
}

// ---------------------------------------------------------------------------------------------
// Site

void CPropPage::OnClientSiteChanged() {
    m_pPageSite.reset();
    m_varDirty.boolVal = VARIANT_FALSE;
    IOleClientSite* site = ClientSite();
    if (!site) return;
    // Outlook's options dialog answers the page-site interface on the client site itself; a
    // container may instead offer it as a service of the site.
    if (SUCCEEDED(site->QueryInterface(IID_PropertyPageSite, m_pPageSite.put_void()))) return;
    m_pPageSite.reset();
    hv::com_ptr<IServiceProvider> services;
    if (SUCCEEDED(site->QueryInterface(IID_IServiceProvider, services.put_void())) &&
        SUCCEEDED(services->QueryService(IID_PropertyPageSite, IID_PropertyPageSite, m_pPageSite.put_void())))
        return;
    m_pPageSite.reset();
    HvLog().LogWarning("CPropPage::SetClientSite: the site is no PropertyPageSite");
}

void CPropPage::MarkDirty() {
    if (!m_fInitialized || m_fUpdating) return;
    m_varDirty.boolVal = VARIANT_TRUE;
    if (m_pPageSite) m_pPageSite->OnStatusChange();
}

// ---------------------------------------------------------------------------------------------
// Dialog

DWORD CPropPage::ParseMinutes(const std::string& text) {
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > ULONG_MAX) return ULONG_MAX;
    }
    return static_cast<DWORD>(value);
}

BOOL CPropPage::OnInitDialog() {
    CLogBlock block("CPropPage::OnInitDialog");
    m_fInitialized = false;
    // Edits of an earlier window of this page that were not applied come back as they were.
    if (m_fHaveValues)
        WriteControls(m_values);
    else
        LoadSettings();
    const std::string version = CEnvReport::ModuleVersion();
    if (!version.empty()) SetItemText(IDC_VERSION, version);
    m_fInitialized = true;
    // The container sets the focus when it activates the page.
    return FALSE;
}

void CPropPage::LoadSettings() {
    CConfig config;
    std::string user;
    std::string password;
    if (SUCCEEDED(config.GetCredentials(user, password))) {
        SetItemText(IDC_USERNAME, user);
        SetItemText(IDC_PASSWORD, password);
    }
    SetChecked(IDC_SYNC_AT_STARTUP, config.GetSyncAtStartup() != 0);
    const DWORD quantum = config.GetSyncQuantum();
    SetChecked(IDC_SYNC_AUTOMATICALLY, quantum != 0);
    EnableItem(IDC_SYNC_QUANTUM, quantum != 0);
    SetItemText(IDC_SYNC_QUANTUM,
                hv::Format("%lu", static_cast<unsigned long>(quantum ? quantum : DEFAULT_SHOWN_QUANTUM)));
    SetChecked(IDC_AUTO_PUSH, config.GetAutoPush() != 0);
    SetChecked(IDC_DELETE_HV_ITEMS, config.GetDeleteHVItems() != 0);
    SetChecked(IDC_DELETE_OUTLOOK_ITEMS, config.GetDeleteOutlookItems() != 0);
}

void CPropPage::OnDestroy() {
    m_fInitialized = false;
    // The controls still exist while their parent is told it goes away.
    if (m_varDirty.boolVal != VARIANT_FALSE) {
        m_values = ReadControls();
        m_fHaveValues = true;
    }
}

bool CPropPage::OnCommand(WORD id, WORD code, HWND control) {
    switch (id) {
        case IDC_USERNAME:
        case IDC_PASSWORD:
            if (code == EN_CHANGE) MarkDirty();
            return true;
        case IDC_SYNC_QUANTUM:
            if (code == EN_CHANGE)
                MarkDirty();
            else if (code == EN_KILLFOCUS)
                OnSyncQuantumLeft();
            return true;
        case IDC_SYNC_AUTOMATICALLY:
            if (code == BN_CLICKED) {
                EnableItem(IDC_SYNC_QUANTUM, IsChecked(IDC_SYNC_AUTOMATICALLY));
                MarkDirty();
            }
            return true;
        case IDC_SYNC_AT_STARTUP:
        case IDC_AUTO_PUSH:
        case IDC_DELETE_OUTLOOK_ITEMS:
        case IDC_DELETE_HV_ITEMS:
            if (code == BN_CLICKED) MarkDirty();
            return true;
        case IDC_TEST_CREDENTIALS:
            if (code == BN_CLICKED) OnTestCredentials();
            return true;
        default:
            return CCompositeControl::OnCommand(id, code, control);
    }
}

void CPropPage::OnSyncQuantumLeft() {
    if (!m_fInitialized) return;
    if (ParseMinutes(GetItemText(IDC_SYNC_QUANTUM)) < MIN_SYNC_QUANTUM) {
        m_fUpdating = true;
        SetItemText(IDC_SYNC_QUANTUM, hv::Format("%lu", static_cast<unsigned long>(MIN_SYNC_QUANTUM)));
        m_fUpdating = false;
        if (s_pfnBeep) s_pfnBeep();
    }
    MarkDirty();
}

HRESULT CPropPage::OnTestCredentials() {
    CLogBlock block("CPropPage::OnTestCredentials");
    SetItemText(IDC_TEST_RESULT, hv::LoadResString(IDS_CREDENTIALS_CHECKING));
    ::UpdateWindow(GetItem(IDC_TEST_RESULT));
    CCredentials credentials;
    credentials.m_strUser = GetItemText(IDC_USERNAME);
    credentials.m_strPassword = GetItemText(IDC_PASSWORD);
    // The environment report names the Outlook that hosts the page, when the site tells.
    hv::com_ptr<IDispatch> application;
    if (m_pPageSite && FAILED(m_pPageSite->get_Application(application.put()))) application.reset();
    CCredentialTest::Outcome outcome = CCredentialTest::OUTCOME_FAILED;
    const HRESULT hr = CCredentialTest::Run(credentials, application.get(), outcome);
    if (FAILED(hr)) return hr;
    SetItemText(IDC_TEST_RESULT, hv::LoadResString(CCredentialTest::OutcomeText(outcome)));
    return S_OK;
}

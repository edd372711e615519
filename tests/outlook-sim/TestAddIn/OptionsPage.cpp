// The test options page (HvSimTest.OptionsPage): a small in-place ActiveX control with one edit
// box that implements Outlook's PropertyPage. Typing marks it dirty and tells the page site
// (OnStatusChange); Apply stores the text in HKCU\Software\HvSimTest "Applied".
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <servprov.h>

#include <string>

#include "TestAddIn.h"
#include "outlook-sim/src/OfficeInterfaces.h"
#include "win/ComPtr.h"
#include "win/UniqueAny.h"

namespace hvsimtest {

extern HMODULE g_module;
extern LONG g_objects;
void Record(const std::string& call);

namespace {

const wchar_t kPageClass[] = L"HvSimTestPage";

class CTestPage final : public IOleObject, public IOleInPlaceObject, public OutlookPropertyPage {
public:
    CTestPage() {
        ::InterlockedIncrement(&g_objects);
        Record("Page created");
    }
    ~CTestPage() {
        DestroyPageWindow();
        Record("Page destroyed");
        ::InterlockedDecrement(&g_objects);
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleObject)
            *ppv = static_cast<IOleObject*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
            *ppv = static_cast<IOleInPlaceObject*>(this);
        else if (riid == IID_IDispatch || riid == __uuidof(OutlookPropertyPage))
            *ppv = static_cast<OutlookPropertyPage*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = ::InterlockedDecrement(&m_refs);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        m_pageSite.reset();
        m_site = site;
        if (!site) {
            Record("SetClientSite(null)");
            return S_OK;
        }
        // The page site: from the client site itself, else as a service of it.
        std::string how = "none";
        if (SUCCEEDED(site->QueryInterface(__uuidof(OutlookPropertyPageSite), m_pageSite.put_void()))) {
            how = "QueryInterface";
        } else {
            hv::com_ptr<IServiceProvider> sp;
            if (SUCCEEDED(site->QueryInterface(IID_IServiceProvider, sp.put_void())) &&
                SUCCEEDED(sp->QueryService(__uuidof(OutlookPropertyPageSite), __uuidof(OutlookPropertyPageSite),
                                           m_pageSite.put_void())))
                how = "QueryService";
        }
        m_dirty = false;
        Record("SetClientSite(PropertyPageSite by " + how + ")");
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = m_site.copy();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override {
        Record("Close");
        DestroyPageWindow();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** mk) override {
        if (mk) *mk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** d) override {
        if (d) *d = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect) override {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW && verb != OLEIVERB_UIACTIVATE) return E_NOTIMPL;
        if (m_window) return S_OK;
        hv::com_ptr<IOleInPlaceSite> inplace;
        IOleClientSite* s = site ? site : m_site.get();
        if (!s || FAILED(s->QueryInterface(IID_IOleInPlaceSite, inplace.put_void()))) return E_UNEXPECTED;
        if (inplace->CanInPlaceActivate() != S_OK) return E_FAIL;
        inplace->OnInPlaceActivate();
        HWND host = parent;
        inplace->GetWindow(&host);
        RECT r = rect ? *rect : RECT{0, 0, 300, 200};
        Register();
        m_window = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD | WS_VISIBLE, r.left, r.top,
                                     r.right - r.left, r.bottom - r.top, host, nullptr, g_module, this);
        if (!m_window) return E_FAIL;
        ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10,
                          200, 24, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPageEditId)), g_module,
                          nullptr);
        m_initialised = true;
        Record("DoVerb(in place)");
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** e) override {
        if (e) *e = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_TestOptionsPage;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* t) override {
        if (t) *t = nullptr;
        return OLE_S_USEREG;
    }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL* size) override {
        if (!size) return E_POINTER;
        size->cx = 7938;  // 300 x 200 pixels in HIMETRIC
        size->cy = 5292;
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink*, DWORD* c) override {
        if (c) *c = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** e) override {
        if (e) *e = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        if (!status) return E_POINTER;
        *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                  OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow / IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* hwnd) override {
        if (!hwnd) return E_POINTER;
        *hwnd = m_window;
        return m_window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override {
        Record("InPlaceDeactivate");
        DestroyPageWindow();
        hv::com_ptr<IOleInPlaceSite> inplace;
        if (m_site && SUCCEEDED(m_site->QueryInterface(IID_IOleInPlaceSite, inplace.put_void())))
            inplace->OnInPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT) override {
        if (m_window && pos)
            ::MoveWindow(m_window, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // PropertyPage (dual)
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count != 1) return E_INVALIDARG;
        if (_wcsicmp(names[0], L"Dirty") == 0)
            ids[0] = hvsim::DISPID_PropertyPage_Dirty;
        else if (_wcsicmp(names[0], L"Apply") == 0)
            ids[0] = 8451;
        else
            return DISP_E_UNKNOWNNAME;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id == hvsim::DISPID_PropertyPage_Dirty && result) {
            result->vt = VT_BOOL;
            return get_Dirty(&result->boolVal);
        }
        if (id == 8451) return Apply();
        return DISP_E_MEMBERNOTFOUND;
    }
    STDMETHODIMP GetPageInfo(BSTR*, long*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Dirty(VARIANT_BOOL* dirty) override {
        if (!dirty) return E_POINTER;
        *dirty = m_dirty ? VARIANT_TRUE : VARIANT_FALSE;
        Record(std::string("Dirty=") + (m_dirty ? "true" : "false"));
        return S_OK;
    }
    STDMETHODIMP Apply() override {
        wchar_t text[256] = {};
        if (m_window) ::GetDlgItemTextW(m_window, kPageEditId, text, 256);
        hv::unique_hkey key;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) ==
            ERROR_SUCCESS)
            ::RegSetValueExW(key.get(), L"Applied", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
        m_dirty = false;
        Record("Apply");
        return S_OK;
    }

private:
    static void Register() {
        static bool done = false;
        if (done) return;
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &CTestPage::WindowProc;
        wc.hInstance = g_module;
        wc.lpszClassName = kPageClass;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        ::RegisterClassW(&wc);
        done = true;
    }
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<CTestPage*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_COMMAND && self && LOWORD(wParam) == kPageEditId && HIWORD(wParam) == EN_CHANGE)
            self->MarkDirty();
        if (msg == WM_NCDESTROY) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    void MarkDirty() {
        if (!m_initialised) return;
        m_dirty = true;
        Record("OnStatusChange");
        if (m_pageSite) m_pageSite->OnStatusChange();
    }
    void DestroyPageWindow() {
        if (m_window) {
            HWND w = m_window;
            m_window = nullptr;
            ::DestroyWindow(w);
        }
    }

    LONG m_refs = 1;
    hv::com_ptr<IOleClientSite> m_site;
    hv::com_ptr<OutlookPropertyPageSite> m_pageSite;
    HWND m_window = nullptr;
    bool m_dirty = false;
    bool m_initialised = false;
};

}  // namespace

IUnknown* CreateTestOptionsPage() {
    return static_cast<IOleObject*>(new CTestPage);
}

}  // namespace hvsimtest

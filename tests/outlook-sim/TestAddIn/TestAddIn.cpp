// HvSimTestAddIn.dll: the add-in the simulator's tests load through Outlook's registration.
// See TestAddIn.h for what it records and how it is configured.
#include "TestAddIn.h"

#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "outlook-sim/src/OfficeInterfaces.h"
#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"
#include "win/UniqueAny.h"

namespace hvsimtest {

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

namespace {

const IID IID_ApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_CommandBarButtonEvents = {0x000C0351, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::string Narrow(const wchar_t* w) {
    if (!w) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return s;
}

std::wstring WideOf(const std::string& s) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
    w.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return w;
}

DWORD Setting(const wchar_t* name) {
    DWORD v = 0, size = sizeof v;
    if (::RegGetValueW(HKEY_CURRENT_USER, kTestKey, name, RRF_RT_REG_DWORD, nullptr, &v, &size) != ERROR_SUCCESS)
        return 0;
    return v;
}

std::wstring TextSetting(const wchar_t* name) {
    DWORD size = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, kTestKey, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return L"";
    std::wstring v(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegGetValueW(HKEY_CURRENT_USER, kTestKey, name, RRF_RT_REG_SZ, nullptr, v.data(), &size) != ERROR_SUCCESS)
        return L"";
    v.resize(wcslen(v.c_str()));
    return v;
}

void SetTextSetting(const wchar_t* name, const std::wstring& value) {
    hv::unique_hkey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

// One line in "Calls".
void Record(const std::string& call) {
    SetTextSetting(L"Calls", TextSetting(L"Calls") + WideOf(call) + L"\n");
}

namespace {

// A plain IDispatch sink that forwards Invoke to a function.
class CSink final : public IDispatch {
public:
    using Handler = void (*)(void* owner, DISPID id, DISPPARAMS* params);
    CSink(const IID& iid, void* owner, Handler handler) : m_iid(iid), m_owner(owner), m_handler(handler) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == m_iid) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = ::InterlockedDecrement(&m_refs);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        if (m_owner) m_handler(m_owner, id, p);
        return S_OK;
    }
    void Detach() { m_owner = nullptr; }

    HRESULT Connect(IDispatch* source) {
        hv::com_ptr<IConnectionPointContainer> cpc;
        HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, cpc.put_void());
        if (FAILED(hr)) return hr;
        hr = cpc->FindConnectionPoint(m_iid, m_point.put());
        if (FAILED(hr)) return hr;
        return m_point->Advise(static_cast<IDispatch*>(this), &m_cookie);
    }
    void Disconnect() {
        if (m_point) m_point->Unadvise(m_cookie);
        m_point.reset();
    }

private:
    LONG m_refs = 1;
    IID m_iid;
    void* m_owner;
    Handler m_handler;
    hv::com_ptr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};

hv::com_ptr<IDispatch> GetObj(IDispatch* obj, const wchar_t* name) {
    hv::unique_variant v;
    if (FAILED(CDispatcher::GetProperty(obj, name, v.put())) || v.vt != VT_DISPATCH) return nullptr;
    return hv::com_ptr<IDispatch>(v.pdispVal);
}

std::string GetText(IDispatch* obj, const wchar_t* name) {
    hv::unique_variant v;
    if (FAILED(CDispatcher::GetProperty(obj, name, v.put()))) return "<failed>";
    if (FAILED(::VariantChangeType(&v, &v, 0, VT_BSTR))) return "<type>";
    return Narrow(v.bstrVal);
}

const wchar_t kDefaultMarkup[] =
    L"<customUI xmlns=\"http://schemas.microsoft.com/office/2006/01/customui\"><ribbon><tabs>"
    L"<tab idMso=\"TabMail\"><group id=\"hvsimGroup\" label=\"Sim\">"
    L"<button id=\"hvsimButton\" tag=\"sim-tag\" label=\"Test\" size=\"large\" getImage=\"GetTestImage\" "
    L"onAction=\"OnTestButton\"/>"
    L"</group></tab></tabs></ribbon></customUI>";

// The add-in object.
class CTestAddIn final : public IDTExtensibility2, public IRibbonExtensibility {
public:
    CTestAddIn() {
        ::InterlockedIncrement(&g_objects);
        Record("Created");
    }
    ~CTestAddIn() {
        Record("Destroyed");
        ::InterlockedDecrement(&g_objects);
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IDTExtensibility2)) {
            *ppv = static_cast<IDTExtensibility2*>(this);
        } else if (riid == __uuidof(IRibbonExtensibility)) {
            Record(m_connected ? "QueryInterface(IRibbonExtensibility)"
                               : "QueryInterface(IRibbonExtensibility) before OnConnection");
            if (!m_connected) return E_NOINTERFACE;
            *ppv = static_cast<IRibbonExtensibility*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = ::InterlockedDecrement(&m_refs);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

    // IDispatch: the ribbon callbacks by name.
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids || count != 1) return E_INVALIDARG;
        if (wcscmp(names[0], L"OnTestButton") == 0)
            ids[0] = 1;
        else if (wcscmp(names[0], L"GetTestImage") == 0)
            ids[0] = 2;
        else if (wcscmp(names[0], L"GetNotAPicture") == 0)
            ids[0] = 3;
        else
            return DISP_E_UNKNOWNNAME;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD, DISPPARAMS* p, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (!p || p->cArgs != 1 || p->rgvarg[0].vt != VT_DISPATCH) return DISP_E_BADPARAMCOUNT;
        hv::com_ptr<IRibbonControl> control;
        p->rgvarg[0].pdispVal->QueryInterface(__uuidof(IRibbonControl), control.put_void());
        if (!control) return E_INVALIDARG;
        hv::unique_bstr cid, tag;
        hv::com_ptr<IDispatch> context;
        control->get_Id(cid.put());
        control->get_Tag(tag.put());
        control->get_Context(context.put());
        std::string where = context ? GetText(context.get(), L"Class") : "none";
        std::string what =
            (id == 1 ? "onAction(" : "getImage(") + Narrow(cid.get()) + "," + Narrow(tag.get()) + "," + where + ")";
        Record(what);
        if (id == 2 && result) {
            // A 16 x 16 bitmap picture, as Office expects from getImage.
            HDC screen = ::GetDC(nullptr);
            HBITMAP bmp = ::CreateCompatibleBitmap(screen, 16, 16);
            ::ReleaseDC(nullptr, screen);
            PICTDESC desc = {};
            desc.cbSizeofstruct = sizeof desc;
            desc.picType = PICTYPE_BITMAP;
            desc.bmp.hbitmap = bmp;
            IDispatch* picture = nullptr;
            HRESULT hr = ::OleCreatePictureIndirect(&desc, IID_IDispatch, TRUE, reinterpret_cast<void**>(&picture));
            if (FAILED(hr)) {
                ::DeleteObject(bmp);
                return hr;
            }
            result->vt = VT_DISPATCH;
            result->pdispVal = picture;
        } else if (id == 3 && result) {
            result->vt = VT_BSTR;
            result->bstrVal = ::SysAllocString(L"not a picture");
        }
        return S_OK;
    }

    // IDTExtensibility2
    STDMETHODIMP OnConnection(IDispatch* application, int mode, IDispatch* addInInst, SAFEARRAY** custom) override {
        Record("OnConnection(" + std::to_string(mode) + "," + (application ? GetText(application, L"Name") : "null") +
               "," + (addInInst ? GetText(addInInst, L"ProgId") : "null") + "," +
               (custom && *custom ? "custom" : "nocustom") + ")");
        if (Setting(L"FailConnect")) return E_FAIL;
        m_app = application;
        m_connected = true;
        if (Setting(L"Leak") && application) application->AddRef();  // never released: the host must report it
        m_appSink.attach(new CSink(IID_ApplicationEvents, this, &CTestAddIn::OnAppEvent));
        m_appSink->Connect(application);
        return S_OK;
    }
    STDMETHODIMP OnDisconnection(int mode, SAFEARRAY**) override {
        Record("OnDisconnection(" + std::to_string(mode) + ")");
        Cleanup();
        m_app.reset();
        m_connected = false;
        return S_OK;
    }
    STDMETHODIMP OnAddInsUpdate(SAFEARRAY**) override {
        Record("OnAddInsUpdate");
        return S_OK;
    }
    STDMETHODIMP OnStartupComplete(SAFEARRAY**) override {
        Record("OnStartupComplete");
        if (Setting(L"CommandBar")) AddCommandBar();
        return S_OK;
    }
    STDMETHODIMP OnBeginShutdown(SAFEARRAY**) override {
        Record("OnBeginShutdown");
        Cleanup();
        return S_OK;
    }

    // IRibbonExtensibility
    STDMETHODIMP GetCustomUI(BSTR ribbonId, BSTR* xml) override {
        if (!xml) return E_POINTER;
        Record("GetCustomUI(" + Narrow(ribbonId) + ")");
        std::wstring markup = TextSetting(L"RibbonXml");
        if (markup.empty()) markup = kDefaultMarkup;
        *xml = ::SysAllocString(markup.c_str());
        return S_OK;
    }

private:
    static void OnAppEvent(void* self, DISPID id, DISPPARAMS* p) {
        switch (id) {
            case 0xF002:
                Record("ItemSend");
                break;
            case 0xF003:
                Record("NewMail");
                break;
            case 0xF005: {
                Record("OptionsPagesAdd");
                if (Setting(L"Pages") && p && p->cArgs == 1 && p->rgvarg[0].vt == VT_DISPATCH) {
                    hv::com_ptr<IDispatch> pages;
                    if (SUCCEEDED(
                            p->rgvarg[0].pdispVal->QueryInterface(hvsim::IID_OutlookPropertyPages, pages.put_void()))) {
                        VARIANT args[2];
                        args[1].vt = VT_BSTR;
                        args[1].bstrVal = ::SysAllocString(L"HvSimTest.OptionsPage");
                        args[0].vt = VT_BSTR;
                        args[0].bstrVal = ::SysAllocString(L"Test Page");
                        HRESULT hr = CDispatcher::CallMethod(pages.get(), L"Add", nullptr, 2, args);
                        ::VariantClear(&args[0]);
                        ::VariantClear(&args[1]);
                        Record(SUCCEEDED(hr) ? "PropertyPages.Add" : "PropertyPages.Add failed");
                    }
                }
                break;
            }
            case 0xF006:
                Record("Startup");
                break;
            case 0xF007:
                Record("Quit");
                break;
        }
        (void)self;
    }
    static void OnClick(void* self, DISPID id, DISPPARAMS* p) {
        (void)self;
        if (id != 1 || !p || p->cArgs != 2) return;
        // Click(Ctrl, ByRef CancelDefault): arguments arrive in reverse order.
        std::string caption = p->rgvarg[1].vt == VT_DISPATCH ? GetText(p->rgvarg[1].pdispVal, L"Caption") : "?";
        Record("Click(" + caption + ")");
    }
    void AddCommandBar() {
        auto explorer = GetObj(m_app.get(), L"ActiveExplorer");
        auto bars = explorer ? GetObj(explorer.get(), L"CommandBars") : nullptr;
        if (!bars) return Record("CommandBars failed");
        VARIANT args[4];
        args[3].vt = VT_BSTR;
        args[3].bstrVal = ::SysAllocString(L"HvSimTest");
        args[2].vt = VT_I4;
        args[2].lVal = 1;
        args[1].vt = VT_BOOL;
        args[1].boolVal = VARIANT_FALSE;
        args[0].vt = VT_BOOL;
        args[0].boolVal = VARIANT_TRUE;
        hv::unique_variant bar;
        HRESULT hr = CDispatcher::CallMethod(bars.get(), L"Add", bar.put(), 4, args);
        ::VariantClear(&args[3]);
        if (FAILED(hr) || bar.vt != VT_DISPATCH) return Record("CommandBars.Add failed");
        auto controls = GetObj(bar.pdispVal, L"Controls");
        VARIANT type;
        type.vt = VT_I4;
        type.lVal = 1;
        hv::unique_variant button;
        if (!controls || FAILED(CDispatcher::CallMethod(controls.get(), L"Add", button.put(), 1, &type)) ||
            button.vt != VT_DISPATCH)
            return Record("Controls.Add failed");
        hv::unique_variant caption = hv::unique_variant::FromString("Test Button");
        CDispatcher::PutProperty(button.pdispVal, L"Caption", &caption);
        hv::unique_variant tag = hv::unique_variant::FromString("hvsimtest");
        CDispatcher::PutProperty(button.pdispVal, L"Tag", &tag);
        m_button = button.pdispVal;
        m_bar = bar.pdispVal;
        m_clickSink.attach(new CSink(IID_CommandBarButtonEvents, this, &CTestAddIn::OnClick));
        Record(SUCCEEDED(m_clickSink->Connect(m_button.get())) ? "CommandBar added" : "Click sink failed");
    }
    void Cleanup() {
        if (m_appSink) {
            m_appSink->Disconnect();
            m_appSink->Detach();
            m_appSink.reset();
        }
        if (m_clickSink) {
            m_clickSink->Disconnect();
            m_clickSink->Detach();
            m_clickSink.reset();
        }
        if (m_bar) CDispatcher::CallMethod(m_bar.get(), L"Delete", nullptr, 0, nullptr);
        m_button.reset();
        m_bar.reset();
    }

    LONG m_refs = 1;
    bool m_connected = false;
    hv::com_ptr<IDispatch> m_app;
    hv::com_ptr<CSink> m_appSink, m_clickSink;
    hv::com_ptr<IDispatch> m_bar, m_button;
};

}  // namespace

IUnknown* CreateTestAddIn() {
    return static_cast<IDTExtensibility2*>(new CTestAddIn);
}

}  // namespace hvsimtest

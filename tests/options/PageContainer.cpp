#include "PageContainer.h"
#include <gtest/gtest.h>
#include "win/Strings.h"

namespace hvtest {

namespace {

constexpr UINT WMT_APPLY = WM_APP + 1;
constexpr UINT WMT_DIRTY = WM_APP + 2;
constexpr UINT WMT_FOCUS = WM_APP + 3;
constexpr UINT WMT_DIRTY_LOG = WM_APP + 4;
constexpr UINT WMT_DEACTIVATE = WM_APP + 5;
constexpr UINT WMT_ACTIVATE = WM_APP + 6;
constexpr wchar_t kClassName[] = L"HvOptionsTestContainer";

// The container's client site: in-place site and frame, and Outlook's page site.
class TestSite : public IOleClientSite,
                 public IOleInPlaceSite,
                 public IOleInPlaceFrame,
                 public PropertyPageSite,
                 public IServiceProvider {
public:
    TestSite(HWND window, PageContainer& owner) : m_hWnd(window), m_owner(owner) {}
    virtual ~TestSite() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
            *out = static_cast<IOleInPlaceFrame*>(this);
        else if (iid == IID_IDispatch || (iid == IID_PropertyPageSite && !m_owner.m_pageSiteAsService))
            *out = static_cast<PropertyPageSite*>(this);
        else if (iid == IID_IServiceProvider && m_owner.m_pageSiteAsService)
            *out = static_cast<IServiceProvider*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --m_cRef;
        if (!n) delete this;
        return n;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* hwnd) override {
        *hwnd = m_hWnd;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *doc = nullptr;
        ::GetClientRect(m_hWnd, pos);
        *clip = *pos;
        info->fMDIApp = FALSE;
        info->hwndFrame = m_hWnd;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow, IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
        m_active = active;
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch of PropertyPageSite: only OnStatusChange is of interest.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == 0x2100) return OnStatusChange();
        return DISP_E_MEMBERNOTFOUND;
    }

    // PropertyPageSite
    STDMETHODIMP get_Application(IDispatch** app) override {
        *app = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Class(long* cls) override {
        *cls = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Session(IDispatch** session) override {
        *session = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Parent(IDispatch** parent) override {
        *parent = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP OnStatusChange() override {
        m_owner.OnStatusChange();
        return S_OK;
    }

    // IServiceProvider
    STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (service != IID_PropertyPageSite) return E_NOINTERFACE;
        if (iid != IID_PropertyPageSite && iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
        *out = static_cast<PropertyPageSite*>(this);
        AddRef();
        return S_OK;
    }

    IOleInPlaceActiveObject* Active() const noexcept { return m_active.get(); }

private:
    ULONG m_cRef = 1;
    HWND m_hWnd;
    PageContainer& m_owner;
    hv::com_ptr<IOleInPlaceActiveObject> m_active;
};

struct WindowState {
    PageContainer* owner = nullptr;
    IUnknown* page = nullptr;
    IOleClientSite* site = nullptr;
    bool destroyed = false;
};

LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WindowState* state = reinterpret_cast<WindowState*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WMT_APPLY:
        case WMT_DIRTY: {
            hv::com_ptr<PropertyPage> page;
            if (!state || !state->page || FAILED(state->page->QueryInterface(IID_PropertyPage, page.put_void())))
                return E_NOINTERFACE;
            if (msg == WMT_APPLY) return page->Apply();
            VARIANT_BOOL dirty = VARIANT_FALSE;
            page->get_Dirty(&dirty);
            return dirty ? 1 : 0;
        }
        case WMT_FOCUS: {
            HWND page = ::FindWindowExW(hwnd, nullptr, L"#32770", nullptr);
            ::SetFocus(::GetDlgItem(page, static_cast<int>(wParam)));
            return 0;
        }
        case WMT_DEACTIVATE: {
            hv::com_ptr<IOleInPlaceObject> inPlace;
            if (!state || !state->page ||
                FAILED(state->page->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void())))
                return E_NOINTERFACE;
            return inPlace->InPlaceDeactivate();
        }
        case WMT_ACTIVATE: {
            hv::com_ptr<IOleObject> object;
            if (!state || !state->page || FAILED(state->page->QueryInterface(IID_IOleObject, object.put_void())))
                return E_NOINTERFACE;
            RECT rect{};
            ::GetClientRect(hwnd, &rect);
            return object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, state->site, 0, hwnd, &rect);
        }
        case WMT_DIRTY_LOG:
            if (state) *reinterpret_cast<std::vector<bool>*>(lParam) = state->owner->m_dirtyAtChange;
            return 0;
        case WM_CLOSE:
            ::DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            if (state) state->destroyed = true;
            return 0;
        default:
            return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void RegisterContainerClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ContainerProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    registered = ::RegisterClassW(&wc) != 0;
}

}  // namespace

HRESULT PageDriver::Apply() const {
    return static_cast<HRESULT>(::SendMessageW(m_container, WMT_APPLY, 0, 0));
}
bool PageDriver::Dirty() const {
    return ::SendMessageW(m_container, WMT_DIRTY, 0, 0) == 1;
}
int PageDriver::StatusChanges() const {
    return m_owner.m_statusChanges.load();
}
std::vector<bool> PageDriver::DirtyAtStatusChanges() const {
    std::vector<bool> log;
    ::SendMessageW(m_container, WMT_DIRTY_LOG, 0, reinterpret_cast<LPARAM>(&log));
    return log;
}
HRESULT PageDriver::Deactivate() const {
    return static_cast<HRESULT>(::SendMessageW(m_container, WMT_DEACTIVATE, 0, 0));
}
HWND PageDriver::Reactivate() {
    if (FAILED(static_cast<HRESULT>(::SendMessageW(m_container, WMT_ACTIVATE, 0, 0)))) return nullptr;
    m_page = ::FindWindowExW(m_container, nullptr, L"#32770", nullptr);
    return m_page;
}
void PageDriver::Focus(int id) const {
    ::SendMessageW(m_container, WMT_FOCUS, static_cast<WPARAM>(id), 0);
}

void PageContainer::OnStatusChange() {
    // As Outlook does: the notification makes the container ask the page whether it is dirty.
    hv::com_ptr<PropertyPage> page;
    VARIANT_BOOL dirty = VARIANT_FALSE;
    if (m_page && SUCCEEDED(m_page->QueryInterface(IID_PropertyPage, page.put_void()))) page->get_Dirty(&dirty);
    m_dirtyAtChange.push_back(dirty != VARIANT_FALSE);
    ++m_statusChanges;
}

void PageContainer::Run(const std::function<void(hv::uiauto::Automation&, PageDriver&)>& driver) {
    RegisterContainerClass();
    // The window stays hidden, as the simulator's are: under Wine without a window manager every
    // shown window costs seconds. The driver finds it through this handle instead of its caption.
    std::atomic<HWND> shown{nullptr};
    hv::uiauto::RunWhileDriving(
        [&] {
            WindowState state;
            state.owner = this;
            HWND window = ::CreateWindowExW(0, kClassName, hv::ToWide(kContainerCaption).c_str(),
                                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 560, 520, nullptr, nullptr,
                                            ::GetModuleHandleW(nullptr), nullptr);
            ASSERT_NE(nullptr, window);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
            TestSite* site = new TestSite(window, *this);
            HRESULT hr = m_factory(m_page.put());
            hv::com_ptr<IOleObject> object;
            if (SUCCEEDED(hr)) hr = m_page->QueryInterface(IID_IOleObject, object.put_void());
            if (SUCCEEDED(hr)) {
                state.page = m_page.get();
                state.site = static_cast<IOleClientSite*>(site);
                m_hrSetClientSite = object->SetClientSite(static_cast<IOleClientSite*>(site));
                RECT rect{};
                ::GetClientRect(window, &rect);
                m_hrDoVerb =
                    object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, static_cast<IOleClientSite*>(site), 0, window, &rect);
                shown = window;
            } else {
                ADD_FAILURE() << "the page could not be created: 0x" << std::hex << hr;
                ::DestroyWindow(window);
            }
            MSG msg;
            while (!state.destroyed && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                if (site->Active() && site->Active()->TranslateAccelerator(&msg) == S_OK) continue;
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            if (object) {
                object->Close(OLECLOSE_NOSAVE);
                object->SetClientSite(nullptr);
            }
            object.reset();
            state.page = nullptr;
            m_page.reset();
            site->Release();
        },
        [&](hv::uiauto::Automation& ui) {
            HWND container = nullptr;
            if (!ui.WaitUntil([&] { return (container = shown.load()) != nullptr; }))
                throw hv::uiauto::AutomationError("the container did not open");
            HWND page = nullptr;
            if (!ui.WaitUntil(
                    [&] { return (page = ::FindWindowExW(container, nullptr, L"#32770", nullptr)) != nullptr; }))
                throw hv::uiauto::AutomationError("the page was not activated in the container");
            PageDriver pageDriver(container, page, *this);
            driver(ui, pageDriver);
            hv::uiauto::Automation::Close(container);
        },
        60000);
}

HRESULT CreatePageByProgId(IUnknown** page) {
    CLSID clsid{};
    HRESULT hr = ::CLSIDFromProgID(L"HvToolsOpts.PropPage", &clsid);
    if (FAILED(hr)) return hr;
    return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(page));
}

}  // namespace hvtest

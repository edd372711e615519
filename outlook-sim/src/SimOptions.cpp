#include "outlook-sim/src/SimOptions.h"

#include <commctrl.h>
#include <ocidl.h>
#include <olectl.h>
#include <servprov.h>

#include <cstdio>

#include "outlook-sim/src/OfficeInterfaces.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOutlook.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"

namespace hvsim {

namespace {

constexpr DISPID DISPID_OptionsPagesAdd = 0xF005;
constexpr long olPropertyPages = 71, olPropertyPageSite = 70;

[[noreturn]] void Fail(HRESULT hr, const std::string& text) {
    throw SimError(hr, text);
}

// PropertyPages: Add(ProgID or object, Caption), Remove(Index), Count, Item(Index).
class CPropertyPages : public CSimObject {
public:
    CPropertyPages(IDispatch* app, std::shared_ptr<std::vector<PropertyPageEntry>> entries)
        : m_app(app), m_entries(std::move(entries)) {}
    const char* TypeName() const override { return "PropertyPages"; }

protected:
    void* ExtraInterface(REFIID riid) override {
        // Outlook's PropertyPages is dual; callers reach it through IDispatch.
        return riid == IID_OutlookPropertyPages ? static_cast<IDispatch*>(this) : nullptr;
    }
    const std::vector<const char*>& Names() const override {
        static const std::vector<const char*> n = {"Add",         "Remove", "Count",   "Item",
                                                   "Application", "Class",  "Session", "Parent"};
        return n;
    }
    void Call(int member, bool put, Args& args, VARIANT* result) override {
        if (put) NotFound();
        switch (member) {
            case 0: {
                const VARIANT* page = args.At(0);
                if (!page) Fail(E_INVALIDARG, "A page is required");
                PropertyPageEntry e;
                if (page->vt == VT_BSTR) {
                    e.progId = Utf8(page->bstrVal);
                    if (e.progId.empty()) Fail(E_INVALIDARG, "The ProgID is empty");
                } else if ((page->vt == VT_DISPATCH || page->vt == VT_UNKNOWN) && page->punkVal) {
                    e.object = page->punkVal;
                } else {
                    Fail(E_INVALIDARG, "A ProgID or a page object was expected");
                }
                e.caption = args.TextOr(1, std::string());
                m_entries->push_back(e);
                return;
            }
            case 1: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(m_entries->size()))
                    Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                m_entries->erase(m_entries->begin() + (i - 1));
                return;
            }
            case 2:
                SetLong(result, static_cast<long>(m_entries->size()));
                return;
            case 3: {
                long i = args.Long(0);
                if (i < 1 || i > static_cast<long>(m_entries->size()))
                    Fail(DISP_E_BADINDEX, "Array index out of bounds.");
                const auto& e = (*m_entries)[static_cast<size_t>(i - 1)];
                if (e.object) {
                    hv::com_ptr<IDispatch> d;
                    e.object->QueryInterface(IID_IDispatch, d.put_void());
                    SetDispatch(result, d.get());
                } else {
                    SetText(result, e.progId);
                }
                return;
            }
            case 4:
            case 7:
                SetDispatch(result, m_app.get());
                return;
            case 5:
                SetLong(result, olPropertyPages);
                return;
            case 6: {
                hv::unique_variant ns;
                CDispatcher::GetProperty(m_app.get(), L"Session", ns.put());
                SetDispatch(result, ns.vt == VT_DISPATCH ? ns.pdispVal : nullptr);
                return;
            }
        }
        NotFound();
    }

private:
    hv::com_ptr<IDispatch> m_app;
    std::shared_ptr<std::vector<PropertyPageEntry>> m_entries;
};

// The client site of one page: an OLE in-place container that also is (and serves) Outlook's
// PropertyPageSite. A page finds its site by QueryInterface on the client site or through
// IServiceProvider::QueryService(IID_PropertyPageSite); both answer the same object.
class CPageSite final : public IOleClientSite,
                        public IOleInPlaceSite,
                        public IOleInPlaceFrame,
                        public IOleControlSite,
                        public IServiceProvider,
                        public OutlookPropertyPageSite {
public:
    CPageSite(OptionsDialog* dialog, HWND parent, RECT rect, IDispatch* app)
        : m_dialog(dialog), m_parent(parent), m_rect(rect), m_app(app) {}
    void Detach() { m_dialog = nullptr; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *ppv = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
            *ppv = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IOleControlSite)
            *ppv = static_cast<IOleControlSite*>(this);
        else if (riid == IID_IServiceProvider)
            *ppv = static_cast<IServiceProvider*>(this);
        else if (riid == IID_IDispatch || riid == __uuidof(OutlookPropertyPageSite))
            *ppv = static_cast<OutlookPropertyPageSite*>(this);
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

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** mk) override {
        if (mk) *mk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** c) override {
        if (c) *c = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (shared by the site and the frame)
    STDMETHODIMP GetWindow(HWND* hwnd) override {
        if (!hwnd) return E_POINTER;
        *hwnd = m_parent;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override {
        if (frame) {
            *frame = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
        }
        if (doc) *doc = nullptr;
        if (pos) *pos = m_rect;
        if (clip) *clip = m_rect;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = m_parent;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow / IOleInPlaceFrame: a frame without tools or menus.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** d) override {
        if (d) *d = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

    // IServiceProvider
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (service == __uuidof(OutlookPropertyPageSite)) return QueryInterface(riid, ppv);
        return E_NOINTERFACE;
    }

    // PropertyPageSite
    STDMETHODIMP get_Application(IDispatch** app) override {
        if (!app) return E_POINTER;
        *app = m_app.copy();
        return S_OK;
    }
    STDMETHODIMP get_Class(long* cls) override {
        if (!cls) return E_POINTER;
        *cls = olPropertyPageSite;
        return S_OK;
    }
    STDMETHODIMP get_Session(IDispatch** session) override {
        if (!session) return E_POINTER;
        *session = nullptr;
        hv::unique_variant ns;
        HRESULT hr = CDispatcher::GetProperty(m_app.get(), L"Session", ns.put());
        if (SUCCEEDED(hr) && ns.vt == VT_DISPATCH && ns.pdispVal)
            *session = hv::com_ptr<IDispatch>(ns.pdispVal).detach();
        return hr;
    }
    STDMETHODIMP get_Parent(IDispatch** parent) override { return get_Application(parent); }
    STDMETHODIMP OnStatusChange() override {
        if (m_dialog) m_dialog->OnStatusChange();
        return S_OK;
    }

    // IDispatch: PropertyPageSite's members by name and DISPID; ambient properties asked of
    // the client site answer "user mode" and nothing else.
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (!n) return E_POINTER;
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        static const std::pair<const wchar_t*, DISPID> members[] = {{L"Application", 61440},
                                                                    {L"Parent", 61441},
                                                                    {L"Class", 61450},
                                                                    {L"Session", 61451},
                                                                    {L"OnStatusChange", 8448}};
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        for (const auto& m : members)
            if (_wcsicmp(names[0], m.first) == 0) ids[0] = m.second;
        return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        VARIANT ignored;
        ::VariantInit(&ignored);
        VARIANT* out = result ? result : &ignored;
        ::VariantInit(out);
        HRESULT hr = DISP_E_MEMBERNOTFOUND;
        switch (id) {
            case 61440:
            case 61441:
                out->vt = VT_DISPATCH;
                hr = get_Application(&out->pdispVal);
                break;
            case 61450:
                out->vt = VT_I4;
                hr = get_Class(&out->lVal);
                break;
            case 61451:
                out->vt = VT_DISPATCH;
                hr = get_Session(&out->pdispVal);
                break;
            case 8448:
                hr = OnStatusChange();
                break;
            case DISPID_AMBIENT_USERMODE:
                out->vt = VT_BOOL;
                out->boolVal = VARIANT_TRUE;
                hr = S_OK;
                break;
        }
        if (FAILED(hr)) out->vt = VT_EMPTY;
        ::VariantClear(&ignored);
        return hr;
    }

private:
    LONG m_refs = 1;
    OptionsDialog* m_dialog;
    HWND m_parent;
    RECT m_rect;
    hv::com_ptr<IDispatch> m_app;
};

bool ShowOptionsWindow() {
    wchar_t value[8] = {};
    return ::GetEnvironmentVariableW(L"HVSIM_SHOW_WINDOWS", value, 8) > 0 && value[0] == L'1';
}

}  // namespace

hv::com_ptr<IDispatch> NewPropertyPages(IDispatch* application,
                                        std::shared_ptr<std::vector<PropertyPageEntry>> entries) {
    return hv::com_ptr<IDispatch>(MakeSim<CPropertyPages>(application, std::move(entries)).get());
}

// ---------------------------------------------------------------------------------------------

struct OptionsDialog::Page {
    std::string caption;
    std::string progId;
    hv::com_ptr<IOleObject> ole;
    hv::com_ptr<CPageSite> site;
    HWND window = nullptr;
};

OptionsDialog::OptionsDialog(SimOutlook& outlook) : m_outlook(outlook) {}

OptionsDialog::~OptionsDialog() {
    Close();
}

HWND OptionsDialog::Open() {
    if (m_dialog) return m_dialog;
    m_errors.clear();
    m_statusChanges = 0;
    m_entries = std::make_shared<std::vector<PropertyPageEntry>>();
    {
        auto pages = NewPropertyPages(m_outlook.Application(), m_entries);
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = pages.get();
        m_outlook.FireApplicationEvent(DISPID_OptionsPagesAdd, {&arg});
    }
    // An empty dialog template; the controls are created in WM_INITDIALOG.
    struct alignas(4) {
        DLGTEMPLATE t;
        WORD menu, cls, title[8];
    } tpl = {};
    tpl.t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | (ShowOptionsWindow() ? WS_VISIBLE : 0);
    tpl.t.cx = 320;
    tpl.t.cy = 280;
    const wchar_t caption[] = L"Options";
    for (size_t i = 0; i < 7; ++i) tpl.title[i] = caption[i];
    m_dialog = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &tpl.t, nullptr, &OptionsDialog::DialogProc,
                                            reinterpret_cast<LPARAM>(this));
    if (!m_dialog) return nullptr;
    CreatePages();
    ShowSelected();
    return m_dialog;
}

INT_PTR CALLBACK OptionsDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<OptionsDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    try {
        switch (msg) {
            case WM_INITDIALOG: {
                ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
                RECT client;
                ::GetClientRect(hwnd, &client);
                HINSTANCE inst = ::GetModuleHandleW(nullptr);
                HWND tab =
                    ::CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 8, 8,
                                      client.right - 16, client.bottom - 56, hwnd,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOptionsTabId)), inst, nullptr);
                TCITEMW item = {};
                item.mask = TCIF_TEXT;
                item.pszText = const_cast<LPWSTR>(L"Preferences");
                ::SendMessageW(tab, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
                struct Button {
                    const wchar_t* text;
                    int id;
                    int offset;
                };
                const Button buttons[] = {{L"OK", IDOK, 3}, {L"Cancel", IDCANCEL, 2}, {L"&Apply", kOptionsApplyId, 1}};
                for (const auto& b : buttons) {
                    HWND w = ::CreateWindowExW(0, L"BUTTON", b.text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                               client.right - b.offset * 84, client.bottom - 36, 76, 26, hwnd,
                                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), inst, nullptr);
                    if (b.id == kOptionsApplyId) ::EnableWindow(w, FALSE);
                }
                return TRUE;
            }
            case WM_COMMAND:
                if (!self || HIWORD(wParam) != BN_CLICKED) break;
                switch (LOWORD(wParam)) {
                    case IDOK:
                        self->Ok();
                        return TRUE;
                    case IDCANCEL:
                        self->Cancel();
                        return TRUE;
                    case kOptionsApplyId:
                        self->Apply();
                        return TRUE;
                }
                break;
            case WM_NOTIFY: {
                auto* hdr = reinterpret_cast<NMHDR*>(lParam);
                if (self && hdr->idFrom == static_cast<UINT_PTR>(kOptionsTabId) && hdr->code == TCN_SELCHANGE)
                    self->ShowSelected();
                break;
            }
            case WM_CLOSE:
                if (self) self->Cancel();
                return TRUE;
        }
    } catch (...) {
    }
    return FALSE;
}

RECT OptionsDialog::PageRect() const {
    HWND tab = ::GetDlgItem(m_dialog, kOptionsTabId);
    RECT r;
    ::GetWindowRect(tab, &r);
    ::MapWindowPoints(nullptr, m_dialog, reinterpret_cast<POINT*>(&r), 2);
    ::SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    return r;
}

void OptionsDialog::CreatePages() {
    HWND tab = ::GetDlgItem(m_dialog, kOptionsTabId);
    const RECT rect = PageRect();
    for (const auto& e : *m_entries) {
        auto page = std::make_unique<Page>();
        page->caption = e.caption;
        page->progId = e.progId;
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        std::wstring text = Wide(e.caption);
        item.pszText = text.data();
        int index = static_cast<int>(::SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
        ::SendMessageW(tab, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item));

        auto fail = [&](const std::string& why, HRESULT hr) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
            m_errors.push_back("The page \"" + e.caption + "\" (" + (e.progId.empty() ? "object" : e.progId) + ") " +
                               why + " (" + code + ")");
        };
        HRESULT hr = S_OK;
        // The page is an ActiveX control: created by ProgID (or handed over as an object).
        if (e.object) {
            hr = e.object->QueryInterface(IID_IOleObject, page->ole.put_void());
        } else {
            CLSID clsid;
            hr = ::CLSIDFromProgID(Wide(e.progId).c_str(), &clsid);
            if (SUCCEEDED(hr))
                hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, page->ole.put_void());
        }
        if (FAILED(hr)) {
            fail("could not be created as an ActiveX control", hr);
            m_pages.push_back(std::move(page));
            continue;
        }
        page->site.attach(new CPageSite(this, m_dialog, rect, m_outlook.Application()));
        DWORD misc = 0;
        page->ole->GetMiscStatus(DVASPECT_CONTENT, &misc);
        bool sited = false;
        if (misc & OLEMISC_SETCLIENTSITEFIRST) {
            hr = page->ole->SetClientSite(static_cast<IOleClientSite*>(page->site.get()));
            sited = true;
        }
        if (SUCCEEDED(hr)) {
            hv::com_ptr<IPersistStreamInit> init;
            page->ole->QueryInterface(IID_IPersistStreamInit, init.put_void());
            if (init) init->InitNew();
            if (!sited) hr = page->ole->SetClientSite(static_cast<IOleClientSite*>(page->site.get()));
        }
        if (SUCCEEDED(hr)) {
            RECT r = rect;
            hr = page->ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(page->site.get()), 0,
                                   m_dialog, &r);
        }
        if (FAILED(hr)) {
            fail("could not be sited and activated", hr);
        } else {
            hv::com_ptr<IOleInPlaceObject> inplace;
            page->ole->QueryInterface(IID_IOleInPlaceObject, inplace.put_void());
            if (inplace) inplace->GetWindow(&page->window);
        }
        m_pages.push_back(std::move(page));
    }
}

void OptionsDialog::ShowSelected() {
    if (!m_dialog) return;
    int selected = static_cast<int>(::SendMessageW(::GetDlgItem(m_dialog, kOptionsTabId), TCM_GETCURSEL, 0, 0));
    for (size_t i = 0; i < m_pages.size(); ++i) {
        if (!m_pages[i]->window) continue;
        const bool shown = static_cast<int>(i) + 1 == selected;
        ::ShowWindow(m_pages[i]->window, shown ? SW_SHOW : SW_HIDE);
        // Above the tab control, which was made first and would otherwise paint over the page.
        if (shown) ::SetWindowPos(m_pages[i]->window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

std::vector<std::string> OptionsDialog::TabCaptions() const {
    std::vector<std::string> out;
    if (!m_dialog) return out;
    out.push_back("Preferences");
    for (const auto& p : m_pages) out.push_back(p->caption);
    return out;
}

bool OptionsDialog::SelectTab(const std::string& caption) {
    auto captions = TabCaptions();
    for (size_t i = 0; i < captions.size(); ++i) {
        if (captions[i] != caption) continue;
        HWND tab = ::GetDlgItem(m_dialog, kOptionsTabId);
        ::SendMessageW(tab, TCM_SETCURSEL, i, 0);
        ShowSelected();
        return true;
    }
    return false;
}

HWND OptionsDialog::PageWindow(const std::string& caption) const {
    for (const auto& p : m_pages)
        if (p->caption == caption) return p->window;
    return nullptr;
}

bool OptionsDialog::ApplyEnabled() const {
    return m_dialog && ::IsWindowEnabled(::GetDlgItem(m_dialog, kOptionsApplyId));
}

void OptionsDialog::OnStatusChange() {
    ++m_statusChanges;
    if (m_dialog) ::EnableWindow(::GetDlgItem(m_dialog, kOptionsApplyId), TRUE);
}

void OptionsDialog::Apply() {
    for (const auto& p : m_pages) {
        if (!p->ole) continue;
        VARIANT_BOOL dirty = VARIANT_FALSE;
        hv::com_ptr<OutlookPropertyPage> page;
        p->ole->QueryInterface(__uuidof(OutlookPropertyPage), page.put_void());
        if (page) {
            if (SUCCEEDED(page->get_Dirty(&dirty)) && dirty != VARIANT_FALSE) page->Apply();
            continue;
        }
        // A page that answers PropertyPage only through IDispatch.
        hv::com_ptr<IDispatch> disp;
        p->ole->QueryInterface(IID_IDispatch, disp.put_void());
        if (!disp) continue;
        hv::unique_variant v;
        if (SUCCEEDED(CDispatcher::GetProperty(disp.get(), L"Dirty", v.put())) && v.vt == VT_BOOL &&
            v.boolVal != VARIANT_FALSE)
            CDispatcher::CallMethod(disp.get(), L"Apply", nullptr, 0, nullptr);
    }
    if (m_dialog) ::EnableWindow(::GetDlgItem(m_dialog, kOptionsApplyId), FALSE);
}

void OptionsDialog::Ok() {
    Apply();
    Close();
}

void OptionsDialog::Cancel() {
    Close();
}

void OptionsDialog::Close() {
    std::vector<std::unique_ptr<Page>> pages;
    pages.swap(m_pages);
    for (auto& p : pages) {
        if (p->site) p->site->Detach();
        if (!p->ole) continue;
        hv::com_ptr<IOleInPlaceObject> inplace;
        p->ole->QueryInterface(IID_IOleInPlaceObject, inplace.put_void());
        if (inplace) inplace->InPlaceDeactivate();
        p->ole->Close(OLECLOSE_NOSAVE);
        p->ole->SetClientSite(nullptr);
    }
    pages.clear();  // releases the controls
    m_entries.reset();
    if (m_dialog) {
        HWND dialog = m_dialog;
        m_dialog = nullptr;
        ::DestroyWindow(dialog);
    }
}

}  // namespace hvsim

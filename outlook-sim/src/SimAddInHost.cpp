#include "outlook-sim/src/SimAddInHost.h"

#include <msxml2.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOutlook.h"
#include "win/ComTypes.h"
#include "win/UniqueAny.h"

__CRT_UUID_DECL(IXMLDOMElement, 0x2933BF86, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)

namespace hvsim {

namespace {

const wchar_t kAddinsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";
const CLSID kClsidDomDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const char kCustomUi2006[] = "http://schemas.microsoft.com/office/2006/01/customui";
const char kCustomUi2009[] = "http://schemas.microsoft.com/office/2009/07/customui";

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string ReadString(HKEY key, const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    return Utf8(buffer);
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
    DWORD size = sizeof *value, type = 0;
    return ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

// The empty `custom` array Office hands to every IDTExtensibility2 call.
class CustomArray {
public:
    CustomArray() : m_array(::SafeArrayCreateVector(VT_VARIANT, 0, 0)) {}
    ~CustomArray() {
        if (m_array) ::SafeArrayDestroy(m_array);
    }
    CustomArray(const CustomArray&) = delete;
    CustomArray& operator=(const CustomArray&) = delete;
    SAFEARRAY** get() { return &m_array; }

private:
    SAFEARRAY* m_array;
};

// The IRibbonControl Office passes to every callback: Id, Context (the window) and Tag.
class CRibbonControl final : public IRibbonControl {
public:
    CRibbonControl(std::string id, IDispatch* context, std::string tag)
        : m_id(std::move(id)), m_context(context), m_tag(std::move(tag)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IRibbonControl)) {
            *ppv = static_cast<IRibbonControl*>(this);
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
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        static const wchar_t* members[] = {L"Id", L"Context", L"Tag"};
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        for (int m = 0; m < 3; ++m)
            if (_wcsicmp(names[0], members[m]) == 0) ids[0] = m + 1;
        return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
        VARIANT ignored;
        ::VariantInit(&ignored);
        VARIANT* out = result ? result : &ignored;
        ::VariantInit(out);
        HRESULT hr = DISP_E_MEMBERNOTFOUND;
        switch (id) {
            case 1:
                out->vt = VT_BSTR;
                hr = get_Id(&out->bstrVal);
                break;
            case 2:
                out->vt = VT_DISPATCH;
                hr = get_Context(&out->pdispVal);
                break;
            case 3:
                out->vt = VT_BSTR;
                hr = get_Tag(&out->bstrVal);
                break;
        }
        if (FAILED(hr)) out->vt = VT_EMPTY;
        ::VariantClear(&ignored);
        return hr;
    }
    STDMETHODIMP get_Id(BSTR* id) override {
        if (!id) return E_POINTER;
        *id = ::SysAllocString(Wide(m_id).c_str());
        return S_OK;
    }
    STDMETHODIMP get_Context(IDispatch** context) override {
        if (!context) return E_POINTER;
        *context = m_context.copy();
        return S_OK;
    }
    STDMETHODIMP get_Tag(BSTR* tag) override {
        if (!tag) return E_POINTER;
        *tag = ::SysAllocString(Wide(m_tag).c_str());
        return S_OK;
    }

private:
    LONG m_refs = 1;
    std::string m_id;
    hv::com_ptr<IDispatch> m_context;
    std::string m_tag;
};

// Calls a ribbon callback by name, with the control as its one argument, the way Office does:
// GetIDsOfNames(IID_NULL) on the add-in's IDispatch, then Invoke(DISPATCH_METHOD).
HRESULT CallRibbonCallback(IDispatch* target, const std::string& name, IRibbonControl* control, VARIANT* result,
                           std::string* error) {
    std::wstring wide = Wide(name);
    LPOLESTR names[] = {const_cast<LPOLESTR>(wide.c_str())};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        if (error) *error = "the add-in has no callback \"" + name + "\" (" + Hex(hr) + ")";
        return hr;
    }
    VARIANT arg;
    arg.vt = VT_DISPATCH;
    arg.pdispVal = control;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    EXCEPINFO excep = {};
    UINT argErr = 0;
    hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &excep, &argErr);
    if (excep.bstrSource) ::SysFreeString(excep.bstrSource);
    if (excep.bstrDescription) ::SysFreeString(excep.bstrDescription);
    if (excep.bstrHelpFile) ::SysFreeString(excep.bstrHelpFile);
    if (FAILED(hr) && error) *error = "the callback \"" + name + "\" failed (" + Hex(hr) + ")";
    return hr;
}

std::string Attribute(IXMLDOMElement* e, const wchar_t* name) {
    hv::unique_variant v;
    hv::unique_bstr n = hv::MakeBstr(name);
    if (e->getAttribute(n.get(), v.put()) != S_OK || v.vt != VT_BSTR) return std::string();
    return Utf8(v.bstrVal);
}

bool HasAttribute(IXMLDOMElement* e, const wchar_t* name) {
    hv::unique_variant v;
    hv::unique_bstr n = hv::MakeBstr(name);
    return e->getAttribute(n.get(), v.put()) == S_OK && v.vt == VT_BSTR;
}

std::string NodeText(IXMLDOMNode* node, HRESULT (STDMETHODCALLTYPE IXMLDOMNode::*getter)(BSTR*)) {
    hv::unique_bstr text;
    if (FAILED((node->*getter)(text.put())) || !text.get()) return std::string();
    return Utf8(text.get());
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct AddInHost::Loaded {
    std::string progId;
    hv::com_ptr<IUnknown> object;
    hv::com_ptr<IDTExtensibility2> ext;
    hv::com_ptr<IRibbonExtensibility> ribbon;
    std::set<std::string> ribbonsAsked;
};

AddInHost::AddInHost(SimOutlook& outlook) : m_outlook(outlook) {}
AddInHost::AddInHost(SimOutlook& outlook, IDispatch* application) : m_outlook(outlook), m_application(application) {}

IDispatch* AddInHost::Application() const {
    return m_application ? m_application.get() : m_outlook.Application();
}
AddInHost::~AddInHost() = default;

void AddInHost::Note(const std::string& message) {
    m_messages.push_back(message);
    m_outlook.GetModel().log.push_back(message);
}

AddInHost::Loaded* AddInHost::Find(const std::string& progId) const {
    for (const auto& l : m_loaded)
        if (_stricmp(l->progId.c_str(), progId.c_str()) == 0) return l.get();
    return nullptr;
}

const AddInState* AddInHost::State(const std::string& progId) const {
    for (const auto& s : m_states)
        if (_stricmp(s.progId.c_str(), progId.c_str()) == 0) return &s;
    return nullptr;
}

bool AddInHost::IsConnected(const std::string& progId) const {
    return Find(progId) != nullptr;
}

IDispatch* AddInHost::AddInObject(const std::string& progId) const {
    Loaded* l = Find(progId);
    if (!l) return nullptr;
    for (const auto& a : m_outlook.GetModel().addIns)
        if (_stricmp(a.progId.c_str(), progId.c_str()) == 0) return a.object;
    return nullptr;
}

size_t AddInHost::Start() {
    m_states.clear();
    // Per-user registrations first; a machine registration of the same ProgID adds nothing.
    const std::pair<HKEY, const char*> hives[] = {{HKEY_CURRENT_USER, "HKCU"}, {HKEY_LOCAL_MACHINE, "HKLM"}};
    for (const auto& hive : hives) {
        hv::unique_hkey root;
        if (::RegOpenKeyExW(hive.first, kAddinsKey, 0, KEY_READ, root.put()) != ERROR_SUCCESS) continue;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD len = 256;
            if (::RegEnumKeyExW(root.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            AddInState st;
            st.progId = Utf8(name);
            if (State(st.progId)) continue;
            st.hive = hive.second;
            hv::unique_hkey key;
            if (::RegOpenKeyExW(root.get(), name, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
                ReadDword(key.get(), L"LoadBehavior", &st.loadBehavior);
                st.friendlyName = ReadString(key.get(), L"FriendlyName");
                st.description = ReadString(key.get(), L"Description");
            }
            m_states.push_back(st);
        }
    }
    // COMAddIns lists every registered add-in, loaded or not.
    auto& list = m_outlook.GetModel().addIns;
    for (const auto& st : m_states) {
        bool known = false;
        for (const auto& a : list) known = known || _stricmp(a.progId.c_str(), st.progId.c_str()) == 0;
        if (!known)
            list.push_back(
                AddInEntry{st.progId, st.description.empty() ? st.friendlyName : st.description, false, nullptr});
    }
    size_t connected = 0;
    for (auto& st : m_states)
        if ((st.loadBehavior & 3) == 3 && !Find(st.progId) && LoadOne(st, ext_cm_Startup)) ++connected;
    std::vector<Loaded*> order;
    for (const auto& l : m_loaded) order.push_back(l.get());
    for (Loaded* l : order) {
        CustomArray custom;
        if (l->ext) l->ext->OnAddInsUpdate(custom.get());
    }
    for (Loaded* l : order) {
        CustomArray custom;
        if (l->ext) l->ext->OnStartupComplete(custom.get());
    }
    return connected;
}

bool AddInHost::LoadOne(AddInState& st, int connectMode) {
    auto fail = [&](const std::string& why, HRESULT hr) {
        st.connected = false;
        st.error = why + " (" + Hex(hr) + ")";
        Note("Not loaded. A runtime error occurred during the loading of the COM Add-in. " + st.progId + ": " +
             st.error);
        // Office stops loading an add-in that failed: LoadBehavior drops to 2 (not loaded).
        if (!st.hive.empty()) {
            hv::unique_hkey key;
            std::wstring path = std::wstring(kAddinsKey) + L"\\" + Wide(st.progId);
            if (::RegOpenKeyExW(st.hive == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
                DWORD two = 2;
                ::RegSetValueExW(key.get(), L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two),
                                 sizeof two);
                st.loadBehavior = 2;
            }
        }
        return false;
    };
    CLSID clsid;
    HRESULT hr = ::CLSIDFromProgID(Wide(st.progId).c_str(), &clsid);
    if (FAILED(hr)) return fail("the ProgID is not registered", hr);
    auto loaded = std::make_unique<Loaded>();
    loaded->progId = st.progId;
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, loaded->object.put_void());
    if (FAILED(hr)) return fail("the add-in could not be created", hr);
    hr = loaded->object->QueryInterface(__uuidof(IDTExtensibility2), loaded->ext.put_void());
    if (FAILED(hr)) return fail("the add-in does not implement IDTExtensibility2", hr);

    auto& list = m_outlook.GetModel().addIns;
    size_t index = list.size();
    for (size_t i = 0; i < list.size(); ++i)
        if (_stricmp(list[i].progId.c_str(), st.progId.c_str()) == 0) index = i;
    if (index == list.size()) list.push_back(AddInEntry{st.progId, st.description, false, nullptr});
    IDispatch* comAddIn = m_outlook.ComAddInObject(index);
    Loaded* l = loaded.get();
    m_loaded.push_back(std::move(loaded));
    CustomArray custom;
    hr = l->ext->OnConnection(Application(), connectMode, comAddIn, custom.get());
    if (FAILED(hr)) {
        auto it = std::find_if(m_loaded.begin(), m_loaded.end(),
                               [&](const std::unique_ptr<Loaded>& p) { return p.get() == l; });
        m_loaded.erase(it);  // the final Release of a failed add-in
        return fail("OnConnection failed", hr);
    }
    st.connected = true;
    st.error.clear();
    if (!m_application) {  // COMAddIns is Outlook's list
        list[index].connected = true;
        hv::com_ptr<IDispatch> disp;
        l->object->QueryInterface(IID_IDispatch, disp.put_void());
        list[index].object = disp.get();  // not owned: the host's reference to the object keeps it
    }

    // The ribbon is asked for only once the add-in is connected (Office 2007 and later).
    if (m_outlook.VersionMajor() >= 12 && !m_application) {
        l->object->QueryInterface(__uuidof(IRibbonExtensibility), l->ribbon.put_void());
        if (l->ribbon && m_outlook.VersionMajor() >= 14) {
            IDispatch* explorer = nullptr;
            hv::unique_variant v;
            hv::com_ptr<IDispatch> app(m_outlook.Application());
            DISPID id;
            LPOLESTR name = const_cast<LPOLESTR>(L"ActiveExplorer");
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            if (SUCCEEDED(app->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) &&
                SUCCEEDED(app->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, v.put(), nullptr,
                                      nullptr)) &&
                v.vt == VT_DISPATCH)
                explorer = v.pdispVal;
            if (explorer) {
                std::string rid = "Microsoft.Outlook.Explorer";
                hv::unique_bstr bid = hv::MakeBstr(Wide(rid).c_str());
                hv::unique_bstr xml;
                l->ribbonsAsked.insert(rid);
                ++m_customUiCalls[rid];
                HRESULT rh = l->ribbon->GetCustomUI(bid.get(), xml.put());
                if (FAILED(rh))
                    Note("GetCustomUI(\"" + rid + "\") of " + l->progId + " failed (" + Hex(rh) + ")");
                else
                    ParseRibbon(*l, rid, xml.get() ? Utf8(xml.get()) : std::string(), explorer);
            }
        }
    }
    // Another add-in joining is news for those already connected.
    if (connectMode != ext_cm_Startup)
        for (const auto& other : m_loaded)
            if (other.get() != l && other->ext) {
                CustomArray c;
                other->ext->OnAddInsUpdate(c.get());
            }
    return true;
}

bool AddInHost::Connect(const std::string& progId, bool connect) {
    if (connect) {
        if (Find(progId)) return true;
        AddInState* st = nullptr;
        for (auto& s : m_states)
            if (_stricmp(s.progId.c_str(), progId.c_str()) == 0) st = &s;
        if (!st) {
            m_states.push_back(
                AddInState{progId, std::string(), 0, std::string(), std::string(), false, std::string()});
            st = &m_states.back();
        }
        return LoadOne(*st, ext_cm_AfterStartup);
    }
    auto it = std::find_if(m_loaded.begin(), m_loaded.end(), [&](const std::unique_ptr<Loaded>& p) {
        return _stricmp(p->progId.c_str(), progId.c_str()) == 0;
    });
    if (it == m_loaded.end()) return true;
    std::unique_ptr<Loaded> gone = std::move(*it);
    m_loaded.erase(it);
    {
        CustomArray custom;
        // A user unload: no OnBeginShutdown, the add-in is told it was closed by the user.
        gone->ext->OnDisconnection(ext_dm_UserClosed, custom.get());
    }
    if (!m_application)
        for (auto& a : m_outlook.GetModel().addIns)
            if (_stricmp(a.progId.c_str(), progId.c_str()) == 0) {
                a.connected = false;
                a.object = nullptr;
            }
    for (auto& s : m_states)
        if (_stricmp(s.progId.c_str(), progId.c_str()) == 0) s.connected = false;
    m_controls.erase(
        std::remove_if(m_controls.begin(), m_controls.end(),
                       [&](const RibbonControlInfo& c) { return _stricmp(c.progId.c_str(), progId.c_str()) == 0; }),
        m_controls.end());
    gone.reset();  // the final Release
    for (const auto& other : m_loaded) {
        CustomArray c;
        other->ext->OnAddInsUpdate(c.get());
    }
    return true;
}

void AddInHost::Shutdown() {
    std::vector<std::unique_ptr<Loaded>> loaded;
    loaded.swap(m_loaded);
    for (auto& l : loaded) {
        CustomArray custom;
        l->ext->OnBeginShutdown(custom.get());
    }
    for (auto& l : loaded) {
        CustomArray custom;
        l->ext->OnDisconnection(ext_dm_HostShutdown, custom.get());
    }
    if (!m_application)
        for (auto& a : m_outlook.GetModel().addIns) {
            a.connected = false;
            a.object = nullptr;
        }
    for (auto& s : m_states) s.connected = false;
    loaded.clear();  // the final Release of each add-in
    m_controls.clear();
    m_application.reset();
}

// ---------------------------------------------------------------------------------------------
// Ribbon

void AddInHost::LoadRibbon(const std::string& ribbonId, IDispatch* context) {
    std::vector<Loaded*> order;
    for (const auto& l : m_loaded) order.push_back(l.get());
    for (Loaded* l : order) {
        if (!l->ribbon || l->ribbonsAsked.count(ribbonId)) continue;
        l->ribbonsAsked.insert(ribbonId);
        ++m_customUiCalls[ribbonId];
        hv::unique_bstr id = hv::MakeBstr(Wide(ribbonId).c_str());
        hv::unique_bstr xml;
        HRESULT hr = l->ribbon->GetCustomUI(id.get(), xml.put());
        if (FAILED(hr)) {
            Note("GetCustomUI(\"" + ribbonId + "\") of " + l->progId + " failed (" + Hex(hr) + ")");
            continue;
        }
        ParseRibbon(*l, ribbonId, xml.get() ? Utf8(xml.get()) : std::string(), context);
    }
}

int AddInHost::CustomUICalls(const std::string& ribbonId) const {
    auto it = m_customUiCalls.find(ribbonId);
    return it == m_customUiCalls.end() ? 0 : it->second;
}

std::vector<RibbonControlInfo> AddInHost::RibbonControls(const std::string& ribbonId) const {
    std::vector<RibbonControlInfo> out;
    for (const auto& c : m_controls)
        if (ribbonId.empty() || c.ribbonId == ribbonId) out.push_back(c);
    return out;
}

void AddInHost::ParseRibbon(Loaded& addin, const std::string& ribbonId, const std::string& xml, IDispatch* context) {
    if (xml.empty()) return;  // no customisation for this ribbon
    const AddInState* st = State(addin.progId);
    std::string name = st && !st->friendlyName.empty() ? st->friendlyName : addin.progId;
    auto error = [&](const std::string& why) {
        Note("Error found in Custom UI XML of \"" + name + "\": " + why + " (ribbon \"" + ribbonId + "\")");
    };
    hv::com_ptr<IXMLDOMDocument> doc;
    HRESULT hr =
        ::CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, doc.put_void());
    if (FAILED(hr)) return error("the XML parser is not available " + Hex(hr));
    doc->put_async(VARIANT_FALSE);
    hv::unique_bstr text = hv::MakeBstr(Wide(xml).c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    hr = doc->loadXML(text.get(), &ok);
    if (hr != S_OK || ok != VARIANT_TRUE) return error("the document is not well-formed XML");
    hv::com_ptr<IXMLDOMElement> root;
    if (FAILED(doc->get_documentElement(root.put())) || !root) return error("the document has no root element");
    const int major = m_outlook.VersionMajor();
    std::string ns = NodeText(root.get(), &IXMLDOMNode::get_namespaceURI);
    std::string rootName = NodeText(root.get(), &IXMLDOMNode::get_baseName);
    if (rootName != "customUI") return error("the root element is \"" + rootName + "\", not customUI");
    if (ns != kCustomUi2006 && !(ns == kCustomUi2009 && major >= 14))
        return error("the namespace \"" + ns + "\" is not a custom UI namespace of this version");

    std::vector<RibbonControlInfo> found;
    std::set<std::string> ids;
    std::string problem;
    // Walks the element tree; controls are the elements with an id and an action or image.
    std::function<void(IXMLDOMNode*, const std::string&, const std::string&)> walk = [&](IXMLDOMNode* node,
                                                                                         const std::string& tab,
                                                                                         const std::string& group) {
        hv::com_ptr<IXMLDOMNodeList> children;
        if (FAILED(node->get_childNodes(children.put())) || !children) return;
        long count = 0;
        children->get_length(&count);
        for (long i = 0; i < count && problem.empty(); ++i) {
            hv::com_ptr<IXMLDOMNode> child;
            if (FAILED(children->get_item(i, child.put())) || !child) continue;
            DOMNodeType type;
            child->get_nodeType(&type);
            if (type != NODE_ELEMENT) continue;
            auto element = child.try_query<IXMLDOMElement>();
            if (!element) continue;
            std::string kind = NodeText(child.get(), &IXMLDOMNode::get_baseName);
            if (NodeText(child.get(), &IXMLDOMNode::get_namespaceURI) != ns) {
                problem = "the element \"" + kind + "\" is not in the custom UI namespace";
                return;
            }
            std::string id = Attribute(element.get(), L"id");
            const bool hasMso = HasAttribute(element.get(), L"idMso"), hasQ = HasAttribute(element.get(), L"idQ");
            if (!id.empty()) {
                if (!ids.insert(id).second) {
                    problem = "the id \"" + id + "\" is used twice";
                    return;
                }
            }
            std::string nextTab = tab, nextGroup = group;
            if (kind == "tab") nextTab = hasMso ? Attribute(element.get(), L"idMso") : id;
            if (kind == "group") nextGroup = id.empty() ? Attribute(element.get(), L"idMso") : id;
            static const char* controls[] = {"button", "toggleButton", "checkBox", "splitButton", "menu", "gallery"};
            bool isControl =
                std::any_of(std::begin(controls), std::end(controls), [&](const char* c) { return kind == c; });
            if (isControl) {
                if (id.empty() && !hasMso && !hasQ) {
                    problem = "a " + kind + " has none of the attributes id, idMso, idQ";
                    return;
                }
                if (!id.empty()) {
                    RibbonControlInfo c;
                    c.progId = addin.progId;
                    c.ribbonId = ribbonId;
                    c.kind = kind;
                    c.id = id;
                    c.tag = Attribute(element.get(), L"tag");
                    c.label = Attribute(element.get(), L"label");
                    c.onAction = Attribute(element.get(), L"onAction");
                    c.getImage = Attribute(element.get(), L"getImage");
                    c.tabIdMso = nextTab;
                    c.groupId = nextGroup;
                    found.push_back(c);
                }
            }
            walk(child.get(), nextTab, nextGroup);
        }
    };
    walk(root.get(), std::string(), std::string());
    if (!problem.empty()) return error(problem);

    // The controls appear; images come from getImage, which must answer an IPictureDisp.
    hv::com_ptr<IDispatch> target;
    addin.object->QueryInterface(IID_IDispatch, target.put_void());
    for (auto& c : found) {
        if (c.getImage.empty() || !target) continue;
        hv::com_ptr<IRibbonControl> control;
        control.attach(new CRibbonControl(c.id, context, c.tag));
        hv::unique_variant picture;
        std::string why;
        if (FAILED(CallRibbonCallback(target.get(), c.getImage, control.get(), picture.put(), &why))) {
            Note("getImage of \"" + c.id + "\" (" + addin.progId + "): " + why);
            continue;
        }
        hv::com_ptr<IPictureDisp> disp;
        if ((picture.vt == VT_DISPATCH || picture.vt == VT_UNKNOWN) && picture.punkVal)
            picture.punkVal->QueryInterface(IID_IPictureDisp, disp.put_void());
        auto pic = disp.try_query<IPicture>();
        if (!pic) {
            Note("getImage of \"" + c.id + "\" (" + addin.progId + ") did not return an IPictureDisp");
            continue;
        }
        c.imageOk = true;
        OLE_XSIZE_HIMETRIC w = 0;
        OLE_YSIZE_HIMETRIC h = 0;
        pic->get_Width(&w);
        pic->get_Height(&h);
        // HIMETRIC to pixels at 96 dpi.
        c.imageWidth = ::MulDiv(w, 96, 2540);
        c.imageHeight = ::MulDiv(h, 96, 2540);
    }
    m_controls.insert(m_controls.end(), found.begin(), found.end());
}

bool AddInHost::ClickRibbon(const std::string& controlId, const std::string& ribbonId, IDispatch* context,
                            std::string* error) {
    for (const auto& c : m_controls) {
        if (c.ribbonId != ribbonId || c.id != controlId) continue;
        Loaded* l = Find(c.progId);
        if (!l) break;
        if (c.onAction.empty()) {
            if (error) *error = "the control \"" + controlId + "\" has no onAction";
            return false;
        }
        hv::com_ptr<IDispatch> target;
        l->object->QueryInterface(IID_IDispatch, target.put_void());
        if (!target) {
            if (error) *error = "the add-in has no IDispatch";
            return false;
        }
        hv::com_ptr<IRibbonControl> control;
        control.attach(new CRibbonControl(c.id, context, c.tag));
        hv::unique_variant ignored;
        std::string info = c.onAction;
        return SUCCEEDED(CallRibbonCallback(target.get(), info, control.get(), ignored.put(), error));
    }
    if (error) *error = "no control \"" + controlId + "\" on the ribbon \"" + ribbonId + "\"";
    return false;
}

// ---------------------------------------------------------------------------------------------
// Registry of the simulated installation

bool WriteCurVer(int major) {
    hv::unique_hkey key;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring value = L"Outlook.Application." + std::to_wstring(major);
    return ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegisterOutlookAddIn(const std::string& progId, DWORD loadBehavior, bool machine,
                          const std::string& friendlyName) {
    hv::unique_hkey key;
    std::wstring path = std::wstring(kAddinsKey) + L"\\" + Wide(progId);
    if (::RegCreateKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    if (::RegSetValueExW(key.get(), L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&loadBehavior),
                         sizeof loadBehavior) != ERROR_SUCCESS)
        return false;
    if (!friendlyName.empty()) {
        std::wstring name = Wide(friendlyName);
        ::RegSetValueExW(key.get(), L"FriendlyName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                         static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    }
    return true;
}

bool UnregisterOutlookAddIn(const std::string& progId, bool machine) {
    std::wstring path = std::wstring(kAddinsKey) + L"\\" + Wide(progId);
    return ::RegDeleteKeyW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path.c_str()) == ERROR_SUCCESS;
}

long ReadLoadBehavior(const std::string& progId) {
    std::wstring path = std::wstring(kAddinsKey) + L"\\" + Wide(progId);
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        hv::unique_hkey key;
        if (::RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) continue;
        DWORD v = 0;
        if (ReadDword(key.get(), L"LoadBehavior", &v)) return static_cast<long>(v);
    }
    return -1;
}

}  // namespace hvsim

#include "outlook-sim/src/SimDispatch.h"

#include <olectl.h>

#include <atomic>
#include <cstring>
#include <algorithm>
#include <map>
#include <mutex>

#include "win/ComTypes.h"

namespace hvsim {

std::string Utf8(const wchar_t* wide) {
    if (!wide || !*wide) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), n);
    out.resize(wcslen(out.c_str()));
    return out;
}

// ---------------------------------------------------------------------------------------------

namespace {
void FreeVariant(VARIANT* v) {
    ::VariantClear(v);
    delete v;
}
bool IsMissing(const VARIANT& v) {
    return (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND) || v.vt == VT_EMPTY;
}
}  // namespace

Args::Args(DISPPARAMS* params, bool isPut) noexcept : m_params(params), m_isPut(isPut) {
    UINT n = params ? params->cArgs : 0;
    // A put carries its value as the named argument DISPID_PROPERTYPUT, first in rgvarg.
    if (isPut && n > 0) --n;
    m_count = n;
}

const VARIANT* Args::At(size_t i) const noexcept {
    if (i >= m_count) return nullptr;
    const size_t offset = m_isPut ? 1 : 0;
    const VARIANT& v = m_params->rgvarg[m_count - 1 - i + offset];
    const VARIANT* real = &v;
    if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) real = v.pvarVal;
    return IsMissing(*real) ? nullptr : real;
}

const VARIANT& Args::Converted(const VARIANT& v, VARTYPE vt, size_t index) const {
    std::unique_ptr<VARIANT, void (*)(VARIANT*)> temp(new VARIANT, FreeVariant);
    ::VariantInit(temp.get());
    HRESULT hr = ::VariantChangeType(temp.get(), const_cast<VARIANT*>(&v), 0, vt);
    if (FAILED(hr)) throw SimError(DISP_E_TYPEMISMATCH, "Type mismatch in argument " + std::to_string(index + 1));
    m_temps.push_back(std::move(temp));
    return *m_temps.back();
}

std::string Args::Text(size_t i) const {
    const VARIANT* v = At(i);
    if (!v) throw SimError(DISP_E_PARAMNOTFOUND, "A required argument is missing");
    return Utf8(Converted(*v, VT_BSTR, i).bstrVal);
}

long Args::Long(size_t i) const {
    const VARIANT* v = At(i);
    if (!v) throw SimError(DISP_E_PARAMNOTFOUND, "A required argument is missing");
    return Converted(*v, VT_I4, i).lVal;
}

bool Args::Bool(size_t i) const {
    const VARIANT* v = At(i);
    if (!v) throw SimError(DISP_E_PARAMNOTFOUND, "A required argument is missing");
    return Converted(*v, VT_BOOL, i).boolVal != VARIANT_FALSE;
}

DATE Args::Date(size_t i) const {
    const VARIANT* v = At(i);
    if (!v) throw SimError(DISP_E_PARAMNOTFOUND, "A required argument is missing");
    return Converted(*v, VT_DATE, i).date;
}

IDispatch* Args::Dispatch(size_t i) const {
    const VARIANT* v = At(i);
    if (!v) return nullptr;
    if (v->vt == VT_DISPATCH) return v->pdispVal;
    if (v->vt == (VT_BYREF | VT_DISPATCH)) return *v->ppdispVal;
    throw SimError(DISP_E_TYPEMISMATCH, "An object was expected");
}

const VARIANT& Args::PutValue() const {
    if (!m_isPut || !m_params || m_params->cArgs == 0) throw SimError(DISP_E_PARAMNOTFOUND, "No value to set");
    const VARIANT& v = m_params->rgvarg[0];
    if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) return *v.pvarVal;
    return v;
}

std::string Args::PutText() const {
    return Utf8(Converted(PutValue(), VT_BSTR, 0).bstrVal);
}
long Args::PutLong() const {
    return Converted(PutValue(), VT_I4, 0).lVal;
}
bool Args::PutBool() const {
    return Converted(PutValue(), VT_BOOL, 0).boolVal != VARIANT_FALSE;
}
DATE Args::PutDate() const {
    return Converted(PutValue(), VT_DATE, 0).date;
}

void SetText(VARIANT* r, const std::string& utf8) {
    if (!r) return;
    r->vt = VT_BSTR;
    r->bstrVal = ::SysAllocString(Wide(utf8).c_str());
    if (!r->bstrVal) throw std::bad_alloc();
}
void SetLong(VARIANT* r, long v) {
    if (!r) return;
    r->vt = VT_I4;
    r->lVal = v;
}
void SetBool(VARIANT* r, bool v) {
    if (!r) return;
    r->vt = VT_BOOL;
    r->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}
void SetDate(VARIANT* r, DATE v) {
    if (!r) return;
    r->vt = VT_DATE;
    r->date = v;
}
void SetDispatch(VARIANT* r, IDispatch* p) {
    if (!r) return;
    r->vt = VT_DISPATCH;
    r->pdispVal = p;
    if (p) p->AddRef();
}

// ---------------------------------------------------------------------------------------------
// Connection points

class CSimConnectionPoint : public IConnectionPoint {
public:
    CSimConnectionPoint(CSimObject* owner, REFIID iid) : m_owner(owner), m_iid(iid) {}
    const IID& Iid() const { return m_iid; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
            *ppv = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The point lives as long as its container.
    STDMETHODIMP_(ULONG) AddRef() override { return m_owner->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_owner->Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = m_iid;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override {
        if (!out) return E_POINTER;
        *out = m_owner;
        m_owner->AddRef();
        return S_OK;
    }
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override try {
        if (!sink || !cookie) return E_POINTER;
        *cookie = 0;
        hv::com_ptr<IDispatch> disp;
        // As Outlook does, the sink is asked for the event (dispatch) interface itself, and the
        // pointer it answers is the one called; a sink that answers only IDispatch is refused.
        if (FAILED(sink->QueryInterface(m_iid, disp.put_void())) || !disp) return CONNECT_E_CANNOTCONNECT;
        *cookie = ++m_nextCookie;
        m_sinks[*cookie] = disp;
        return S_OK;
    }
    CATCH_RETURN()
    STDMETHODIMP Unadvise(DWORD cookie) override { return m_sinks.erase(cookie) ? S_OK : CONNECT_E_NOCONNECTION; }
    STDMETHODIMP EnumConnections(IEnumConnections** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

    std::vector<hv::com_ptr<IDispatch>> Sinks() const {
        std::vector<hv::com_ptr<IDispatch>> out;
        for (const auto& kv : m_sinks) out.push_back(kv.second);
        return out;
    }
    size_t Count() const { return m_sinks.size(); }
    bool IsAdvised(IDispatch* sink) const {
        for (const auto& kv : m_sinks)
            if (kv.second.get() == sink) return true;
        return false;
    }
    void Clear() { m_sinks.clear(); }

private:
    CSimObject* m_owner;
    IID m_iid;
    DWORD m_nextCookie = 0;
    std::map<DWORD, hv::com_ptr<IDispatch>> m_sinks;
};

// ---------------------------------------------------------------------------------------------

namespace {
struct LiveRegistry {
    std::mutex lock;
    unsigned long long next = 1;
    std::map<const CSimObject*, unsigned long long> objects;
};
LiveRegistry& Live() {
    static LiveRegistry* registry = new LiveRegistry;  // outlives every static object that may hold sim objects
    return *registry;
}
}  // namespace

unsigned long long NextSimSerial() {
    std::lock_guard<std::mutex> hold(Live().lock);
    return Live().next;
}

std::vector<LiveObject> LiveSimObjects(unsigned long long sinceSerial) {
    std::lock_guard<std::mutex> hold(Live().lock);
    std::vector<LiveObject> out;
    for (const auto& kv : Live().objects)
        if (kv.second >= sinceSerial) out.push_back(LiveObject{kv.first->TypeName(), kv.first->RefCount(), kv.second});
    std::sort(out.begin(), out.end(), [](const LiveObject& a, const LiveObject& b) { return a.serial < b.serial; });
    return out;
}

CSimObject::CSimObject() {
    std::lock_guard<std::mutex> hold(Live().lock);
    m_serial = Live().next++;
    Live().objects[this] = m_serial;
}

CSimObject::~CSimObject() {
    std::lock_guard<std::mutex> hold(Live().lock);
    Live().objects.erase(this);
}

STDMETHODIMP CSimObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *ppv = static_cast<IDispatch*>(this);
    } else if (riid == IID_IConnectionPointContainer && !m_points.empty()) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
    } else if (void* extra = ExtraInterface(riid)) {
        *ppv = extra;
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CSimObject::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) CSimObject::Release() {
    LONG n = ::InterlockedDecrement(&m_refs);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP CSimObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CSimObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

namespace {
std::atomic<long long> g_invokeCount{0};
std::atomic<long long> g_nameLookupCount{0};
std::atomic<long long> g_insideTicks{0};
thread_local int t_depth = 0;

// Times the outermost call into the simulator (a sink the simulator calls may call back in).
class CInsideTimer {
public:
    CInsideTimer() noexcept {
        if (t_depth++ == 0) {
            LARGE_INTEGER c;
            ::QueryPerformanceCounter(&c);
            m_start = c.QuadPart;
        }
    }
    ~CInsideTimer() {
        if (--t_depth == 0) {
            LARGE_INTEGER c;
            ::QueryPerformanceCounter(&c);
            g_insideTicks += c.QuadPart - m_start;
        }
    }

private:
    LONGLONG m_start = 0;
};
}  // namespace

STDMETHODIMP CSimObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) try {
    ++g_nameLookupCount;
    CInsideTimer inside;
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    HRESULT hr = S_OK;
    const auto& table = Names();
    ids[0] = DISPID_UNKNOWN;
    std::string name = Utf8(names[0]);
    for (size_t i = 0; i < table.size(); ++i) {
        if (_stricmp(table[i], name.c_str()) == 0) {
            ids[0] = static_cast<DISPID>(i + 1);
            break;
        }
    }
    if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    // Named arguments are not supported by name; report them unknown.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}
CATCH_RETURN()

void CSimObject::NotFound() {
    throw SimError(DISP_E_MEMBERNOTFOUND, "Member not found");
}

namespace {
std::atomic<std::map<std::string, long long>*> g_tally{nullptr};
std::mutex g_tallyLock;
}  // namespace

void SetCallTally(std::map<std::string, long long>* tally) noexcept {
    std::lock_guard<std::mutex> lock(g_tallyLock);
    g_tally = tally;
}

long long InvokeCount() noexcept {
    return g_invokeCount.load();
}
long long NameLookupCount() noexcept {
    return g_nameLookupCount.load();
}
double SecondsInside() noexcept {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(g_insideTicks.load()) / static_cast<double>(f.QuadPart);
}

STDMETHODIMP CSimObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* excep, UINT* argErr) {
    ++g_invokeCount;
    CInsideTimer inside;
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const auto& table = Names();
    if (id < 1 || static_cast<size_t>(id) > table.size()) return DISP_E_MEMBERNOTFOUND;
    if (g_tally) {
        std::lock_guard<std::mutex> lock(g_tallyLock);
        if (auto* tally = g_tally.load())
            ++(*tally)[std::string(table[id - 1]) + ((flags & DISPATCH_PROPERTYPUT) ? "=" : "")];
    }
    if (argErr) *argErr = 0;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (put) {
        if (!params || params->cArgs == 0 || params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTOPTIONAL;
    } else if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) {
        return DISP_E_MEMBERNOTFOUND;
    } else if (params && params->cNamedArgs > 0) {
        return DISP_E_NONAMEDARGS;
    }
    VARIANT local;
    ::VariantInit(&local);
    VARIANT* out = result ? result : &local;
    if (result) ::VariantInit(result);
    try {
        Args args(params, put);
        Call(static_cast<int>(id - 1), put, args, out);
        ::VariantClear(&local);
        return S_OK;
    } catch (const SimError& e) {
        ::VariantClear(&local);
        if (result) ::VariantClear(result);
        if (e.scode == DISP_E_MEMBERNOTFOUND || e.scode == DISP_E_TYPEMISMATCH || e.scode == DISP_E_PARAMNOTFOUND)
            return e.scode;
        if (excep) {
            std::memset(excep, 0, sizeof *excep);
            excep->bstrSource = ::SysAllocString(L"Microsoft Outlook");
            excep->bstrDescription = ::SysAllocString(Wide(e.what()).c_str());
            excep->scode = e.scode;
        }
        return DISP_E_EXCEPTION;
    } catch (...) {
        ::VariantClear(&local);
        if (result) ::VariantClear(result);
        return hv::ResultFromCaughtException();
    }
}

STDMETHODIMP CSimObject::EnumConnectionPoints(IEnumConnectionPoints** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CSimObject::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const auto& p : m_points) {
        if (p->Iid() == riid) {
            *out = p.get();
            p->AddRef();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

void CSimObject::AddConnectionPoint(REFIID iid) {
    m_points.push_back(std::make_unique<CSimConnectionPoint>(this, iid));
}

size_t CSimObject::SinkCount(REFIID iid) const {
    for (const auto& p : m_points)
        if (p->Iid() == iid) return p->Count();
    return 0;
}

void CSimObject::Fire(REFIID iid, DISPID id, std::vector<VARIANT*> args) {
    for (const auto& p : m_points) {
        if (p->Iid() != iid) continue;
        std::vector<VARIANT> reversed;
        for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(**it);
        DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()),
                             0};
        hv::com_ptr<IDispatch> self(static_cast<IDispatch*>(this));  // alive while sinks run
        for (const auto& sink : p->Sinks()) {
            // A sink unadvised by an earlier one while the event runs hears no more of it.
            if (!p->IsAdvised(sink.get())) continue;
            VARIANT ignored;
            ::VariantInit(&ignored);
            sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &ignored, nullptr, nullptr);
            ::VariantClear(&ignored);
        }
    }
}

}  // namespace hvsim

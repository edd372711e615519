#pragma once
// IDispatch by hand, as Outlook's objects answer it: names resolved case-insensitively to
// stable DISPIDs (the member's position in its class table + 1), DISPATCH_METHOD and
// DISPATCH_PROPERTYGET interchangeable, arguments in reverse order, optional arguments either
// left out or passed as VT_ERROR/DISP_E_PARAMNOTFOUND. Failures raised inside a member become
// DISP_E_EXCEPTION with the error's code and text in EXCEPINFO, as Outlook reports them.
// Objects that raise events also answer IConnectionPointContainer.
#include <windows.h>
#include <ocidl.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "win/ComPtr.h"

namespace hvsim {

std::string Utf8(const wchar_t* wide);
std::wstring Wide(const std::string& utf8);

// Raised by a member; becomes DISP_E_EXCEPTION with `scode`.
struct SimError : std::runtime_error {
    SimError(HRESULT code, const std::string& text) : std::runtime_error(text), scode(code) {}
    HRESULT scode;
};

// The arguments of one call, in the order the caller wrote them.
class Args {
public:
    Args(DISPPARAMS* params, bool isPut) noexcept;
    size_t Count() const noexcept { return m_count; }
    // Null when the argument is absent or passed as "missing".
    const VARIANT* At(size_t i) const noexcept;
    bool Has(size_t i) const noexcept { return At(i) != nullptr; }
    std::string Text(size_t i) const;  // throws when absent or not convertible
    long Long(size_t i) const;
    bool Bool(size_t i) const;
    DATE Date(size_t i) const;
    IDispatch* Dispatch(size_t i) const;  // borrowed; null for Nothing
    long LongOr(size_t i, long fallback) const { return Has(i) ? Long(i) : fallback; }
    bool BoolOr(size_t i, bool fallback) const { return Has(i) ? Bool(i) : fallback; }
    std::string TextOr(size_t i, const std::string& fallback) const { return Has(i) ? Text(i) : fallback; }
    // The value of a property put.
    const VARIANT& PutValue() const;
    std::string PutText() const;
    long PutLong() const;
    bool PutBool() const;
    DATE PutDate() const;

private:
    const VARIANT& Converted(const VARIANT& v, VARTYPE vt, size_t index) const;
    DISPPARAMS* m_params;
    size_t m_count;
    bool m_isPut;
    mutable std::vector<std::unique_ptr<VARIANT, void (*)(VARIANT*)>> m_temps;
};

// Result helpers.
void SetText(VARIANT* result, const std::string& utf8);
void SetLong(VARIANT* result, long v);
void SetBool(VARIANT* result, bool v);
void SetDate(VARIANT* result, DATE v);
void SetDispatch(VARIANT* result, IDispatch* p);  // AddRefs; null gives Nothing

class CSimConnectionPoint;

// The calls the simulated objects have received through IDispatch::Invoke in this process (the
// Outlook object-model calls an add-in makes; each is a cross-component call on a real Outlook).
long long InvokeCount() noexcept;
// The same for GetIDsOfNames (the name lookups that precede late-bound calls).
long long NameLookupCount() noexcept;
// The time spent inside those calls (the simulator's own time).
double SecondsInside() noexcept;
// While set (null stops), the calls Invoke receives are also counted by member name into `tally`
// (a trailing "=" marks a property put): where the calls per row go.
void SetCallTally(std::map<std::string, long long>* tally) noexcept;

class CSimObject : public IDispatch, public IConnectionPointContainer {
public:
    CSimObject();
    virtual ~CSimObject();
    CSimObject(const CSimObject&) = delete;
    CSimObject& operator=(const CSimObject&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                        UINT* argErr) override;
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;

    // Raises an event on every sink of the connection point; args in the order written.
    void Fire(REFIID iid, DISPID id, std::vector<VARIANT*> args);
    size_t SinkCount(REFIID iid) const;
    // The class name the object answers to (for the host's messages).
    virtual const char* TypeName() const = 0;
    ULONG RefCount() const noexcept { return static_cast<ULONG>(m_refs); }
    unsigned long long Serial() const noexcept { return m_serial; }

protected:
    // Member names; a member's DISPID is its index + 1.
    virtual const std::vector<const char*>& Names() const = 0;
    // The member call. `put` is true for DISPATCH_PROPERTYPUT/PUTREF.
    virtual void Call(int member, bool put, Args& args, VARIANT* result) = 0;
    // Event interfaces the object raises (its connection points).
    void AddConnectionPoint(REFIID iid);
    [[noreturn]] static void NotFound();
    // Further interfaces a class answers besides IDispatch and IConnectionPointContainer;
    // returns the pointer without AddRef, or null.
    virtual void* ExtraInterface(REFIID) { return nullptr; }

private:
    LONG m_refs = 1;
    unsigned long long m_serial = 0;
    std::vector<std::unique_ptr<CSimConnectionPoint>> m_points;
};

// Every live object, for the host's leak report: objects created after `sinceSerial` that are
// still alive, with their reference counts.
struct LiveObject {
    std::string type;
    ULONG refs;
    unsigned long long serial;
};
unsigned long long NextSimSerial();
std::vector<LiveObject> LiveSimObjects(unsigned long long sinceSerial);

// Creates a CSimObject-derived object with its first reference owned by the com_ptr.
template <typename T, typename... A>
hv::com_ptr<T> MakeSim(A&&... args) {
    hv::com_ptr<T> p;
    p.attach(new T(std::forward<A>(args)...));
    return p;
}

}  // namespace hvsim

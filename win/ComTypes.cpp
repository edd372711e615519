#include "win/ComTypes.h"
#include "win/Errors.h"
#include "win/Strings.h"

namespace hv {

unique_bstr MakeBstr(const std::string& ansi) {
    std::wstring w = ToWide(ansi);
    BSTR b = ::SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    if (!b) throw std::bad_alloc();
    return unique_bstr(b);
}

unique_bstr MakeBstr(const wchar_t* wide) {
    BSTR b = ::SysAllocString(wide ? wide : L"");
    if (!b) throw std::bad_alloc();
    return unique_bstr(b);
}

unique_variant::unique_variant(const unique_variant& o) : unique_variant() {
    THROW_IF_FAILED(::VariantCopy(this, const_cast<unique_variant*>(&o)));
}

unique_variant& unique_variant::operator=(const unique_variant& o) {
    if (this != &o) {
        ::VariantClear(this);
        THROW_IF_FAILED(::VariantCopy(this, const_cast<unique_variant*>(&o)));
    }
    return *this;
}

unique_variant::unique_variant(unique_variant&& o) noexcept : unique_variant() {
    *static_cast<VARIANT*>(this) = o;
    ::VariantInit(&o);
}

unique_variant& unique_variant::operator=(unique_variant&& o) noexcept {
    if (this != &o) {
        ::VariantClear(this);
        *static_cast<VARIANT*>(this) = o;
        ::VariantInit(&o);
    }
    return *this;
}

unique_variant unique_variant::FromLong(LONG v) {
    unique_variant r;
    r.vt = VT_I4;
    r.lVal = v;
    return r;
}

unique_variant unique_variant::FromBool(bool v) {
    unique_variant r;
    r.vt = VT_BOOL;
    r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}

unique_variant unique_variant::FromDate(DATE v) {
    unique_variant r;
    r.vt = VT_DATE;
    r.date = v;
    return r;
}

unique_variant unique_variant::FromDouble(double v) {
    unique_variant r;
    r.vt = VT_R8;
    r.dblVal = v;
    return r;
}

unique_variant unique_variant::FromString(const std::string& ansi) {
    unique_variant r;
    r.bstrVal = MakeBstr(ansi).release();
    r.vt = VT_BSTR;
    return r;
}

unique_variant unique_variant::FromWide(const wchar_t* wide) {
    unique_variant r;
    r.bstrVal = MakeBstr(wide).release();
    r.vt = VT_BSTR;
    return r;
}

unique_variant unique_variant::FromDispatch(IDispatch* p) {
    unique_variant r;
    r.vt = VT_DISPATCH;
    r.pdispVal = p;
    if (p) p->AddRef();
    return r;
}

unique_variant unique_variant::Missing() {
    unique_variant r;
    r.vt = VT_ERROR;
    r.scode = DISP_E_PARAMNOTFOUND;
    return r;
}

namespace {
unique_variant ChangedTo(const VARIANT& v, VARTYPE type) {
    unique_variant out;
    THROW_IF_FAILED(::VariantChangeType(&out, const_cast<VARIANT*>(&v), 0, type));
    return out;
}
}  // namespace

LONG unique_variant::AsLong() const {
    return vt == VT_I4 ? lVal : ChangedTo(*this, VT_I4).lVal;
}
bool unique_variant::AsBool() const {
    return (vt == VT_BOOL ? boolVal : ChangedTo(*this, VT_BOOL).boolVal) != VARIANT_FALSE;
}
DATE unique_variant::AsDate() const {
    return vt == VT_DATE ? date : ChangedTo(*this, VT_DATE).date;
}
double unique_variant::AsDouble() const {
    return vt == VT_R8 ? dblVal : ChangedTo(*this, VT_R8).dblVal;
}

std::string unique_variant::AsString() const {
    if (vt == VT_BSTR) return ToAnsi(bstrVal, bstrVal ? ::SysStringLen(bstrVal) : 0);
    if (IsEmpty()) return std::string();
    unique_variant s = ChangedTo(*this, VT_BSTR);
    return ToAnsi(s.bstrVal, s.bstrVal ? ::SysStringLen(s.bstrVal) : 0);
}

IDispatch* unique_variant::AsDispatch() const noexcept {
    return vt == VT_DISPATCH ? pdispVal : nullptr;
}

}  // namespace hv

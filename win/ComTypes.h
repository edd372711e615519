#pragma once
// RAII holders for BSTR and VARIANT.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include "win/UniqueAny.h"

namespace hv {

namespace details {
struct free_bstr {
    void operator()(BSTR b) const noexcept { ::SysFreeString(b); }
};
}  // namespace details

using unique_bstr = unique_any<BSTR, details::free_bstr>;

unique_bstr MakeBstr(const std::string& ansi);
unique_bstr MakeBstr(const wchar_t* wide);

// A VARIANT that clears itself.
class unique_variant : public VARIANT {
public:
    unique_variant() noexcept { ::VariantInit(this); }
    ~unique_variant() { ::VariantClear(this); }
    unique_variant(const unique_variant& o);
    unique_variant& operator=(const unique_variant& o);
    unique_variant(unique_variant&& o) noexcept;
    unique_variant& operator=(unique_variant&& o) noexcept;

    static unique_variant FromLong(LONG v);
    static unique_variant FromBool(bool v);
    static unique_variant FromDate(DATE v);
    static unique_variant FromDouble(double v);
    static unique_variant FromString(const std::string& ansi);
    static unique_variant FromWide(const wchar_t* wide);
    static unique_variant FromDispatch(IDispatch* p);  // AddRefs
    static unique_variant Missing();                   // an omitted optional argument

    VARIANT* put() noexcept {
        ::VariantClear(this);
        return this;
    }
    void reset() noexcept { ::VariantClear(this); }
    VARIANT* addressof() noexcept { return this; }

    // Conversions for reading results; throw hv::hr_error when the value cannot convert.
    LONG AsLong() const;
    bool AsBool() const;
    DATE AsDate() const;
    double AsDouble() const;
    std::string AsString() const;            // ANSI
    IDispatch* AsDispatch() const noexcept;  // borrowed; null unless VT_DISPATCH
    bool IsEmpty() const noexcept { return vt == VT_EMPTY || vt == VT_NULL; }
};

}  // namespace hv

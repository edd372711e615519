#pragma once
// Move-only owners of platform handles, in the shape of WIL's unique_any: get(), put() (which
// releases the old value first), reset(), release(). One alias per handle type.
#include <windows.h>
#include <cstdint>
#include <utility>

namespace hv {

template <typename T, typename Closer, std::intptr_t InvalidValue = 0>
class unique_any {
public:
    static T invalid() noexcept { return (T)(InvalidValue); }

    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : m_value(value) {}
    ~unique_any() { reset(); }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return m_value; }
    bool is_valid() const noexcept { return m_value != invalid(); }
    explicit operator bool() const noexcept { return is_valid(); }

    // For out-parameters: the old value is closed first, so nothing leaks.
    T* put() noexcept {
        reset();
        return &m_value;
    }
    void reset(T value = invalid()) noexcept {
        T old = m_value;
        m_value = value;
        if (old != invalid()) Closer()(old);
    }
    T release() noexcept {
        T v = m_value;
        m_value = invalid();
        return v;
    }
    void swap(unique_any& other) noexcept { std::swap(m_value, other.m_value); }

private:
    T m_value = invalid();
};

namespace details {
struct close_handle {
    void operator()(HANDLE h) const noexcept { ::CloseHandle(h); }
};
struct close_hkey {
    void operator()(HKEY h) const noexcept { ::RegCloseKey(h); }
};
struct delete_object {
    void operator()(HGDIOBJ h) const noexcept { ::DeleteObject(h); }
};
struct delete_dc {
    void operator()(HDC h) const noexcept { ::DeleteDC(h); }
};
struct destroy_window {
    void operator()(HWND h) const noexcept { ::DestroyWindow(h); }
};
struct free_library {
    void operator()(HMODULE h) const noexcept { ::FreeLibrary(h); }
};
struct find_close {
    void operator()(HANDLE h) const noexcept { ::FindClose(h); }
};
struct global_free {
    void operator()(HGLOBAL h) const noexcept { ::GlobalFree(h); }
};
struct unmap_view {
    void operator()(void* p) const noexcept { ::UnmapViewOfFile(p); }
};
}  // namespace details

using unique_handle = unique_any<HANDLE, details::close_handle>;
using unique_hfile = unique_any<HANDLE, details::close_handle, -1>;  // INVALID_HANDLE_VALUE
using unique_hkey = unique_any<HKEY, details::close_hkey>;
using unique_hgdiobj = unique_any<HGDIOBJ, details::delete_object>;
using unique_hbitmap = unique_any<HBITMAP, details::delete_object>;
using unique_hdc = unique_any<HDC, details::delete_dc>;
using unique_hwnd = unique_any<HWND, details::destroy_window>;
using unique_hmodule = unique_any<HMODULE, details::free_library>;
using unique_hfind = unique_any<HANDLE, details::find_close, -1>;
using unique_hglobal = unique_any<HGLOBAL, details::global_free>;
using unique_mapview = unique_any<void*, details::unmap_view>;

}  // namespace hv

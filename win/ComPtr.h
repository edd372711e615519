#pragma once
// A small COM smart pointer: AddRef on copy, Release on destruction, put() for out-parameters
// (releasing the old pointer first), query<U>() that throws and try_query<U>() that does not.
#include <objbase.h>
#include <utility>
#include "win/Errors.h"

namespace hv {

template <typename T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    com_ptr(T* p) noexcept : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    com_ptr(const com_ptr& o) noexcept : m_p(o.m_p) {
        if (m_p) m_p->AddRef();
    }
    com_ptr(com_ptr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    ~com_ptr() { reset(); }
    com_ptr& operator=(const com_ptr& o) noexcept {
        com_ptr(o).swap(*this);
        return *this;
    }
    com_ptr& operator=(com_ptr&& o) noexcept {
        com_ptr(std::move(o)).swap(*this);
        return *this;
    }
    com_ptr& operator=(T* p) noexcept {
        com_ptr(p).swap(*this);
        return *this;
    }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    T& operator*() const noexcept { return *m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    T** put() noexcept {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    // Takes over a reference the caller already owns.
    void attach(T* p) noexcept {
        reset();
        m_p = p;
    }
    T* detach() noexcept { return std::exchange(m_p, nullptr); }
    void swap(com_ptr& o) noexcept { std::swap(m_p, o.m_p); }
    // Hands out an extra reference, for COM out-parameters.
    T* copy() const noexcept {
        if (m_p) m_p->AddRef();
        return m_p;
    }

    template <typename U>
    com_ptr<U> try_query() const noexcept {
        com_ptr<U> out;
        if (m_p) m_p->QueryInterface(__uuidof(U), out.put_void());
        return out;
    }
    template <typename U>
    com_ptr<U> query() const {
        THROW_HR_IF(E_POINTER, !m_p);
        com_ptr<U> out;
        THROW_IF_FAILED(m_p->QueryInterface(__uuidof(U), out.put_void()));
        return out;
    }

private:
    T* m_p = nullptr;
};

template <typename T>
bool operator==(const com_ptr<T>& a, std::nullptr_t) noexcept {
    return !a;
}
template <typename T>
bool operator!=(const com_ptr<T>& a, std::nullptr_t) noexcept {
    return static_cast<bool>(a);
}

}  // namespace hv

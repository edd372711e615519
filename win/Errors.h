#pragma once
// HRESULT flow in the style of WIL: inside one operation a failing call throws its code
// (hv::hr_error); the operation catches at its end with CATCH_RETURN and returns it.
// Each macro evaluates its argument exactly once.
#include <windows.h>
#include <exception>
#include <new>

namespace hv {

struct hr_error : std::exception {
    explicit hr_error(HRESULT code) noexcept : hr(code) {}
    const char* what() const noexcept override { return "HRESULT failure"; }
    HRESULT hr;
};

[[noreturn]] inline void throw_hr(HRESULT hr) {
    throw hr_error(hr);
}

// Where LOG_IF_FAILED reports to; the diagnostic log installs itself here.
using failure_logger = void (*)(HRESULT hr, const char* file, int line) noexcept;
failure_logger& FailureLogger() noexcept;
inline void ReportFailure(HRESULT hr, const char* file, int line) noexcept {
    if (FailureLogger()) FailureLogger()(hr, file, line);
}

inline HRESULT LogIfFailed(HRESULT hr, const char* file, int line) noexcept {
    if (FAILED(hr)) ReportFailure(hr, file, line);
    return hr;
}

// Maps the exception in flight to an HRESULT; for use inside a catch (...) block.
inline HRESULT ResultFromCaughtException() noexcept {
    try {
        throw;
    } catch (const hr_error& e) {
        return FAILED(e.hr) ? e.hr : E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

inline HRESULT HResultFromWin32(DWORD err) noexcept {
    return HRESULT_FROM_WIN32(err);
}
inline HRESULT HResultFromLastError() noexcept {
    DWORD err = ::GetLastError();
    return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
}

}  // namespace hv

#define RETURN_IF_FAILED(expr)             \
    do {                                   \
        const HRESULT hv_hr_ = (expr);     \
        if (FAILED(hv_hr_)) return hv_hr_; \
    } while (0)

#define RETURN_HR_IF(hr, cond) \
    do {                       \
        if (cond) return (hr); \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF(hr, (ptr) == nullptr)

#define THROW_IF_FAILED(expr)                       \
    do {                                            \
        const HRESULT hv_hr_ = (expr);              \
        if (FAILED(hv_hr_)) ::hv::throw_hr(hv_hr_); \
    } while (0)

#define THROW_HR(hr) ::hv::throw_hr(hr)

#define THROW_HR_IF(hr, cond)         \
    do {                              \
        if (cond) ::hv::throw_hr(hr); \
    } while (0)

#define THROW_LAST_ERROR_IF(cond)                               \
    do {                                                        \
        if (cond) ::hv::throw_hr(::hv::HResultFromLastError()); \
    } while (0)

#define LOG_IF_FAILED(expr) ::hv::LogIfFailed((expr), __FILE__, __LINE__)

#define CATCH_RETURN()                            \
    catch (...) {                                 \
        return ::hv::ResultFromCaughtException(); \
    }

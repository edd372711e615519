#include "addin/SettingsWatch.h"

#include "common/DiagLog.h"
#include "win/Errors.h"
#include "win/Strings.h"

namespace {

constexpr const wchar_t* kWindowClass = L"HvSettingsWatch";
constexpr UINT WM_SETTINGS_CHANGED = WM_APP + 1;
constexpr UINT_PTR kRetryTimer = 1;

}  // namespace

CSettingsWatch::~CSettingsWatch() {
    Stop();
}

HRESULT CSettingsWatch::Start(const std::string& keyPath, std::function<void()> changed) {
    Stop();
    RETURN_IF_FAILED(hv::HResultFromWin32(
        ::RegOpenKeyExW(HKEY_CURRENT_USER, hv::ToWide(keyPath).c_str(), 0, KEY_NOTIFY, m_key.put())));
    m_event.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RETURN_HR_IF(hv::HResultFromLastError(), !m_event);

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = hv::ThisModule();
    wc.lpszClassName = kWindowClass;
    // A second watch of this library finds the class registered already.
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return hv::HResultFromLastError();
    m_window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, hv::ThisModule(), nullptr);
    if (!m_window) {
        const HRESULT hr = hv::HResultFromLastError();
        Stop();
        return hr;
    }
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_changed = std::move(changed);

    HRESULT hr = Arm();
    if (SUCCEEDED(hr) &&
        !::RegisterWaitForSingleObject(&m_wait, m_event.get(), Signalled, this, INFINITE, WT_EXECUTEDEFAULT)) {
        m_wait = nullptr;
        hr = hv::HResultFromLastError();
    }
    if (FAILED(hr)) Stop();
    return hr;
}

HRESULT CSettingsWatch::Arm() noexcept {
    // One notification per call: armed again on this thread after each one.
    return hv::HResultFromWin32(
        ::RegNotifyChangeKeyValue(m_key.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET, m_event.get(), TRUE));
}

VOID CALLBACK CSettingsWatch::Signalled(PVOID context, BOOLEAN) {
    auto* watch = static_cast<CSettingsWatch*>(context);
    // Many writes in a row (a synchronisation stores several values) make one message.
    if (!watch->m_posted.exchange(true)) ::PostMessageW(watch->m_window, WM_SETTINGS_CHANGED, 0, 0);
}

void CSettingsWatch::Retry(UINT ms) noexcept {
    if (m_window) ::SetTimer(m_window, kRetryTimer, ms, nullptr);
}

void CSettingsWatch::Changed() noexcept {
    try {
        if (m_changed) m_changed();
    } catch (...) {
        LOG_IF_FAILED(hv::ResultFromCaughtException());
    }
}

LRESULT CALLBACK CSettingsWatch::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* watch = reinterpret_cast<CSettingsWatch*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (watch && message == WM_SETTINGS_CHANGED) {
        watch->m_posted = false;
        LOG_IF_FAILED(watch->Arm());
        watch->Changed();
        return 0;
    }
    if (watch && message == WM_TIMER && wParam == kRetryTimer) {
        ::KillTimer(window, kRetryTimer);
        watch->Changed();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void CSettingsWatch::Stop() noexcept {
    if (m_wait) {
        // Waits for a callback that is running, so none posts to a window that is gone.
        ::UnregisterWaitEx(m_wait, INVALID_HANDLE_VALUE);
        m_wait = nullptr;
    }
    if (m_window) {
        ::DestroyWindow(m_window);
        m_window = nullptr;
        // Fails while another watch still has a window; the last one takes the class away, so
        // that a library loaded again later registers its own window procedure.
        ::UnregisterClassW(kWindowClass, hv::ThisModule());
    }
    m_key.reset();
    m_event.reset();
    m_changed = nullptr;
    m_posted = false;
}

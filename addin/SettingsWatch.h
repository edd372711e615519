#pragma once
// Tells its owner, on the thread that started it, that a value of a registry key under
// HKEY_CURRENT_USER was written. The key's change notification is waited on by the thread pool,
// which only posts to a message-only window of the starting thread; the owner's handler runs
// there (inside any modal loop too), so it may use that thread's Outlook objects.
#include <windows.h>
#include <atomic>
#include <functional>
#include <string>

#include "win/UniqueAny.h"

class CSettingsWatch {
public:
    CSettingsWatch() = default;
    ~CSettingsWatch();
    CSettingsWatch(const CSettingsWatch&) = delete;
    CSettingsWatch& operator=(const CSettingsWatch&) = delete;

    // Watches HKEY_CURRENT_USER\keyPath (not its subkeys). `changed` runs on this thread after
    // a change; several quick changes may come as one call.
    HRESULT Start(const std::string& keyPath, std::function<void()> changed);
    // Runs `changed` once more after `ms`, for an owner that could not act on a change yet.
    void Retry(UINT ms) noexcept;
    void Stop() noexcept;
    bool Watching() const noexcept { return m_window != nullptr; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static VOID CALLBACK Signalled(PVOID context, BOOLEAN timedOut);
    HRESULT Arm() noexcept;
    void Changed() noexcept;

    hv::unique_hkey m_key;
    hv::unique_handle m_event;
    HANDLE m_wait = nullptr;
    HWND m_window = nullptr;
    std::atomic<bool> m_posted{false};
    std::function<void()> m_changed;
};

#pragma once
// A progress bar that sits in one pane of a status bar.
#include <windows.h>

class CStatusProgress {
public:
    CStatusProgress() = default;
    ~CStatusProgress();
    CStatusProgress(const CStatusProgress&) = delete;
    CStatusProgress& operator=(const CStatusProgress&) = delete;

    // Creates the bar (visible, smooth) over pane `pane` of `statusBar` and clears the pane's text.
    bool Create(HWND statusBar, int pane, UINT id);
    // Moves the bar onto the pane's rectangle again (after the panes changed).
    void Reposition(HWND statusBar, int pane);
    void SetRange(int low, int high);
    void SetPos(int pos);
    int GetPos() const;
    HWND GetHwnd() const noexcept { return m_hWnd; }
    void Destroy() noexcept;

private:
    static RECT PaneRect(HWND statusBar, int pane);
    HWND m_hWnd = nullptr;  // a child of the status bar, destroyed with it at the latest
};

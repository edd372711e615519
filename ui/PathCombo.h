#pragma once
// The type-ahead combo box: typing filters the user's paths by any part of their names (in any
// letter case); Backspace and Delete edit the text without filtering again.
#include <windows.h>
#include "service/LocationRecords.h"

class CPathCombo {
public:
    CPathCombo() = default;
    ~CPathCombo();
    CPathCombo(const CPathCombo&) = delete;
    CPathCombo& operator=(const CPathCombo&) = delete;

    // Takes over the combo box (a drop-down with an edit field) of a dialog.
    bool Subclass(HWND combo);
    // The list the entries come from; not owned. Null detaches.
    void Attach(const CUserPathList* paths) noexcept { m_pPaths = paths; }
    // From CBN_EDITCHANGE of the combo box.
    void OnEditChange();
    // The path of the chosen entry (CBN_SELCHANGE), or null.
    CUserPath* SelectedPath() const;

    HWND GetHwnd() const noexcept { return m_hCombo; }
    bool m_fFilter = false;

private:
    // Returns true when the key was consumed.
    bool OnKey(UINT msg, WPARAM key);
    static LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR) noexcept;
    HWND m_hCombo = nullptr;
    HWND m_hEdit = nullptr;
    const CUserPathList* m_pPaths = nullptr;
};

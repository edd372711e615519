#pragma once
// Base of the product's dialogs: a modal (or child) dialog from a resource template whose
// procedure forwards to virtual handlers. A static thunk stores `this` at WM_INITDIALOG and
// forgets it at WM_NCDESTROY; nothing thrown inside a handler leaves the window procedure.
#include <windows.h>
#include <string>

namespace hv {

constexpr UINT WMU_RUN_OP = WM_USER + 100;

class CDialogBase {
public:
    explicit CDialogBase(UINT templateId) noexcept : m_idd(templateId) {}
    virtual ~CDialogBase();
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // Runs the dialog modally; returns what EndDialog was given, or -1 when it could not open.
    INT_PTR DoModal(HWND parent);
    // Creates the dialog modeless (a property page or a child panel).
    HWND Create(HWND parent);

    HWND GetHwnd() const noexcept { return m_hWnd; }
    UINT TemplateId() const noexcept { return m_idd; }
    void EndDialog(INT_PTR result);

    HWND GetItem(int id) const noexcept { return ::GetDlgItem(m_hWnd, id); }
    std::string GetItemText(int id) const;
    void SetItemText(int id, const std::string& text) const;
    bool IsChecked(int id) const noexcept { return ::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
    void SetChecked(int id, bool checked) const noexcept {
        ::CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Return true when the command was handled.
    virtual bool OnCommand(WORD id, WORD code, HWND control);
    virtual LRESULT OnNotify(NMHDR* header, bool& handled);
    virtual void OnTimer(UINT_PTR id) { (void)id; }
    virtual void OnDestroy() {}
    // Any other message (user messages such as WMU_RUN_OP among them); set handled to claim it.
    virtual INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    // Called when a handler threw: the dialog decides how to fail.
    virtual void OnHandlerException() noexcept {}

private:
    static INT_PTR CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_idd;
    HWND m_hWnd = nullptr;
    bool m_modal = false;
};

}  // namespace hv

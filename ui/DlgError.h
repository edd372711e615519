#pragma once
// "Halvane Error": an operation failed; the details box says why.
#include <string>
#include "ui/Banner.h"
#include "win/Dialog.h"

class CDlgError : public hv::CDialogBase {
public:
    explicit CDlgError(HWND parent) noexcept;
    INT_PTR DoModal() { return CDialogBase::DoModal(m_hParent); }

    std::string m_strDetails;

protected:
    BOOL OnInitDialog() override;
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    HWND m_hParent;
    CBanner m_banner;
};

// Shows the error dialog, modal over `owner`, with `details`.
void ShowErrorDialog(HWND owner, const std::string& details);

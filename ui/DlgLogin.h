#pragma once
// "Halvane Login": asks for the user name and password and proves them by fetching the user's
// paths through the operation pump; only an accepted login closes it with OK.
#include <memory>
#include <string>
#include "service/OpGetUserPaths.h"
#include "service/PumpOp.h"
#include "ui/Banner.h"
#include "ui/DlgError.h"
#include "win/Dialog.h"

// Outlook's item class of a task: the login for a task asks for task lists.
constexpr long HV_CLASS_TASK = 48;
constexpr long HV_CLASS_APPOINTMENT = 26;
constexpr long HV_CLASS_MAIL = 43;

class CDlgLogin : public hv::CDialogBase, public CPumpOp {
public:
    CDlgLogin(CWebSvrAPI* api, long itemClass, HWND parent) noexcept;
    INT_PTR DoModal() { return CDialogBase::DoModal(m_hParent); }

    bool AllDone() override { return true; }
    void ShowError(HWND dialog, const std::string& details) override { ShowErrorDialog(dialog, details); }
    // The operation that proved the login, with the user's paths; null before.
    std::unique_ptr<OpGetUserPaths> TakeOperation();

    std::string m_strUser;
    std::string m_strPassword;
    DWORD m_fRemember = 1;
    long m_lClass;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnTimer(UINT_PTR id) override;
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    HWND m_hParent;
    CBanner m_banner;
};

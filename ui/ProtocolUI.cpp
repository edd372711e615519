#include "ui/ProtocolUI.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "service/WebSvrOp.h"
#include "ui/UiRes.h"
#include "ui/DlgError.h"
#include "ui/DlgLogin.h"
#include "win/Strings.h"

HRESULT CProtocolUI::LoginUser(CCredentials* credentials, long itemClass) {
    if (!credentials) return E_INVALIDARG;
    CLogBlock block("CProtocolUI::LoginUser");
    CDiagLog& log = HvLog();
    m_pUserPathsOp.reset();
    credentials->m_strUser.clear();
    credentials->m_strPassword.clear();

    CConfig config;
    std::string url;
    HRESULT hr = config.GetServiceURL(url);
    if (FAILED(hr)) return hr;
    hr = Connect(url);
    if (FAILED(hr)) return hr;

    log.LogComment("Fetching Credentials");
    if (SUCCEEDED(config.GetCredentials(credentials->m_strUser, credentials->m_strPassword)) &&
        !credentials->m_strUser.empty() && !credentials->m_strPassword.empty()) {
        if (CheckCredentials(*credentials) == S_OK) return S_OK;
    }

    CDlgLogin dialog(TheAPI(), itemClass, m_hParent);
    dialog.m_strUser = credentials->m_strUser;
    dialog.m_strPassword = credentials->m_strPassword;
    // A cancelled login is a failure: every caller that tests SUCCEEDED stops there.
    if (dialog.DoModal() != IDOK) return HV_E_LOGIN_CANCELLED;

    log.LogComment("User Logged In");
    credentials->m_strUser = dialog.m_strUser;
    credentials->m_strPassword = dialog.m_strPassword;
    if (dialog.m_fRemember) {
        log.LogComment("Saving Credentials");
        if (FAILED(config.SetCredentials(credentials->m_strUser, credentials->m_strPassword))) {
            // The store refuses a pair longer than it can hold; the user asked for it to be
            // remembered, so say that it was not rather than ask again next time unexplained.
            CDlgError error(m_hParent);
            error.m_strDetails = hv::LoadResString(IDS_CREDENTIALS_NOT_SAVED);
            error.DoModal();
        }
    }
    CheckCredentials(*credentials);
    m_pUserPathsOp = dialog.TakeOperation();
    return S_OK;
}

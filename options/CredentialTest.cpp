#include "options/CredentialTest.h"
#include <memory>
#include <new>
#include <string>
#include "common/Config.h"
#include "common/DiagLog.h"
#include "common/EnvReport.h"
#include "options/resource.h"
#include "service/OpCheckPluginVersion.h"
#include "service/WebSvrAPI.h"
#include "service/WebSvrOp.h"

namespace {

std::unique_ptr<CWebSvrAPI>& Connection() {
    static std::unique_ptr<CWebSvrAPI> api;
    return api;
}

// Opens the connection to the host of `url`; a connection to another host (the settings
// changed since) is closed first.
bool OpenConnection(CWebSvrAPI& api, const std::string& url) {
    if (api.IsConnected() && api.m_strServiceURL != url) api.Close();
    std::string path;
    SplitServiceURL(url, WebSvrShared().host, path);
    if (!api.Open()) return false;
    api.m_strServiceURL = url;
    return true;
}

}  // namespace

HRESULT CCredentialTest::Run(const CCredentials& credentials, IDispatch* application, Outcome& outcome) {
    CLogBlock block("CCredentialTest::Run");
    std::unique_ptr<CWebSvrAPI>& api = Connection();
    if (!api) {
        api.reset(new (std::nothrow) CWebSvrAPI("HV for Outlook/1.0"));
        if (!api) {
            HvLog().LogError("Out of Memory!");
            return E_OUTOFMEMORY;
        }
    }
    CConfig config;
    std::string url;
    if (FAILED(config.GetServiceURL(url)) || !OpenConnection(*api, url)) {
        HvLog().LogError("Failed to Open the API");
        outcome = OUTCOME_CONNECTION_FAILED;
        return S_OK;
    }

    CEnvReport report(application);
    OpCheckPluginVersion op(api->m_strServiceURL);
    op.m_credentials = credentials;
    op.m_strEnvironment = report.Environment();
    op.m_strVersion = report.m_strVersion;
    const int ran = op.Run(0, nullptr, 0, 0);
    op.CloseRequest();
    if (ran)
        outcome = OUTCOME_VALID;
    else if (op.m_hResult == HV_E_CONNECTION)
        outcome = OUTCOME_CONNECTION_FAILED;
    else if (op.m_hResult == E_FAIL)
        outcome = OUTCOME_INVALID;
    else
        // An HTTP error status, or an answer that is not the check's: the credentials were
        // never looked at, so they must not be called valid.
        outcome = OUTCOME_FAILED;
    HvLog().LogCommentNum("CCredentialTest::Run: outcome %ld", static_cast<long>(outcome));
    return S_OK;
}

UINT CCredentialTest::OutcomeText(Outcome outcome) noexcept {
    switch (outcome) {
        case OUTCOME_VALID:
            return IDS_CREDENTIALS_VALID;
        case OUTCOME_INVALID:
            return IDS_CREDENTIALS_INVALID;
        case OUTCOME_CONNECTION_FAILED:
            return IDS_CONNECTION_FAILED;
        default:
            return IDS_OPT_CONNECTION_EXCEPTION;
    }
}

void CCredentialTest::ReleaseConnection() noexcept {
    Connection().reset();
}

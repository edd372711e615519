#include "service/Protocol.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "service/OpCheckPluginVersion.h"
#include "service/WebSvrOp.h"

CProtocol*& TheProtocol() {
    static CProtocol* protocol = nullptr;
    return protocol;
}

CWebSvrAPI*& TheAPI() {
    static CWebSvrAPI* api = nullptr;
    return api;
}

void SetTheProtocol(CProtocol* protocol) {
    CProtocol* old = TheProtocol();
    if (old == protocol) return;
    delete old;  // clears both process-wide pointers
    TheProtocol() = protocol;
}

CProtocol::CProtocol(LONG_PTR owner) : m_owner(owner) {}

CProtocol::~CProtocol() {
    m_pUserPathsOp.reset();
    m_pEnvReport.reset();
    if (CWebSvrAPI* api = TheAPI()) {
        api->Close();
        delete api;
        TheAPI() = nullptr;
    }
    if (TheProtocol() == this) TheProtocol() = nullptr;
}

HRESULT CProtocol::Connect(const std::string& serviceURL) {
    CDiagLog& log = HvLog();
    log.LogBlockEnter("CProtocol::Connect");
    if (!TheAPI()) {
        TheAPI() = new (std::nothrow) CWebSvrAPI("HV for Outlook/1.0");
        if (!TheAPI()) {
            log.LogError("Out of Memory!");
            log.LogBlockExit("CProtocol::Connect");
            return E_OUTOFMEMORY;
        }
    }
    std::string path;
    SplitServiceURL(serviceURL, WebSvrShared().host, path);
    if (!TheAPI()->Open()) {
        log.LogError("Failed to Open the API");
        log.LogBlockExit("CProtocol::Connect");
        return E_FAIL;
    }
    TheAPI()->m_strServiceURL = serviceURL;
    log.LogBlockExit("CProtocol::Connect");
    return S_OK;
}

HRESULT CWebService::FireUpProtocol(LONG_PTR /*owner*/, const std::string& /*servicePath*/) {
    CDiagLog& log = HvLog();
    log.LogBlockEnter("CWebService::FireUpProtocol");
    CProtocol* protocol = TheProtocol();
    if (!protocol) {
        log.LogBlockExit("CWebService::FireUpProtocol");
        return E_INVALIDARG;
    }
    CConfig config;
    std::string url;
    HRESULT hr = config.GetServiceURL(url);
    if (FAILED(hr)) {
        log.LogBlockExit("CWebService::FireUpProtocol");
        return hr;
    }
    hr = protocol->Connect(url);
    if (FAILED(hr)) log.LogError("Failed to Open the API");
    log.LogBlockExit("CWebService::FireUpProtocol");
    return hr;
}

HRESULT CProtocol::CheckCredentials(const CCredentials& credentials) {
    if (!m_pEnvReport) {
        m_pEnvReport.reset(new (std::nothrow) CEnvReport(reinterpret_cast<IDispatch*>(m_owner)));
        if (!m_pEnvReport) return S_OK;
    }
    std::unique_ptr<OpCheckPluginVersion> op(
        new (std::nothrow) OpCheckPluginVersion(TheAPI() ? TheAPI()->m_strServiceURL : std::string()));
    if (!op) return S_OK;
    op->m_credentials = credentials;
    op->m_strEnvironment = m_pEnvReport->Environment();
    op->m_strVersion = m_pEnvReport->m_strVersion;
    op->Run(0, nullptr, 0, 0);
    // The exchange's code decides: a fault, a bad status or no connection; an answer the
    // service gave without a version still proves the credentials.
    return op->m_hResult;
}

HRESULT CProtocol::LoginUser(CCredentials* credentials, long /*itemClass*/) {
    if (!credentials) return E_INVALIDARG;
    return CheckCredentials(*credentials);
}

HRESULT CProtocol::SilentLogin(CCredentials* credentials) {
    CConfig config;
    std::string url;
    if (FAILED(config.GetServiceURL(url)) || FAILED(Connect(url))) return E_FAIL;
    CCredentials stored;
    if (!credentials) {
        HvLog().LogComment("Fetching Credentials");
        if (FAILED(config.GetCredentials(stored.m_strUser, stored.m_strPassword))) return E_FAIL;
        credentials = &stored;
    }
    if (credentials->m_strUser.empty() || credentials->m_strPassword.empty()) return E_FAIL;
    return CheckCredentials(*credentials);
}

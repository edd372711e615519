#include "service/Protocol.h"
#include "common/Config.h"
#include "common/DiagLog.h"
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

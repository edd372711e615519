#include "service/WebSvrAPI.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "service/WebSvrOp.h"
#include "win/Strings.h"

CWebSvrSession::CWebSvrSession(const char* agent)
    : m_hSession(::InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)) {}

void CWebSvrSession::EnableStatusCallback() {
    if (m_hSession) ::InternetSetStatusCallbackA(m_hSession.get(), &CWebSvrSession::StatusCallback);
}

void CALLBACK CWebSvrSession::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    // The context of our handles is 1, never a window: there is nobody to tell.
    (void)context;
    (void)status;
}

CWebSvrAPI::CWebSvrAPI(const char* agent) : m_strAgent(agent ? agent : "") {}

CWebSvrAPI::~CWebSvrAPI() {
    Close();
}

bool CWebSvrAPI::Open() {
    if (m_fConnected && m_pSession) return true;
    if (!m_pSession) {
        auto session = std::make_unique<CWebSvrSession>(m_strAgent.c_str());
        if (!session->IsOpen()) return false;
        m_pSession = std::move(session);
    }
    if (!MakeConnection()) return false;
    m_fConnected = 1;
    return true;
}

bool CWebSvrAPI::MakeConnection() {
    m_pSession->EnableStatusCallback();
    CConfig config;
    const INTERNET_PORT port = config.GetPort();
    CWebSvrShared& shared = WebSvrShared();
    if (shared.host.empty()) shared.host = CConfig::m_strDefaultHost;
    m_hConnection.reset(::InternetConnectA(m_pSession->Handle(), shared.host.c_str(), port, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 1));
    if (!m_hConnection) {
        const DWORD error = ::GetLastError();
        HvLog().LogError(hv::Format("InternetConnect to %s:%u failed (error %lu)", shared.host.c_str(),
                                    static_cast<unsigned>(port), static_cast<unsigned long>(error)));
        return false;
    }
    shared.server = shared.host;
    shared.connection = m_hConnection.get();
    return true;
}

void CWebSvrAPI::Close() {
    if (m_fConnected) {
        CWebSvrShared& shared = WebSvrShared();
        if (shared.connection == m_hConnection.get()) shared.connection = nullptr;
        m_hConnection.reset();
        shared.server.clear();
        m_fConnected = 0;
    }
    m_pSession.reset();
    m_strServiceURL.clear();
}

#pragma once
// The one process-wide protocol object: it owns the API object (session and connection) and
// the environment report, and logs the user in (the prompting variant lives with the UI).
#include <memory>
#include <string>
#include "common/EnvReport.h"
#include "service/Credentials.h"
#include "service/OpGetUserPaths.h"
#include "service/WebSvrAPI.h"

class CProtocol {
public:
    explicit CProtocol(LONG_PTR owner = 0);
    virtual ~CProtocol();
    CProtocol(const CProtocol&) = delete;
    CProtocol& operator=(const CProtocol&) = delete;

    // Opens (or reuses) the connection for this service URL.
    HRESULT Connect(const std::string& serviceURL);

    // Proves the pair against the service (the item class matters only to the prompting
    // variant): 0 when accepted, else the version check's result code.
    virtual HRESULT LoginUser(CCredentials* credentials, long itemClass);
    // The start-up login: the given pair, or the stored one; never shows a window.
    HRESULT SilentLogin(CCredentials* credentials);
    // The credential check: OpCheckPluginVersion in one call with the environment report.
    HRESULT CheckCredentials(const CCredentials& credentials);

    // The Outlook Application dispatch (or 0), handed to the environment report.
    LONG_PTR m_owner;
    // The user-paths operation the login dialog ran; the caller takes its paths.
    std::unique_ptr<OpGetUserPaths> m_pUserPathsOp;
    std::unique_ptr<CEnvReport> m_pEnvReport;
};

// The process-wide objects: at most one protocol object, the API object it made.
CProtocol*& TheProtocol();
CWebSvrAPI*& TheAPI();
// Replaces the process-wide protocol object (deleting the old one); null deletes it.
void SetTheProtocol(CProtocol* protocol);

// Base of the Outlook event handlers; here it only brings the service up.
class CWebService {
public:
    // Builds the service URL from the settings and connects the protocol object to it.
    static HRESULT FireUpProtocol(LONG_PTR owner, const std::string& servicePath = std::string());
};

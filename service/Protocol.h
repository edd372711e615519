#pragma once
// The one process-wide protocol object: it owns the API object (session and connection) and
// the environment report, and logs the user in (the prompting variant lives with the UI).
#include <memory>
#include <string>
#include "service/WebSvrAPI.h"

class CWebSvrOp;

class CProtocol {
public:
    explicit CProtocol(LONG_PTR owner = 0);
    virtual ~CProtocol();
    CProtocol(const CProtocol&) = delete;
    CProtocol& operator=(const CProtocol&) = delete;

    // Opens (or reuses) the connection for this service URL.
    HRESULT Connect(const std::string& serviceURL);

    LONG_PTR m_owner;
    // The user-paths operation the login dialog ran; the caller takes its paths.
    std::unique_ptr<CWebSvrOp> m_pUserPathsOp;
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

#pragma once
// CheckPluginVersion: reports the add-in's version and environment; the service's answer also
// proves the credentials.
#include "service/Credentials.h"
#include "service/WebSvrOp.h"

class OpCheckPluginVersion : public CWebSvrOp {
public:
    explicit OpCheckPluginVersion(const std::string& url);
    int PrepareData() override;
    int ParseResponse() override;

    CCredentials m_credentials;
    std::string m_strVersion;
    std::string m_strEnvironment;
    std::string m_strCurrentVersion;  // what the service offers
};

#pragma once
// GetWorkspaceMemberList: the members of one workspace.
#include "service/Credentials.h"
#include "service/WebSvrOp.h"
#include "service/LocationRecords.h"

class OpGetWorkspaceMemberList : public CWebSvrOp {
public:
    explicit OpGetWorkspaceMemberList(const std::string& url);
    int PrepareData() override;
    int ParseResponse() override;

    CMemberList m_members;  // the caller moves them out
    CCredentials m_credentials;
    std::string m_strSpaceId;
};

#pragma once
// GetUserPaths: every workspace location the user may post to, of one category type.
#include "service/Credentials.h"
#include "service/WebSvrOp.h"
#include "service/LocationRecords.h"

class OpGetUserPaths : public CWebSvrOp {
public:
    explicit OpGetUserPaths(const std::string& url);
    int PrepareData() override;
    int ParseResponse() override;

    CUserPathList m_paths;  // in answer order; the caller moves them out
    CCredentials m_credentials;
    std::string m_strCategoryType = "folder";
};

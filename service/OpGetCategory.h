#pragma once
// GetCategory: the settings of one category (the forwarding address of a folder among them).
#include "service/Credentials.h"
#include "service/WebSvrOp.h"
#include "service/LocationRecords.h"

class OpGetCategory : public CWebSvrOp {
public:
    explicit OpGetCategory(const std::string& url);
    int PrepareData() override;
    int ParseResponse() override;

    std::unique_ptr<CCategory> m_pCategory;  // null unless exactly one came back; the caller takes it
    CCredentials m_credentials;
    std::string m_strSpaceId;
    std::string m_strCategoryId;
};

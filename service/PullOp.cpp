#include "service/PullOp.h"
#include "common/Config.h"
#include "win/Strings.h"

CPullOp::CPullOp(const std::string& url) : CWebSvrOp(url) {
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

void CPullOp::ReadSharedFields(CXMLDoc& doc, CSyncItem& record) {
    doc.GetSingleNodeValue("ns1:title", record.title);
    if (doc.GetSingleNodeValue("ns1:description_plain_text", record.description_plain_text) == S_OK)
        hv::ReplaceAll(record.description_plain_text, "%0A", "\n");
    doc.GetSingleNodeValue("ns1:assigned_to", record.assigned_to);
    doc.GetSingleNodeValue("ns1:assigned_to_userids", record.assigned_to_userids);
    doc.GetSingleNodeValue("ns1:space_id", record.m_target.m_strSpaceID);
    doc.GetSingleNodeValue("ns1:space_name", record.m_target.m_strWorkspace);
    doc.GetSingleNodeValue("ns1:internal_use_only", record.internal_use_only);
    std::string deleted;
    doc.GetSingleNodeValue("ns1:deleted", deleted);
    if (deleted == "true") record.m_fDeleted = 1;
}

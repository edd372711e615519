#include "service/OpPullEvent.h"
#include "common/Config.h"
#include "win/Strings.h"

OpPullEvent::OpPullEvent(const std::string& url) : CWebSvrOp(url) {
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

void OpPullEvent::ReadEventRecord(CXMLDoc& doc, CSyncItem& record) {
    doc.GetSingleNodeValue("ns1:event_id", record.m_target.m_strID);
    if (doc.GetSingleNodeValue("ns1:description_plain_text", record.description_plain_text) == S_OK)
        hv::ReplaceAll(record.description_plain_text, "%0A", "\n");
    doc.GetSingleNodeValue("ns1:title", record.title);
    doc.GetSingleNodeValue("ns1:location", record.location);
    doc.GetSingleNodeValue("ns1:organizer", record.organizer);
    doc.GetSingleNodeValue("ns1:start_time", record.start_time);
    doc.GetSingleNodeValue("ns1:end_time", record.end_time);
    doc.GetSingleNodeValue("ns1:assigned_to", record.assigned_to);
    doc.GetSingleNodeValue("ns1:assigned_to_userids", record.assigned_to_userids);
    doc.GetSingleNodeValue("ns1:space_id", record.m_target.m_strSpaceID);
    doc.GetSingleNodeValue("ns1:space_name", record.m_target.m_strWorkspace);
    doc.GetSingleNodeValue("ns1:internal_use_only", record.internal_use_only);
    // Events keep last_modified as received in the document walk.
    doc.GetSingleNodeValue("ns1:last_modified", record.last_modified);
    std::string deleted;
    doc.GetSingleNodeValue("ns1:deleted", deleted);
    if (deleted == "true") record.m_fDeleted = 1;
    record.m_strType = "Event";
}

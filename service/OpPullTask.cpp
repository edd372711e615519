#include "service/OpPullTask.h"
#include "common/Config.h"
#include "service/TimeLogic.h"
#include "win/Strings.h"

OpPullTask::OpPullTask(const std::string& url) : CWebSvrOp(url) {
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

void OpPullTask::ReadTaskRecord(CXMLDoc& doc, CSyncItem& record) {
    doc.GetSingleNodeValue("ns1:task_id", record.m_target.m_strID);
    doc.GetSingleNodeValue("ns1:title", record.title);
    if (doc.GetSingleNodeValue("ns1:description_plain_text", record.description_plain_text) == S_OK)
        hv::ReplaceAll(record.description_plain_text, "%0A", "\n");
    doc.GetSingleNodeValue("ns1:completed", record.completed);
    doc.GetSingleNodeValue("ns1:priority", record.priority);
    doc.GetSingleNodeValue("ns1:start_date", record.start_date);
    doc.GetSingleNodeValue("ns1:due_date", record.due_date);
    doc.GetSingleNodeValue("ns1:assigned_to", record.assigned_to);
    doc.GetSingleNodeValue("ns1:assigned_to_userids", record.assigned_to_userids);
    doc.GetSingleNodeValue("ns1:tasklist_id", record.m_target.m_strCatID);
    doc.GetSingleNodeValue("ns1:space_id", record.m_target.m_strSpaceID);
    doc.GetSingleNodeValue("ns1:space_name", record.m_target.m_strWorkspace);
    doc.GetSingleNodeValue("ns1:category_name", record.m_target.m_strFolder);
    doc.GetSingleNodeValue("ns1:internal_use_only", record.internal_use_only);
    doc.GetSingleNodeValue("ns1:created", record.created);
    doc.GetSingleNodeValue("ns1:created_by", record.created_by);
    doc.GetSingleNodeValue("ns1:created_by_name", record.created_by_name);
    if (doc.GetSingleNodeValue("ns1:last_modified", record.last_modified) == S_OK) NormalizeTime(record.last_modified);
    std::string deleted;
    doc.GetSingleNodeValue("ns1:deleted", deleted);
    if (deleted == "true") record.m_fDeleted = 1;
    record.m_strType = "Task";
    if (record.priority == "0") record.priority = "2";
}

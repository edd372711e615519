#include "service/OpPullTask.h"
#include "service/TimeLogic.h"

OpPullTask::OpPullTask(const std::string& url) : CPullOp(url) {}

void OpPullTask::ReadTaskRecord(CXMLDoc& doc, CSyncItem& record) {
    doc.GetSingleNodeValue("ns1:task_id", record.m_target.m_strID);
    ReadSharedFields(doc, record);
    doc.GetSingleNodeValue("ns1:completed", record.completed);
    doc.GetSingleNodeValue("ns1:priority", record.priority);
    doc.GetSingleNodeValue("ns1:start_date", record.start_date);
    doc.GetSingleNodeValue("ns1:due_date", record.due_date);
    doc.GetSingleNodeValue("ns1:tasklist_id", record.m_target.m_strCatID);
    doc.GetSingleNodeValue("ns1:category_name", record.m_target.m_strFolder);
    doc.GetSingleNodeValue("ns1:created", record.created);
    doc.GetSingleNodeValue("ns1:created_by", record.created_by);
    doc.GetSingleNodeValue("ns1:created_by_name", record.created_by_name);
    if (doc.GetSingleNodeValue("ns1:last_modified", record.last_modified) == S_OK) NormalizeTime(record.last_modified);
    record.m_strType = "Task";
    if (record.priority == "0") record.priority = "2";
}

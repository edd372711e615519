#include "service/OpPushTask.h"
#include "service/OpPullTask.h"
#include "win/Strings.h"

OpPushTask::OpPushTask(const std::string& url) : CPushOp(url, "OpPushTask", "Writing Task", "Task Written") {}

int OpPushTask::PrepareData() {
    const std::string head = EnvelopeHead(m_strUser, m_strPassword);
    const bool create = Creating();
    std::string text;
    if (create) {
        // A new task always goes to the activity log.
        text = hv::Format(
            "%s<SOAP-ENV:Body>\n<m:CreateTask xmlns:m=\"urn:Halvane/API\">\n<m:space_id>%s</m:space_id>\n"
            "<m:tasklist_id>%s</m:tasklist_id>\n<m:is_description_html>false</m:is_description_html>\n"
            "<m:completed>%s</m:completed>\n<m:priority>%ld</m:priority>\n<m:send_email>%s</m:send_email>\n"
            "<m:add_to_activity_log>%s</m:add_to_activity_log>\n",
            head.c_str(), m_target.m_strSpaceID.c_str(), m_target.m_strCatID.c_str(), TrueFalse(m_fCompleted),
            m_nPriority, TrueFalse(m_fSendEmail), "true");
    } else {
        text = hv::Format(
            "%s<SOAP-ENV:Body>\n<m:UpdateTask xmlns:m=\"urn:Halvane/API\">\n<m:task_id>%s</m:task_id>\n"
            "<m:space_id>%s</m:space_id>\n<m:tasklist_id>%s</m:tasklist_id>\n"
            "<m:is_description_html>false</m:is_description_html>\n<m:completed>%s</m:completed>\n"
            "<m:priority>%ld</m:priority>\n<m:send_email>%s</m:send_email>\n"
            "<m:add_to_activity_log>%s</m:add_to_activity_log>\n",
            head.c_str(), m_target.m_strID.c_str(), m_target.m_strSpaceID.c_str(), m_target.m_strCatID.c_str(),
            TrueFalse(m_fCompleted), m_nPriority, TrueFalse(m_fSendEmail), TrueFalse(m_fAddToActivityLog));
    }
    std::string ids;
    for (const CAssignee& member : m_assignees) {
        if (!ids.empty()) ids += ",";
        ids += member.user_id;
    }
    return WriteRequest(
        text, [&](HANDLE file) { return WriteElement("m:title", m_strTitle, file, false, true) == S_OK; },
        [&](HANDLE file) {
            return WriteElement("m:start_date", m_strStartDate, file, true, false) == S_OK &&
                   WriteElement("m:due_date", m_strDueDate, file, true, false) == S_OK;
        },
        ids, Method("Task"));
}

int OpPushTask::ParseResponse() {
    return ReadAnswer(Method("Task"), &OpPullTask::ReadTaskRecord);
}

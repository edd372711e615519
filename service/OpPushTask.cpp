#include "service/OpPushTask.h"
#include "common/Config.h"
#include "service/OpPullTask.h"
#include "service/TimeLogic.h"
#include "win/Files.h"
#include "win/Strings.h"

namespace hv::push {

std::string NewBodyFile(hv::unique_hfile& file) {
    const std::string path = hv::NewTempFile("HVt");
    if (path.empty()) return path;
    file.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        ::DeleteFileA(path.c_str());
        return std::string();
    }
    return path;
}

bool WriteText(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

void TakeAnswer(CWebSvrOp& op, CSyncItem& answer) {
    if (!answer.last_modified.empty()) {
        NormalizeTime(answer.last_modified);
        op.m_strReturnedLastModified = answer.last_modified;
    }
    op.m_strReturnedId = answer.m_target.m_strID;
}

}  // namespace hv::push

namespace {
const char* TrueFalse(long flag) { return flag ? "true" : "false"; }
}  // namespace

OpPushTask::OpPushTask(const std::string& url) : CWebSvrOp(url) {
    m_strKind = "OpPushTask";
    m_szSteps[2] = "Writing Task";
    m_szSteps[5] = "Task Written";
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

int OpPushTask::PrepareData() {
    using hv::push::WriteText;
    hv::unique_hfile file;
    const std::string path = hv::push::NewBodyFile(file);
    if (path.empty()) return 0;
    const std::string head = EnvelopeHead(m_strUser, m_strPassword);
    const bool create = m_target.m_strID.empty();
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
    const bool ok =
        WriteText(file.get(), text) && WriteElement("m:title", m_strTitle, file.get(), false, true) == S_OK &&
        WriteText(file.get(), "<m:description>" + (m_strDescription.empty() ? std::string() : Escaped(m_strDescription)) +
                                  "</m:description>\n") &&
        WriteElement("m:start_date", m_strStartDate, file.get(), true, false) == S_OK &&
        WriteElement("m:due_date", m_strDueDate, file.get(), true, false) == S_OK &&
        WriteText(file.get(), hv::Format("<m:assigned_to_userids>%s</m:assigned_to_userids>\n", ids.c_str())) &&
        WriteText(file.get(), hv::Format(create ? "</m:CreateTask>\n</SOAP-ENV:Body>\n%s"
                                                : "</m:UpdateTask>\n</SOAP-ENV:Body>\n%s",
                                         EnvelopeFoot()));
    file.reset();
    if (!ok) {
        ::DeleteFileA(path.c_str());
        return 0;
    }
    m_fFileMode = 1;
    m_strRequest = path;
    return 1;
}

int OpPushTask::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    const char* path = m_target.m_strID.empty() ? "ns1:CreateTaskResponse/ns1:CreateTaskReturn"
                                                : "ns1:UpdateTaskResponse/ns1:UpdateTaskReturn";
    if (doc.GotoNode(path) != S_OK) return 0;
    OpPullTask::ReadTaskRecord(doc, m_answer);
    hv::push::TakeAnswer(*this, m_answer);
    return 1;
}

#include "service/OpDeleteTask.h"
#include "common/Config.h"
#include "win/Strings.h"

OpDeleteTask::OpDeleteTask(const std::string& url) : CWebSvrOp(url) {
    m_strKind = "OpDeleteTask";
    m_szSteps[2] = "Deleting Task";
    m_szSteps[5] = "Task Deleted";
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

int OpDeleteTask::PrepareData() {
    if (!UseResponseFile()) return 0;
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:DeleteTask "
        "xmlns:m=\"urn:Halvane/API\">\n<m:add_to_activity_log></m:add_to_activity_log>\n"
        "<m:task_id>%s</m:task_id>\n</m:DeleteTask>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_strUser, m_strPassword).c_str(), m_strTaskID.c_str(), EnvelopeFoot());
    return 1;
}

int OpDeleteTask::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:DeleteTaskResponse") != S_OK) return 0;
    // The return element may be missing; only a failing search is a failure.
    return FAILED(doc.LoadNodesByName("ns1:DeleteTaskReturn")) ? 0 : 1;
}

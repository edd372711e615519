#include "service/OpGetTask.h"
#include <memory>
#include "win/Strings.h"

OpGetTask::OpGetTask(const std::string& url) : OpPullTask(url) {
    m_strKind = "OpGetTask";
    m_szSteps[2] = "Requesting Task";
    m_szSteps[5] = "Task Received";
}

OpGetTask::~OpGetTask() = default;

int OpGetTask::PrepareData() {
    if (!UseResponseFile()) return 0;
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:GetTask xmlns:m=\"urn:Halvane/API\">\n<m:task_id>%s</m:task_id>\n</m:GetTask>\n"
        "</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_strUser, m_strPassword).c_str(), m_strTaskID.c_str(), EnvelopeFoot());
    return 1;
}

int OpGetTask::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:GetTaskResponse") != S_OK) return 0;
    if (doc.LoadNodesByName("ns1:GetTaskReturn") != S_OK) return 0;
    long count = 0;
    if (doc.GetNodeCount(count) != S_OK) return 0;
    if (count != 1) return 1;  // anything but one: no record
    if (doc.GotoNodeAt(0) != S_OK) return 1;
    auto record = std::make_unique<CSyncItem>();
    ReadTaskRecord(doc, *record);
    m_pRecord = std::move(record);
    return 1;
}

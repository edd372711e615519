#include "service/OpGetMyTasks.h"
#include "common/Config.h"
#include "service/SAXHandlers.h"
#include <memory>
#include "win/Strings.h"

OpGetMyTasks::OpGetMyTasks(const std::string& url) : OpPullTask(url) {
    m_strKind = "OpGetMyTasks";
    m_szSteps[2] = "Requesting My Tasks ... Please Wait";
    m_szSteps[5] = "My Tasks Received";
    CConfig config;
    m_fStreaming = config.GetSAXParsing() == 1 ? 1 : 0;
    m_fParseAside = m_fStreaming;
}

OpGetMyTasks::~OpGetMyTasks() {
    StopParse();  // the parse fills m_records
}

int OpGetMyTasks::PrepareData() {
    if (!UseResponseFile()) return 0;
    if (!m_strLastModified.empty() && m_strLastModified.back() != 'Z') m_strLastModified += 'Z';
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:GetMyTasks xmlns:m=\"urn:Halvane/API\">\n<m:option>%ld</m:option>\n"
        "<m:last_modified>%s</m:last_modified>\n</m:GetMyTasks>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_strUser, m_strPassword).c_str(), m_nOption, m_strLastModified.c_str(), EnvelopeFoot());
    return 1;
}

int OpGetMyTasks::ParseResponse() {
    if (m_fStreaming) {
        // A fault or a broken answer fails the download: taken for an empty answer, it would
        // let the run go on, write its last-sync marks and skip these changes next time.
        m_hResult = StreamingParse(m_strResponsePath, new CSAXTasks(), m_records, &m_strFaultCode, &m_strFaultString,
                                   StopFlag());
        return SUCCEEDED(m_hResult) ? 1 : 0;
    }
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:GetMyTasksResponse") != S_OK)
        return FailMalformed();  // an envelope without the answer is no empty download
    if (doc.LoadNodesByName("ns1:GetMyTasksReturn") != S_OK) return 1;
    long count = 0;
    if (doc.GetNodeCount(count) != S_OK) return 0;
    for (long i = 0; i < count; ++i) {
        if (doc.GotoNodeAt(i) != S_OK) continue;
        auto record = std::make_unique<CSyncItem>();
        ReadTaskRecord(doc, *record);
        m_records.push_back(std::move(record));
    }
    return 1;
}

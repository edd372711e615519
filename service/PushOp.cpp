#include "service/PushOp.h"
#include "common/Config.h"
#include "service/TimeLogic.h"
#include "win/Files.h"
#include "win/Strings.h"

CPushOp::CPushOp(const std::string& url, const char* kind, const char* sending, const char* sent) : CWebSvrOp(url) {
    m_strKind = kind;
    m_szSteps[2] = sending;
    m_szSteps[5] = sent;
    if (const CWebSvrSettings* scoped = ScopedWebSvrSettings()) {
        if (SUCCEEDED(scoped->serviceUrlResult)) m_strSoapAction = scoped->serviceUrl;
    } else {
        m_config.GetServiceURL(m_strSoapAction);
    }
}

bool CPushOp::WriteText(HANDLE file, const std::string& text) {
    if (!file) {
        m_strRequest += text;
        return true;
    }
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

int CPushOp::WriteRequest(const std::string& leading, const FieldWriter& beforeDescription,
                          const FieldWriter& afterDescription, const std::string& assigneeIds,
                          const std::string& method) {
    // The body is a few kilobytes at most: it is built in memory and sent in one call, with no
    // temporary file to write, read back and delete for every push.
    m_strRequest.clear();
    const bool ok =
        WriteText(nullptr, leading) && beforeDescription(nullptr) &&
        WriteText(nullptr, "<m:description>" + (m_strDescription.empty() ? std::string() : Escaped(m_strDescription)) +
                               "</m:description>\n") &&
        afterDescription(nullptr) &&
        WriteText(nullptr, "<m:assigned_to_userids>" + assigneeIds + "</m:assigned_to_userids>\n") &&
        WriteText(nullptr, "</m:" + method + ">\n</SOAP-ENV:Body>\n" + EnvelopeFoot());
    m_fFileMode = 0;
    m_fSendOnce = true;
    if (!ok) {
        m_strRequest.clear();
        return 0;
    }
    return 1;
}

int CPushOp::ReadAnswer(const std::string& method, void (*read)(CXMLDoc&, CSyncItem&)) {
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode(("ns1:" + method + "Response/ns1:" + method + "Return").c_str()) != S_OK) return 0;
    read(doc, m_answer);
    if (!m_answer.last_modified.empty()) {
        NormalizeTime(m_answer.last_modified);
        m_strReturnedLastModified = m_answer.last_modified;
    }
    m_strReturnedId = m_answer.m_target.m_strID;
    return 1;
}

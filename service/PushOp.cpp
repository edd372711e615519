#include "service/PushOp.h"
#include "common/Config.h"
#include "service/TimeLogic.h"
#include "win/Files.h"
#include "win/Strings.h"

CPushOp::CPushOp(const std::string& url, const char* kind, const char* sending, const char* sent) : CWebSvrOp(url) {
    m_strKind = kind;
    m_szSteps[2] = sending;
    m_szSteps[5] = sent;
    m_config.GetServiceURL(m_strSoapAction);
}

bool CPushOp::WriteText(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

int CPushOp::WriteRequestFile(const std::string& leading, const FieldWriter& beforeDescription,
                              const FieldWriter& afterDescription, const std::string& assigneeIds,
                              const std::string& method) {
    const std::string path = hv::NewTempFile("HVt");
    if (path.empty()) return 0;
    hv::unique_hfile file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool ok = file && WriteText(file.get(), leading) && beforeDescription(file.get()) &&
                    WriteText(file.get(), "<m:description>" +
                                              (m_strDescription.empty() ? std::string() : Escaped(m_strDescription)) +
                                              "</m:description>\n") &&
                    afterDescription(file.get()) &&
                    WriteText(file.get(), "<m:assigned_to_userids>" + assigneeIds + "</m:assigned_to_userids>\n") &&
                    WriteText(file.get(), "</m:" + method + ">\n</SOAP-ENV:Body>\n" + EnvelopeFoot());
    file.reset();
    if (!ok) {
        ::DeleteFileA(path.c_str());
        return 0;
    }
    m_fFileMode = 1;
    m_strRequest = path;
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

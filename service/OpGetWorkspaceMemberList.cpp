#include "service/OpGetWorkspaceMemberList.h"
#include "common/Config.h"
#include "win/Strings.h"

OpGetWorkspaceMemberList::OpGetWorkspaceMemberList(const std::string& url) : CWebSvrOp(url) {
    m_strKind = "OpGetWorkspaceMemberList";
    m_szSteps[2] = "Requesting Member List";
    m_szSteps[5] = "Member List Received";
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

int OpGetWorkspaceMemberList::PrepareData() {
    if (!UseResponseFile()) return 0;
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:GetWorkspaceMemberList xmlns:m=\"urn:Halvane/API\">\n<m:space_id>%s</m:space_id>\n"
        "</m:GetWorkspaceMemberList>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_credentials.m_strUser, m_credentials.m_strPassword).c_str(), m_strSpaceId.c_str(),
        EnvelopeFoot());
    return 1;
}

int OpGetWorkspaceMemberList::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:GetWorkspaceMemberListResponse") != S_OK) return 0;
    if (FAILED(doc.LoadNodesByName("ns1:GetWorkspaceMemberListReturn"))) return 1;
    long count = 0;
    if (FAILED(doc.GetNodeCount(count))) return 0;
    for (long i = 0; i < count; ++i) {
        if (doc.GotoNodeAt(i) != S_OK) continue;
        std::unique_ptr<CMember> member(new (std::nothrow) CMember);
        if (!member) continue;
        if (FAILED(doc.GetSingleNodeValue("ns1:user_id", member->user_id))) continue;
        if (FAILED(doc.GetSingleNodeValue("ns1:username", member->username))) continue;
        if (FAILED(doc.GetSingleNodeValue("ns1:email", member->email))) continue;
        if (FAILED(doc.GetSingleNodeValue("ns1:full_name", member->full_name))) continue;
        doc.GetSingleNodeValue("ns1:phone", member->phone);
        m_members.push_back(std::move(member));
    }
    return 1;
}

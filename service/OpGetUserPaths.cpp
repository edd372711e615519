#include "service/OpGetUserPaths.h"
#include "common/Config.h"
#include "win/Strings.h"

OpGetUserPaths::OpGetUserPaths(const std::string& url) : CWebSvrOp(url) {
    m_strKind = "OpGetUserPaths";
    m_szSteps[2] = "Requesting User Paths";
    m_szSteps[5] = "User Paths Received";
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

int OpGetUserPaths::PrepareData() {
    // The answer can list hundreds of paths: it goes to a file.
    if (!UseResponseFile()) return 0;
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:GetUserPaths xmlns:m=\"urn:Halvane/API\">\n<m:category_type>%s</m:category_type>\n"
        "</m:GetUserPaths>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_credentials.m_strUser, m_credentials.m_strPassword).c_str(), m_strCategoryType.c_str(),
        EnvelopeFoot());
    return 1;
}

int OpGetUserPaths::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    HRESULT hr = doc.GotoNode("ns1:GetUserPathsResponse");
    if (hr != S_OK) {
        m_hResult = hr;
        return 0;
    }
    if (SUCCEEDED(doc.LoadNodesByName("ns1:GetUserPathsReturn"))) {
        long count = 0;
        hr = doc.GetNodeCount(count);
        if (FAILED(hr)) {
            m_hResult = hr;
            return 0;
        }
        for (long i = 0; i < count; ++i) {
            if (doc.GotoNodeAt(i) != S_OK) continue;
            std::unique_ptr<CUserPath> path(new (std::nothrow) CUserPath);
            if (!path) continue;
            // Only an error reading the ids drops a path; a missing element leaves a field empty.
            if (FAILED(doc.GetSingleNodeValue("ns1:space_id", path->space_id))) continue;
            if (FAILED(doc.GetSingleNodeValue("ns1:category_id", path->category_id))) continue;
            doc.GetSingleNodeValue("ns1:db_guid", path->db_guid);
            doc.GetSingleNodeValue("ns1:category_name", path->category_name);
            m_paths.push_back(std::move(path));
        }
    }
    m_hResult = S_OK;
    return 1;
}

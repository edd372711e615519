#include "service/OpGetCategory.h"
#include "common/Config.h"
#include "win/Strings.h"

OpGetCategory::OpGetCategory(const std::string& url) : CWebSvrOp(url) {
    m_strKind = "OpGetCategory";
    m_szSteps[2] = "Requesting Category";
    m_szSteps[5] = "Category Received";
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

int OpGetCategory::PrepareData() {
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:GetCategory xmlns:m=\"urn:Halvane/API\">\n<m:space_id>%s</m:space_id>\n"
        "<m:category_id>%s</m:category_id>\n</m:GetCategory>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_credentials.m_strUser, m_credentials.m_strPassword).c_str(), m_strSpaceId.c_str(),
        m_strCategoryId.c_str(), EnvelopeFoot());
    return 1;
}

int OpGetCategory::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:GetCategoryResponse") != S_OK) return 0;
    if (doc.LoadNodesByName("ns1:GetCategoryReturn") != S_OK) return 0;
    long count = 0;
    if (doc.GetNodeCount(count) != S_OK) return 0;
    if (count == 0) {  // an answer without its return element is no answer
        m_hResult = E_FAIL;
        return 0;
    }
    if (count != 1) return 1;  // an ambiguous answer names no category
    if (doc.GotoNodeAt(0) != S_OK) return 0;
    std::unique_ptr<CCategory> category(new (std::nothrow) CCategory);
    if (!category) return 1;
    if (FAILED(doc.GetSingleNodeValue("ns1:category_id", category->category_id))) return 1;
    if (FAILED(doc.GetSingleNodeValue("ns1:category_name", category->category_name))) return 1;
    doc.GetSingleNodeValue("ns1:milestone_id", category->milestone_id);
    doc.GetSingleNodeValue("ns1:email_primary", category->email_primary);
    doc.GetSingleNodeValue("ns1:email_files", category->email_files);
    doc.GetSingleNodeValue("ns1:email_discussions", category->email_discussions);
    std::string internalUse;
    if (doc.GetSingleNodeValue("ns1:internal_use_only", internalUse) == S_OK && internalUse == "true")
        category->internal_use_only = 1;
    m_pCategory = std::move(category);
    return 1;
}

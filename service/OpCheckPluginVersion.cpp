#include "service/OpCheckPluginVersion.h"
#include "common/Config.h"
#include "win/Strings.h"

OpCheckPluginVersion::OpCheckPluginVersion(const std::string& url) : CWebSvrOp(url) {
    m_strKind = "OpCheckPluginVersion";
    m_szSteps[2] = "Submitting Data";
    m_szSteps[5] = "Data Submitted";
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

int OpCheckPluginVersion::PrepareData() {
    if (!UseResponseFile()) return 0;
    // The environment is XML itself: it travels escaped as the text of its element.
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:CheckPluginVersion "
        "xmlns:m=\"urn:Halvane/API\">\n<m:plugin_type>outlook</m:plugin_type>\n"
        "<m:version>%s</m:version>\n<m:environment>%s</m:environment>\n<m:comments></m:comments>\n"
        "</m:CheckPluginVersion>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_credentials.m_strUser, m_credentials.m_strPassword).c_str(), m_strVersion.c_str(),
        Escaped(m_strEnvironment).c_str(), EnvelopeFoot());
    return 1;
}

int OpCheckPluginVersion::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:CheckPluginVersionResponse") != S_OK) return 0;
    m_strCurrentVersion.clear();
    doc.GetSingleNodeValue("ns1:current_version", m_strCurrentVersion);
    return m_strCurrentVersion.empty() ? 0 : 1;
}

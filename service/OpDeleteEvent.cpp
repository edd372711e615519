#include "service/OpDeleteEvent.h"
#include "common/Config.h"
#include "win/Strings.h"

OpDeleteEvent::OpDeleteEvent(const std::string& url) : CWebSvrOp(url) {
    m_strKind = "OpDeleteEvent";
    m_szSteps[2] = "Deleting Event";
    m_szSteps[5] = "Event Deleted";
    CConfig config;
    config.GetServiceURL(m_strSoapAction);
}

int OpDeleteEvent::PrepareData() {
    if (!UseResponseFile()) return 0;
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:DeleteEvent "
        "xmlns:m=\"urn:Halvane/API\">\n<m:add_to_activity_log></m:add_to_activity_log>\n"
        "<m:event_id>%s</m:event_id>\n</m:DeleteEvent>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_strUser, m_strPassword).c_str(), m_strEventID.c_str(), EnvelopeFoot());
    return 1;
}

int OpDeleteEvent::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:DeleteEventResponse") != S_OK) return 0;
    return FAILED(doc.LoadNodesByName("ns1:DeleteEventReturn")) ? 0 : 1;
}

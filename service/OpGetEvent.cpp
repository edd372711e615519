#include "service/OpGetEvent.h"
#include <memory>
#include "win/Strings.h"

OpGetEvent::OpGetEvent(const std::string& url) : OpPullEvent(url) {
    m_strKind = "OpGetEvent";
    m_szSteps[2] = "Requesting Event";
    m_szSteps[5] = "Event Received";
}

OpGetEvent::~OpGetEvent() = default;

int OpGetEvent::PrepareData() {
    if (!UseResponseFile()) return 0;
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:GetEvent xmlns:m=\"urn:Halvane/API\">\n<m:adjust_for_dst>false</m:adjust_for_dst>\n"
        "<m:event_id>%s</m:event_id>\n</m:GetEvent>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_strUser, m_strPassword).c_str(), m_strEventID.c_str(), EnvelopeFoot());
    return 1;
}

int OpGetEvent::ParseResponse() {
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:GetEventResponse") != S_OK) return 0;
    if (doc.LoadNodesByName("ns1:GetEventReturn") != S_OK) return 0;
    long count = 0;
    if (doc.GetNodeCount(count) != S_OK) return 0;
    if (count != 1) return 1;  // anything but one: no record
    if (doc.GotoNodeAt(0) != S_OK) return 1;
    auto record = std::make_unique<CSyncItem>();
    ReadEventRecord(doc, *record);
    m_pRecord = std::move(record);
    return 1;
}

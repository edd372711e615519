#include "service/OpGetMyEvents.h"
#include "common/Config.h"
#include "service/SAXHandlers.h"
#include "service/TimeLogic.h"
#include <memory>
#include "win/Strings.h"

namespace {

// Local "now" moved by whole days, written in the Z form without any zone shift: the service
// has always received the window this way.
std::string LocalNowPlusDays(long days) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FILETIME ft;
    ::SystemTimeToFileTime(&now, &ft);
    HvTime t = TimeFromFileTime(ft) + static_cast<HvTime>(days) * 86400;
    ft = FileTimeFromTime(t);
    return FormatWireTimeZ(&ft);
}

}  // namespace

OpGetMyEvents::OpGetMyEvents(const std::string& url) : OpPullEvent(url) {
    m_strKind = "OpGetMyEvents";
    m_szSteps[2] = "Requesting My Events ... Please Wait";
    m_szSteps[5] = "My Events Received";
    CConfig config;
    m_fStreaming = config.GetSAXParsing() == 1 ? 1 : 0;
    m_fParseAside = m_fStreaming;
}

OpGetMyEvents::~OpGetMyEvents() {
    StopParse();  // the parse fills m_records
}

int OpGetMyEvents::PrepareData() {
    if (!UseResponseFile()) return 0;
    if (!m_strStartDate.empty()) {
        if (m_strStartDate.back() != 'Z') m_strStartDate += 'Z';
        m_nOption = 2;
    } else {
        m_nOption = 3;
        CConfig config;
        const long staleAfter = static_cast<long>(config.GetStaleAfter(CConfig::TYPE_EVENT));
        m_strStartDate = LocalNowPlusDays(-staleAfter);
        m_strEndDate = LocalNowPlusDays(3650);
    }
    m_strRequest = hv::Format(
        "%s<SOAP-ENV:Body>\n<m:GetMyEvents xmlns:m=\"urn:Halvane/API\">\n<m:adjust_for_dst>false</m:adjust_for_dst>\n"
        "<m:option>%ld</m:option>\n<m:start_date>%s</m:start_date>\n<m:end_date>%s</m:end_date>\n"
        "</m:GetMyEvents>\n</SOAP-ENV:Body>\n%s",
        EnvelopeHead(m_strUser, m_strPassword).c_str(), m_nOption, m_strStartDate.c_str(), m_strEndDate.c_str(),
        EnvelopeFoot());
    return 1;
}

int OpGetMyEvents::ParseResponse() {
    if (m_fStreaming) {
        // A fault or a broken answer fails the download: taken for an empty answer, it would
        // let the run go on, write its last-sync marks and skip these changes next time.
        m_hResult = StreamingParse(m_strResponsePath, new CSAXEvents(), m_records, &m_strFaultCode, &m_strFaultString,
                                   StopFlag());
        return SUCCEEDED(m_hResult) ? 1 : 0;
    }
    CXMLDoc& doc = *m_pResponseDoc;
    if (doc.GotoNode("ns1:GetMyEventsResponse") != S_OK)
        return FailMalformed();  // an envelope without the answer is no empty download
    if (doc.LoadNodesByName("ns1:GetMyEventsReturn") != S_OK) return 1;
    long count = 0;
    if (doc.GetNodeCount(count) != S_OK) return 0;
    for (long i = 0; i < count; ++i) {
        if (doc.GotoNodeAt(i) != S_OK) continue;
        auto record = std::make_unique<CSyncItem>();
        ReadEventRecord(doc, *record);
        m_records.push_back(std::move(record));
    }
    return 1;
}

#include "service/OpPullEvent.h"

OpPullEvent::OpPullEvent(const std::string& url) : CPullOp(url) {}

void OpPullEvent::ReadEventRecord(CXMLDoc& doc, CSyncItem& record) {
    doc.GetSingleNodeValue("ns1:event_id", record.m_target.m_strID);
    ReadSharedFields(doc, record);
    doc.GetSingleNodeValue("ns1:location", record.location);
    doc.GetSingleNodeValue("ns1:organizer", record.organizer);
    doc.GetSingleNodeValue("ns1:start_time", record.start_time);
    doc.GetSingleNodeValue("ns1:end_time", record.end_time);
    // Events keep last_modified as received in the document walk.
    doc.GetSingleNodeValue("ns1:last_modified", record.last_modified);
    record.m_strType = "Event";
}

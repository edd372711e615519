#pragma once
// Base of the operations that read events from the service, with the document reader of one
// event record.
#include <string>
#include "service/SyncItem.h"
#include "service/PullOp.h"

class OpPullEvent : public CPullOp {
public:
    explicit OpPullEvent(const std::string& url);

    // Reads the event at the document's current node (a return element) into `record`.
    static void ReadEventRecord(CXMLDoc& doc, CSyncItem& record);
};

#pragma once
// Base of the operations that read tasks from the service (the bulk download and the single
// fetch), with the document reader of one task record.
#include <string>
#include "service/SyncItem.h"
#include "service/PullOp.h"

class OpPullTask : public CPullOp {
public:
    explicit OpPullTask(const std::string& url);

    // Reads the task at the document's current node (a return element) into `record`.
    static void ReadTaskRecord(CXMLDoc& doc, CSyncItem& record);
};

#pragma once
// What the task and the event reads share: the credentials, the service's address and the
// fields every record carries.
#include <string>
#include "service/SyncItem.h"
#include "service/WebSvrOp.h"

class CPullOp : public CWebSvrOp {
public:
    std::string m_strUser;
    std::string m_strPassword;

protected:
    explicit CPullOp(const std::string& url);
    // Reads, at the document's current node (a return element), the fields tasks and events
    // share: title, description, assignees, workspace, internal use and the deleted flag.
    static void ReadSharedFields(CXMLDoc& doc, CSyncItem& record);
};

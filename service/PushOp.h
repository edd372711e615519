#pragma once
// What the task and the event push share: the fields every push sends, the request body
// written to a temporary file (sent from there, since a description can be long), and the
// reading of the record the service answers with.
#include <functional>
#include <string>
#include <vector>
#include "service/SyncItem.h"
#include "service/WebSvrOp.h"

// The part of a workspace member record that a push sends: filled by the caller from its
// member records.
struct CAssignee {
    std::string user_id;
    std::string full_name;
    bool m_fSelected = true;
};

class CPushOp : public CWebSvrOp {
public:
    std::vector<CAssignee> m_assignees;
    std::string m_strUser;
    std::string m_strPassword;
    CTarget m_target;  // m_strID the record's id (empty: create), m_strSpaceID its workspace
    std::string m_strTitle;
    std::string m_strDescription;
    long m_fAddToActivityLog = 1;
    long m_fSendEmail = 0;
    CSyncItem m_answer;

protected:
    CPushOp(const std::string& url, const char* kind, const char* sending, const char* sent);

    bool Creating() const noexcept { return m_target.m_strID.empty(); }
    // "CreateTask" or "UpdateTask" for the noun "Task".
    std::string Method(const char* noun) const { return (Creating() ? "Create" : "Update") + std::string(noun); }
    static const char* TrueFalse(long flag) noexcept { return flag ? "true" : "false"; }

    // Builds the request body: `leading` (envelope head, the method's element and its first
    // fields), what `beforeDescription` writes, the description, what `afterDescription`
    // writes, the assignee ids and the closing elements of `method`. The writers get no file
    // (null): WriteElement and WriteText append to the request. 1 with the request set, 0 on a
    // failed write.
    using FieldWriter = std::function<bool(HANDLE file)>;
    int WriteRequest(const std::string& leading, const FieldWriter& beforeDescription,
                     const FieldWriter& afterDescription, const std::string& assigneeIds, const std::string& method);
    // Raw text to the file, or with none to the request; false on a failed write.
    bool WriteText(HANDLE file, const std::string& text);

    // Reads the record under "ns1:<method>Response/ns1:<method>Return" into m_answer with
    // `read`, and takes its id and normalised last_modified as the returned ones. 0 when the
    // answer has no such element.
    int ReadAnswer(const std::string& method, void (*read)(CXMLDoc&, CSyncItem&));
};

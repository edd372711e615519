#pragma once
// Creates (empty task id) or updates one task on the service. The request body is written to a
// temporary file and sent from there.
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

class OpPushTask : public CWebSvrOp {
public:
    explicit OpPushTask(const std::string& url);

    int PrepareData() override;
    int ParseResponse() override;

    std::vector<CAssignee> m_assignees;
    std::string m_strUser;
    std::string m_strPassword;
    CTarget m_target;  // m_strID task id, m_strCatID task list id, m_strSpaceID workspace id
    long m_nPriority = 0;
    long m_fSendEmail = 0;
    std::string m_strTitle;
    std::string m_strDescription;
    std::string m_strStartDate;
    std::string m_strDueDate;
    long m_fAddToActivityLog = 1;
    long m_fCompleted = 0;
    CSyncItem m_answer;
};

// Shared by the two pushes: the body file and the reading of the answer.
namespace hv::push {
// A fresh temporary file (prefix "HVt") opened for the request body; its path, or an empty
// string when it could not be made.
std::string NewBodyFile(hv::unique_hfile& file);
// Writes raw text to the body file; false on a failed write.
bool WriteText(HANDLE file, const std::string& text);
// Copies the returned id and normalised last_modified of `answer` into the operation.
void TakeAnswer(CWebSvrOp& op, CSyncItem& answer);
}  // namespace hv::push

#pragma once
// Creates (empty event id) or updates one event on the service, from a body file.
#include <string>
#include <vector>
#include "service/OpPushTask.h"
#include "service/TimeLogic.h"

class OpPushEvent : public CWebSvrOp {
public:
    explicit OpPushEvent(const std::string& url);

    int PrepareData() override;
    int ParseResponse() override;

    std::vector<CAssignee> m_assignees;  // only the selected ones are sent
    std::string m_strUser;
    std::string m_strPassword;
    CTarget m_target;  // m_strID event id, m_strSpaceID workspace id
    std::string m_strTitle;
    std::string m_strLocation;
    std::string m_strOrganizer;
    std::string m_strInternalUse;
    COleDate m_start;
    COleDate m_end;
    std::string m_strDescription;
    long m_fAddToActivityLog = 1;
    long m_fSendEmail = 0;
    CSyncItem m_answer;
    long m_fLaterOccurrence = 0;
};

#pragma once
// Creates (empty task id) or updates one task on the service. The request body is written to a
// temporary file and sent from there.
#include <string>
#include "service/PushOp.h"

class OpPushTask : public CPushOp {
public:
    explicit OpPushTask(const std::string& url);

    int PrepareData() override;
    int ParseResponse() override;

    // m_target: m_strID task id, m_strCatID task list id, m_strSpaceID workspace id
    long m_nPriority = 0;
    std::string m_strStartDate;
    std::string m_strDueDate;
    long m_fCompleted = 0;
};

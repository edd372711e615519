#pragma once
// Deletes one task by id.
#include <string>
#include "service/WebSvrOp.h"

class OpDeleteTask : public CWebSvrOp {
public:
    explicit OpDeleteTask(const std::string& url);

    int PrepareData() override;
    int ParseResponse() override;

    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strTaskID;
};

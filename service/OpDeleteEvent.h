#pragma once
// Deletes one event by id.
#include <string>
#include "service/WebSvrOp.h"

class OpDeleteEvent : public CWebSvrOp {
public:
    explicit OpDeleteEvent(const std::string& url);

    int PrepareData() override;
    int ParseResponse() override;

    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strEventID;
};

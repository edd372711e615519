#pragma once
// Creates (empty event id) or updates one event on the service, from a body file.
#include <string>
#include "service/PushOp.h"
#include "service/TimeLogic.h"

class OpPushEvent : public CPushOp {
public:
    explicit OpPushEvent(const std::string& url);

    int PrepareData() override;
    int ParseResponse() override;

    // m_target: m_strID event id, m_strSpaceID workspace id; only the selected assignees are sent
    std::string m_strLocation;
    std::string m_strOrganizer;
    std::string m_strInternalUse;
    COleDate m_start;
    COleDate m_end;
    long m_fLaterOccurrence = 0;
};

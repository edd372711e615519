#pragma once
// Fetches one event by id.
#include <string>
#include "service/OpPullEvent.h"

class OpGetEvent : public OpPullEvent {
public:
    explicit OpGetEvent(const std::string& url);
    ~OpGetEvent() override;

    int PrepareData() override;
    int ParseResponse() override;

    std::string m_strEventID;
    CSyncItem* m_pRecord = nullptr;  // owned; a caller that keeps it clears the field
};

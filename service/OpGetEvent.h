#pragma once
// Fetches one event by id.
#include <memory>
#include <string>
#include "service/OpPullEvent.h"

class OpGetEvent : public OpPullEvent {
public:
    explicit OpGetEvent(const std::string& url);
    ~OpGetEvent() override;

    int PrepareData() override;
    int ParseResponse() override;

    std::string m_strEventID;
    std::unique_ptr<CSyncItem> m_pRecord;  // the record read, if the answer held exactly one
};

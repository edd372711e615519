#pragma once
// Downloads the user's events: those changed since the last synchronisation, or, the first
// time, those of a window from "EventStaleAfter" days back to ten years ahead.
#include <string>
#include "service/OpPullEvent.h"

class OpGetMyEvents : public OpPullEvent {
public:
    explicit OpGetMyEvents(const std::string& url);
    ~OpGetMyEvents() override;

    int PrepareData() override;
    int ParseResponse() override;

    CSyncItemList m_records;  // the records read; a caller takes them by moving them out
    long m_nOption = 1;       // always replaced by PrepareData
    std::string m_strStartDate;
    std::string m_strEndDate;
};

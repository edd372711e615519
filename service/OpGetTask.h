#pragma once
// Fetches one task by id.
#include <string>
#include "service/OpPullTask.h"

class OpGetTask : public OpPullTask {
public:
    explicit OpGetTask(const std::string& url);
    ~OpGetTask() override;

    int PrepareData() override;
    int ParseResponse() override;

    std::string m_strTaskID;
    CSyncItem* m_pRecord = nullptr;  // owned; a caller that keeps it clears the field
};

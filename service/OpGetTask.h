#pragma once
// Fetches one task by id.
#include <memory>
#include <string>
#include "service/OpPullTask.h"

class OpGetTask : public OpPullTask {
public:
    explicit OpGetTask(const std::string& url);
    ~OpGetTask() override;

    int PrepareData() override;
    int ParseResponse() override;

    std::string m_strTaskID;
    std::unique_ptr<CSyncItem> m_pRecord;  // the record read, if the answer held exactly one
};

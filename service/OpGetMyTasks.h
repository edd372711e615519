#pragma once
// Downloads every task of the user changed since the last synchronisation. The answer goes to
// a temporary file and is read by the streaming parse ("SAXParsing" 1, the default) or by the
// document walk.
#include <string>
#include "service/OpPullTask.h"

class OpGetMyTasks : public OpPullTask {
public:
    explicit OpGetMyTasks(const std::string& url);
    ~OpGetMyTasks() override;

    int PrepareData() override;
    int ParseResponse() override;

    CSyncItemList m_records;  // the records read; a caller takes them by moving them out
    long m_nOption = 3;
    std::string m_strLastModified;
};

#pragma once
// The options page's credential test: one CheckPluginVersion exchange, in one call, with the
// user name and password as typed. The library keeps one connection to the service for the
// process, made on first use; nothing is stored.
#include <windows.h>
#include <oaidl.h>
#include "service/Credentials.h"

class CCredentialTest {
public:
    enum Outcome {
        OUTCOME_VALID,              // the service answered the check: the pair is accepted
        OUTCOME_INVALID,            // the service answered with a fault: the pair is rejected
        OUTCOME_CONNECTION_FAILED,  // no connection to the service
        OUTCOME_FAILED,             // an answer that proves nothing (bad status, not the check's answer)
    };

    // Runs the check against the configured service. `application` (may be null) feeds the
    // environment report. Returns E_OUTOFMEMORY when the connection object cannot be made
    // (outcome untouched), else S_OK with the outcome set.
    static HRESULT Run(const CCredentials& credentials, IDispatch* application, Outcome& outcome);

    // The string resource that tells the user the outcome.
    static UINT OutcomeText(Outcome outcome) noexcept;

    // Closes the process's connection (the last page is gone).
    static void ReleaseConnection() noexcept;
};

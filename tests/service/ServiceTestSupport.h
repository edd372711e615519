#pragma once
// Shared pieces of the service-client tests: a clean settings key pointed at a loopback
// responder, and the process-wide protocol object brought up and torn down around each test.
#include <windows.h>
#include <string>
#include "common/Config.h"
#include "service/Protocol.h"
#include "TestAddress.h"

inline void ResetProductKey() {
    CConfig config;
    config.DeleteAllSettings();
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Halvane\\Halvane for Outlook\\Advanced");
}

// Points the settings at http://<address>/soap/v2.2beta/ and connects the protocol object.
inline std::string ConnectTo(const char* address) {
    ResetProductKey();
    CConfig config;
    config.SetKey("Host", address);
    config.SetKey("SSL", static_cast<DWORD>(0));
    SetTheProtocol(new CProtocol(0));
    CWebService::FireUpProtocol(0);
    return TheAPI() ? TheAPI()->m_strServiceURL : std::string();
}

inline void Disconnect() {
    SetTheProtocol(nullptr);
}

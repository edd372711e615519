#pragma once
// The process-wide HTTP session and connection to the service host.
#include <string>
#include <memory>
#include "service/WinInet.h"

// The WinINet Internet session, with the system's pre-configured proxy.
class CWebSvrSession {
public:
    explicit CWebSvrSession(const char* agent);
    bool IsOpen() const noexcept { return static_cast<bool>(m_hSession); }
    HINTERNET Handle() const noexcept { return m_hSession.get(); }
    void EnableStatusCallback();
    // Where status notifications go; nobody sets one, so they go nowhere.
    HWND m_hStatusWnd = nullptr;

private:
    static void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
    hv::unique_hinternet m_hSession;
};

class CWebSvrAPI {
public:
    explicit CWebSvrAPI(const char* agent = "HV for Outlook/1.0");
    ~CWebSvrAPI();
    CWebSvrAPI(const CWebSvrAPI&) = delete;
    CWebSvrAPI& operator=(const CWebSvrAPI&) = delete;

    bool Open();
    void Close();
    bool IsConnected() const noexcept { return m_fConnected != 0; }

    std::string m_strServiceURL;
    std::unique_ptr<CWebSvrSession> m_pSession;
    DWORD m_fConnected = 0;
    std::string m_strAgent;

private:
    bool MakeConnection();
    hv::unique_hinternet m_hConnection;
};

#pragma once
// A small HTTP/1.1 responder on a loopback address for the tests of the SOAP frame: it records
// every raw request and answers with the replies queued for it, keeping connections alive.
#include <winsock2.h>
#include <windows.h>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CTestResponder {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "text/xml; charset=utf-8";
        DWORD delayMs = 0;
        size_t holdAfter = 0;  // > 0: send the head and this many body bytes, then wait for ReleaseHeld
    };

    explicit CTestResponder(const char* address, unsigned short port = 80);
    ~CTestResponder();

    bool Listening() const noexcept { return m_listen != INVALID_SOCKET; }
    void Enqueue(int status, const std::string& body, DWORD delayMs = 0);
    // An answer that stops after `bodyBytes` bytes of its body, as a slow server's does, until
    // ReleaseHeld sends the rest down the same connection (if the client still has it open).
    void EnqueueHeld(int status, const std::string& body, size_t bodyBytes);
    void ReleaseHeld();
    std::vector<std::string> Requests();                        // head and body of each request, as received
    int Connections() const noexcept { return m_connections; }  // TCP connections accepted so far
    // Waits until every request received so far has had its answer sent (a delayed answer
    // outlives the client that gave up on it); false when that takes longer than timeoutMs.
    bool WaitUntilAnswered(DWORD timeoutMs);
    static std::string Body(const std::string& rawRequest);
    static std::string Head(const std::string& rawRequest);

private:
    void Serve();
    void ServeConnection(SOCKET client);
    Reply NextReply();

    SOCKET m_listen = INVALID_SOCKET;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    int m_answering = 0;      // requests received whose answer is not sent yet; under m_lock
    bool m_released = false;  // under m_lock
    std::condition_variable m_answered;
    std::mutex m_lock;
    std::deque<Reply> m_replies;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

// A SOAP answer with the given body content.
std::string SoapAnswer(const std::string& bodyContent);
std::string SoapFault(const std::string& code, const std::string& text);

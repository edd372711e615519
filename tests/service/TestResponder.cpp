#include "TestResponder.h"
#include <ws2tcpip.h>
#include <cstdio>
#include <cstring>

namespace {

struct WinsockInit {
    WinsockInit() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

size_t ContentLength(const std::string& head) {
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    size_t pos = lower.find("\ncontent-length:");
    if (pos == std::string::npos) return 0;
    return static_cast<size_t>(strtoul(head.c_str() + pos + 16, nullptr, 10));
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 407:
            return "Proxy Authentication Required";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

CTestResponder::CTestResponder(const char* address, unsigned short port) {
    static WinsockInit init;
    m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, address, &addr.sin_addr);
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(m_listen, 8) != 0) {
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
        return;
    }
    m_thread = std::thread([this] { Serve(); });
}

CTestResponder::~CTestResponder() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_answered.notify_all();  // a held answer stops waiting
    if (m_listen != INVALID_SOCKET) closesocket(m_listen);
    if (m_thread.joinable()) m_thread.join();
}

void CTestResponder::Enqueue(int status, const std::string& body, DWORD delayMs) {
    std::lock_guard<std::mutex> guard(m_lock);
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.delayMs = delayMs;
    m_replies.push_back(reply);
}

void CTestResponder::EnqueueHeld(int status, const std::string& body, size_t bodyBytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.holdAfter = bodyBytes;
    m_released = false;
    m_replies.push_back(reply);
}

void CTestResponder::ReleaseHeld() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_released = true;
    }
    m_answered.notify_all();
}

std::vector<std::string> CTestResponder::Requests() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

bool CTestResponder::WaitUntilAnswered(DWORD timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_answered.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return m_answering == 0; });
}

std::string CTestResponder::Head(const std::string& raw) {
    size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? raw : raw.substr(0, end + 4);
}

std::string CTestResponder::Body(const std::string& raw) {
    size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : raw.substr(end + 4);
}

CTestResponder::Reply CTestResponder::NextReply() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_replies.empty()) return Reply{200, SoapAnswer(""), "text/xml; charset=utf-8", 0};
    Reply r = m_replies.front();
    m_replies.pop_front();
    return r;
}

void CTestResponder::Serve() {
    std::vector<std::thread> workers;
    while (!m_stop) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_listen, &set);
        timeval tv = {0, 50000};
        if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
        SOCKET client = accept(m_listen, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        ++m_connections;
        workers.emplace_back([this, client] { ServeConnection(client); });
    }
    for (auto& w : workers) w.join();
}

void CTestResponder::ServeConnection(SOCKET client) {
    std::string pending;
    char buf[8192];
    while (!m_stop) {
        // Read one request: the head, then Content-Length bytes of body.
        size_t headEnd;
        while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(client, &set);
            timeval tv = {0, 50000};
            int ready = select(0, &set, nullptr, nullptr, &tv);
            if (m_stop) break;
            if (ready <= 0) continue;
            int n = recv(client, buf, sizeof(buf), 0);
            if (n <= 0) {
                closesocket(client);
                return;
            }
            pending.append(buf, static_cast<size_t>(n));
        }
        if (m_stop) break;
        const size_t total = headEnd + 4 + ContentLength(pending.substr(0, headEnd + 4));
        while (pending.size() < total) {
            int n = recv(client, buf, sizeof(buf), 0);
            if (n <= 0) {
                closesocket(client);
                return;
            }
            pending.append(buf, static_cast<size_t>(n));
        }
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_requests.push_back(pending.substr(0, total));
            ++m_answering;
        }
        pending.erase(0, total);
        Reply reply = NextReply();
        if (reply.delayMs) ::Sleep(reply.delayMs);
        char head[512];
        snprintf(head, sizeof(head),
                 "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %u\r\nConnection: keep-alive\r\n\r\n",
                 reply.status, Reason(reply.status), reply.contentType.c_str(),
                 static_cast<unsigned>(reply.body.size()));
        std::string out = std::string(head) + reply.body;
        auto sendUpTo = [&](size_t& sent, size_t end) {
            while (sent < end) {
                int n = send(client, out.data() + sent, static_cast<int>(end - sent), 0);
                if (n <= 0) return false;
                sent += static_cast<size_t>(n);
            }
            return true;
        };
        size_t sent = 0;
        bool open = true;
        if (reply.holdAfter > 0) {
            open = sendUpTo(sent, strlen(head) + reply.holdAfter);
            std::unique_lock<std::mutex> guard(m_lock);
            m_answered.wait(guard, [this] { return m_released || m_stop; });
        }
        if (open) sendUpTo(sent, out.size());
        {
            std::lock_guard<std::mutex> guard(m_lock);
            --m_answering;
        }
        m_answered.notify_all();
    }
    closesocket(client);
}

std::string SoapAnswer(const std::string& bodyContent) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:ns1=\"urn:Halvane/API\"><SOAP-ENV:Body>" +
           bodyContent + "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n";
}

std::string SoapFault(const std::string& code, const std::string& text) {
    return SoapAnswer("<SOAP-ENV:Fault><faultcode>" + code + "</faultcode><faultstring>" + text +
                      "</faultstring></SOAP-ENV:Fault>");
}

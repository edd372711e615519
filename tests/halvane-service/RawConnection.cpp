#include "RawConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace hvtest {

using Clock = std::chrono::steady_clock;

RawConnection::RawConnection(int port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

RawConnection::~RawConnection() {
    if (m_fd >= 0) ::close(m_fd);
}

bool RawConnection::Send(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

bool RawConnection::Readable(std::chrono::milliseconds limit) {
    if (m_closed) return true;
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(limit.count())) > 0;
}

bool RawConnection::ReadSome(std::chrono::milliseconds limit) {
    if (m_closed || m_fd < 0) return false;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max<long long>(0, limit.count()))) <= 0) return false;
    char buf[65536];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n <= 0) {
        m_closed = true;  // end of stream or reset
        return false;
    }
    m_in.append(buf, static_cast<size_t>(n));
    return true;
}

void RawConnection::ReadAnswer(std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
        const size_t head = m_in.find("\r\n\r\n");
        if (head != std::string::npos) {
            const long len = ContentLength();
            if (len < 0 || m_in.size() >= head + 4 + static_cast<size_t>(len)) return;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0 || m_closed) return;
        if (!ReadSome(left) && m_closed) return;
    }
}

bool RawConnection::ReadUntil(const std::string& text, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (m_in.find(text) == std::string::npos && !m_closed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) break;
        ReadSome(left);
    }
    return m_in.find(text) != std::string::npos;
}

bool RawConnection::ReadUntilClosed(std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!m_closed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) break;
        ReadSome(left);
    }
    return m_closed;
}

int RawConnection::Status() const {
    if (m_in.rfind("HTTP/1.", 0) != 0 || m_in.size() < 12) return 0;
    return std::atoi(m_in.substr(9, 3).c_str());
}

long RawConnection::ContentLength() const {
    const size_t head = m_in.find("\r\n\r\n");
    if (head == std::string::npos) return -1;
    size_t pos = 0;
    while ((pos = m_in.find("\r\n", pos)) != std::string::npos && pos < head) {
        pos += 2;
        if (strncasecmp(m_in.c_str() + pos, "Content-Length:", 15) == 0) return std::atol(m_in.c_str() + pos + 15);
    }
    return -1;
}

std::string RawConnection::Body() const {
    const size_t head = m_in.find("\r\n\r\n");
    if (head == std::string::npos) return "";
    const long len = ContentLength();
    std::string body = m_in.substr(head + 4);
    if (len >= 0 && body.size() > static_cast<size_t>(len)) body.resize(static_cast<size_t>(len));
    return body;
}

}  // namespace hvtest

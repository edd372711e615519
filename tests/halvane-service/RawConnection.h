// A plain TCP connection to the service for requests no HTTP client library
// would send: malformed heads, slow drips, half-read answers.
#pragma once

#include <chrono>
#include <string>

namespace hvtest {

class RawConnection {
public:
    explicit RawConnection(int port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connected() const { return m_fd >= 0; }
    // False when the service has closed or reset the connection.
    bool Send(const std::string& bytes);
    // Reads until one whole answer (head and Content-Length body) is in, the
    // service closes the connection, or `limit` passes. What came is appended
    // to Received().
    void ReadAnswer(std::chrono::milliseconds limit);
    // Reads until Received() holds `text`, the service closes the connection
    // or `limit` passes; true when the text came.
    bool ReadUntil(const std::string& text, std::chrono::milliseconds limit);
    // Reads until the service closes the connection or `limit` passes; true
    // when it closed.
    bool ReadUntilClosed(std::chrono::milliseconds limit);
    // Waits up to `limit` for anything to arrive; true when something did
    // (bytes or the end of the stream).
    bool Readable(std::chrono::milliseconds limit);

    const std::string& Received() const { return m_in; }
    bool Closed() const { return m_closed; }
    // Status of the first answer in Received(), 0 when none.
    int Status() const;
    // The announced Content-Length of the first answer, -1 when none.
    long ContentLength() const;
    // The body bytes of the first answer received so far.
    std::string Body() const;
    void Clear() { m_in.clear(); }

private:
    bool ReadSome(std::chrono::milliseconds limit);

    int m_fd = -1;
    std::string m_in;
    bool m_closed = false;
};

}  // namespace hvtest

// One gathered connection as the HTTP library reads and writes it: the bytes the gate already
// took off the socket come first, then the socket itself, every wait bounded by a time-out.
#pragma once

#include <httplib.h>

#include <string>

namespace standin {

class ConnectionStream : public httplib::Stream {
public:
    // While it exists it is its thread's current stream: a handler reaches its own connection
    // through Current().
    ConnectionStream(int fd, std::string strRead, int nReadTimeoutMs, int nWriteTimeoutMs);
    ~ConnectionStream() override;
    ConnectionStream(const ConnectionStream&) = delete;
    ConnectionStream& operator=(const ConnectionStream&) = delete;

    // The stream of the request this thread serves; null outside one.
    static ConnectionStream* Current();

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    using httplib::Stream::write;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    int socket() const override { return m_fd; }

    // Fills pData with exactly nSize bytes unless the peer stops or stalls; the bytes got.
    size_t ReadFully(char* pData, size_t nSize);

private:
    int m_fd;
    std::string m_strRead;
    size_t m_nReadPos = 0;
    int m_nReadTimeoutMs;
    int m_nWriteTimeoutMs;
};

}  // namespace standin

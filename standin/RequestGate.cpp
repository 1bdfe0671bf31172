// The gate's poll loop. It finds the end of a head and reads its fields exactly as the HTTP
// library will, so that the two never disagree on how much body a request has: a disagreement
// would leave a worker waiting for bytes that never come.
#include "RequestGate.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "RequestLog.h"
#include "utils/NamedThread.h"

namespace standin {

namespace {

using Clock = std::chrono::steady_clock;

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool IsDecimal(const std::string& s) {
    if (s.empty() || s.size() > 18)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

const char* Reason(int nStatus) {
    switch (nStatus) {
        case 400:
            return "Bad Request";
        case 408:
            return "Request Timeout";
        case 413:
            return "Payload Too Large";
        case 431:
            return "Request Header Fields Too Large";
    }
    return "Error";
}

}  // namespace

struct RequestGate::Waiting {
    int fd = -1;
    Clock::time_point admitted;
    Clock::time_point deadline;
    std::string strRead;
    size_t nScanned = 0;  // start of the first line not yet looked at
    size_t nLines = 0;
    size_t nHeadEnd = 0;  // just past the blank line; 0 until it came
    size_t nNeed = 0;     // bytes to hold before a worker takes the connection
    bool bDraining = false;
    std::string strMethod = "-";
    std::string strPath = "-";
};

RequestGate::RequestGate(const GateLimits& limits, BodyLimit bodyLimit, Ready ready)
    : m_limits(limits), m_bodyLimit(std::move(bodyLimit)), m_ready(std::move(ready)) {}

RequestGate::~RequestGate() {
    Stop();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

bool RequestGate::Start(std::string& strError) {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        strError = std::string("cannot create an event descriptor: ") + strerror(errno);
        return false;
    }
    m_thread = _VelmoUpload::StartNamedThread("standin-gate", [this] { Loop(); });
    return true;
}

void RequestGate::Admit(int fd) {
    TakeOver(fd, false);
}

void RequestGate::Linger(int fd) {
    shutdown(fd, SHUT_WR);
    TakeOver(fd, true);
}

void RequestGate::TakeOver(int fd, bool bAnswered) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bStopped) {
            m_vAdmitted.emplace_back(fd, bAnswered);
            fd = -1;
        }
    }
    if (fd >= 0) {
        close(fd);
        return;
    }
    uint64_t nOne = 1;
    ssize_t n = write(m_wakeFd, &nOne, sizeof(nOne));
    (void)n;
}

void RequestGate::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopped = true;
    }
    if (m_wakeFd >= 0) {
        uint64_t nOne = 1;
        ssize_t n = write(m_wakeFd, &nOne, sizeof(nOne));
        (void)n;
    }
    if (m_thread.joinable())
        m_thread.join();
}

void RequestGate::Loop() {
    std::vector<Waiting> vWaiting;
    std::vector<pollfd> vPoll;
    std::vector<char> buffer(64 << 10);
    for (;;) {
        Clock::time_point now = Clock::now();
        int nTimeoutMs = -1;
        vPoll.assign(1, pollfd{m_wakeFd, POLLIN, 0});
        for (const Waiting& w : vWaiting) {
            vPoll.push_back(pollfd{w.fd, POLLIN, 0});
            long long nLeft =
                std::chrono::duration_cast<std::chrono::milliseconds>(w.deadline - now).count() + 1;
            nLeft = std::max(0LL, nLeft);
            if (nTimeoutMs < 0 || nLeft < nTimeoutMs)
                nTimeoutMs = static_cast<int>(nLeft);
        }
        if (poll(vPoll.data(), vPoll.size(), nTimeoutMs) < 0 && errno != EINTR)
            break;
        if (vPoll[0].revents) {
            uint64_t nCount = 0;
            ssize_t n = read(m_wakeFd, &nCount, sizeof(nCount));
            (void)n;
        }
        for (size_t i = 0; i < vWaiting.size(); ++i)
            if (vPoll[i + 1].revents)
                Receive(vWaiting[i], buffer);
        now = Clock::now();
        for (Waiting& w : vWaiting)
            if (w.fd >= 0 && now >= w.deadline)
                Expire(w);
        vWaiting.erase(std::remove_if(vWaiting.begin(), vWaiting.end(),
                                      [](const Waiting& w) { return w.fd < 0; }),
                       vWaiting.end());

        std::vector<std::pair<int, bool>> vAdmitted;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bStopped)
                break;
            vAdmitted.swap(m_vAdmitted);
        }
        for (const auto& admitted : vAdmitted) {
            if (vWaiting.size() >= m_limits.nMaxWaiting) {
                auto oldest = std::min_element(
                    vWaiting.begin(), vWaiting.end(),
                    [](const Waiting& a, const Waiting& b) { return a.admitted < b.admitted; });
                close(oldest->fd);
                vWaiting.erase(oldest);
            }
            Waiting w;
            w.fd = admitted.first;
            w.admitted = now;
            w.bDraining = admitted.second;
            w.deadline = now + std::chrono::milliseconds(w.bDraining ? m_limits.nDrainMs
                                                                     : m_limits.nHeadTimeoutMs);
            vWaiting.push_back(std::move(w));
        }
    }
    for (const Waiting& w : vWaiting)
        close(w.fd);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& admitted : m_vAdmitted)
        close(admitted.first);
    m_vAdmitted.clear();
}

void RequestGate::Receive(Waiting& w, std::vector<char>& buffer) {
    ssize_t n = recv(w.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (w.bDraining) {
        if (n <= 0) {
            close(w.fd);
            w.fd = -1;
        }
        return;  // the rest of an answered request goes nowhere
    }
    if (n <= 0) {
        // a peer that stops partway through a body learns so from the worker at once
        if (w.nHeadEnd)
            m_ready(w.fd, std::move(w.strRead));
        else
            close(w.fd);
        w.fd = -1;
        return;
    }
    w.strRead.append(buffer.data(), static_cast<size_t>(n));
    // The head ends at the first bare CRLF line after the request line; lines end at LF.
    while (!w.nHeadEnd) {
        size_t nEol = w.strRead.find('\n', w.nScanned);
        if (nEol == std::string::npos) {
            if (w.strRead.size() > m_limits.nMaxHead)
                Refuse(w, 431, "head over " + std::to_string(m_limits.nMaxHead) + " bytes");
            return;
        }
        bool bBlank = w.nLines > 0 && nEol == w.nScanned + 1 && w.strRead[w.nScanned] == '\r';
        w.nScanned = nEol + 1;
        if (w.nLines++ == 0)
            ReadRequestLine(w);
        if (bBlank) {
            w.nHeadEnd = w.nScanned;
            if (!Judge(w))
                return;
        }
    }
    if (w.strRead.size() >= w.nNeed) {
        m_ready(w.fd, std::move(w.strRead));
        w.fd = -1;
    }
}

void RequestGate::ReadRequestLine(Waiting& w) {
    std::string strLine = w.strRead.substr(0, w.nScanned - 1);
    if (!strLine.empty() && strLine.back() == '\r')
        strLine.pop_back();
    size_t nSpace = strLine.find(' ');
    if (nSpace == std::string::npos)
        return;
    w.strMethod = strLine.substr(0, nSpace);
    size_t nTargetEnd = strLine.find(' ', nSpace + 1);
    std::string strTarget = strLine.substr(
        nSpace + 1, nTargetEnd == std::string::npos ? std::string::npos : nTargetEnd - nSpace - 1);
    w.strPath = strTarget.substr(0, strTarget.find('?'));
}

// Reads the fields that frame the body as the library reads them: a field line counts only when
// it ends in CRLF, its name is everything before the first colon, its value starts after the
// blanks that follow, and an empty value is no field.
bool RequestGate::Judge(Waiting& w) {
    const std::string& s = w.strRead;
    if (w.nHeadEnd > m_limits.nMaxHead) {
        Refuse(w, 431, "head over " + std::to_string(m_limits.nMaxHead) + " bytes");
        return false;
    }

    std::string strLength, strCoding;
    int nLengths = 0, nCodings = 0;
    bool bExpectContinue = false, bFirstExpect = true;
    for (size_t nStart = s.find('\n') + 1; nStart + 2 < w.nHeadEnd;) {
        size_t nEol = s.find('\n', nStart);
        std::string strField = s.substr(nStart, nEol - nStart + 1);
        nStart = nEol + 1;
        if (strField.size() < 2 || strField[strField.size() - 2] != '\r')
            continue;
        strField.resize(strField.size() - 2);
        while (!strField.empty() && (strField.back() == ' ' || strField.back() == '\t'))
            strField.pop_back();
        size_t nColon = strField.find(':');
        if (nColon == std::string::npos)
            continue;
        std::string strName = Lower(strField.substr(0, nColon));
        size_t nValue = strField.find_first_not_of(" \t", nColon + 1);
        if (nValue == std::string::npos)
            continue;
        std::string strValue = strField.substr(nValue);
        if (strName == "content-length") {
            if (nLengths++ && strValue != strLength) {
                Refuse(w, 400, "two different Content-Length fields");
                return false;
            }
            strLength = strValue;
        } else if (strName == "transfer-encoding") {
            ++nCodings;
            strCoding = Lower(strValue);
        } else if (strName == "expect" && bFirstExpect) {
            bFirstExpect = false;
            bExpectContinue = strValue == "100-continue";
        }
    }

    if (nCodings) {
        if (nCodings > 1 || nLengths || strCoding != "chunked") {
            Refuse(w, 400, "a body framed other than by one length or chunked coding alone");
            return false;
        }
        w.nNeed = w.nHeadEnd;  // a chunked body is held to its limit as it is read
        return true;
    }
    if (!nLengths) {
        const std::string strNoBody = "Content-Length: 0\r\n";
        w.strRead.insert(w.nHeadEnd - 2, strNoBody);
        w.nHeadEnd += strNoBody.size();
        w.nNeed = w.nHeadEnd;
        return true;
    }
    if (!IsDecimal(strLength)) {
        Refuse(w, 400, "Content-Length is not a number");
        return false;
    }
    unsigned long long nLength = std::stoull(strLength);
    size_t nLimit = m_bodyLimit(w.strMethod, w.strPath);
    if (nLength > nLimit) {
        Refuse(w, 413, "body of " + strLength + " bytes, over " + std::to_string(nLimit));
        return false;
    }
    // a client that waits for "100 Continue" sends its body only once a worker has the request
    bool bGather = nLength <= m_limits.nGatherBody && !bExpectContinue;
    w.nNeed = w.nHeadEnd + (bGather ? static_cast<size_t>(nLength) : 0);
    return true;
}

void RequestGate::Refuse(Waiting& w, int nStatus, const std::string& strWhy) {
    std::string strBody = "HTTP " + std::to_string(nStatus) + "\n";
    std::string strReply =
        "HTTP/1.1 " + std::to_string(nStatus) + " " + Reason(nStatus) +
        "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(strBody.size()) +
        "\r\nConnection: close\r\n\r\n" + strBody;
    // a few dozen bytes always fit a fresh socket's send buffer
    ssize_t n = send(w.fd, strReply.data(), strReply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    (void)n;
    shutdown(w.fd, SHUT_WR);
    RequestLog::Line(w.strMethod, w.strPath, "",
                     "refused " + std::to_string(nStatus) + ": " + strWhy);
    w.bDraining = true;
    std::string().swap(w.strRead);
    w.deadline = Clock::now() + std::chrono::milliseconds(m_limits.nDrainMs);
}

void RequestGate::Expire(Waiting& w) {
    if (w.bDraining || w.strRead.empty()) {
        // a connection that never sent a byte has nothing to be told
        close(w.fd);
        w.fd = -1;
        return;
    }
    Refuse(w, 408, "no whole request in " + std::to_string(m_limits.nHeadTimeoutMs / 1000) + " s");
}

}  // namespace standin

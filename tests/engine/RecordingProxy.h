// A gateway in front of the stand-in's upload addresses: it passes every request on, keeps a
// copy of each, and answers a chosen one itself, as a proxy that lost its upstream would.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TestHttpServer.h"

namespace enginetest {

class RecordingProxy {
public:
    RecordingProxy();
    ~RecordingProxy();

    // Where the stand-in listens; requests before this is set are answered with nothing.
    void SetUpstream(uint16_t nPort) { m_nUpstream = nPort; }
    // "http://127.0.0.1:PORT", the stand-in's --public-url.
    std::string Url() const;

    // Requests whose request line starts with strStart (e.g. "POST /2.0/bigupload"), in the
    // order they were read.
    std::vector<std::string> Requests(const std::string& strStart) const;

    // The nIndex-th request (from 0) that starts with strStart gets strReply instead of the
    // stand-in's answer; with bForward it still reaches the stand-in first.
    void AnswerInstead(const std::string& strStart, int nIndex, const std::string& strReply,
                       bool bForward);

private:
    struct Rule {
        std::string strStart;
        int nIndex;
        std::string strReply;
        bool bForward;
    };

    std::string Handle(const std::string& strRequest);
    std::string Forward(const std::string& strRequest) const;

    std::atomic<uint16_t> m_nUpstream{0};
    mutable std::mutex m_mutex;  // guards m_vRules and m_vSeen
    std::vector<Rule> m_vRules;
    std::vector<std::string> m_vSeen;  // request lines, in arrival order
    // last: destroyed first, so no handler thread outlives the members it uses
    std::unique_ptr<velmotest::TestHttpServer> m_pServer;
};

}  // namespace enginetest

// The recording gateway: each connection's request is read whole by TestHttpServer, relayed to
// the stand-in on a fresh connection, and its reply (or the scripted one) handed back.
#include <cstdlib>
#include <optional>

#include "EngineFixture.h"
#include "http/sockets/ActiveSocket.h"

namespace enginetest {

namespace {

bool StartsWith(const std::string& strText, const std::string& strStart) {
    return strText.compare(0, strStart.size(), strStart) == 0;
}

// Whether the whole body arrived: a client that stops in the middle of a piece closes its
// connection early, and passed on, the cut request would hold the stand-in waiting for the rest
// (and keep it from shutting down).
bool IsComplete(const std::string& strRequest) {
    const std::string::size_type nHeadEnd = strRequest.find("\r\n\r\n");
    if (nHeadEnd == std::string::npos)
        return false;
    const std::string strHead =
        _VelmoUpload::Utils::StringToLowerCase(strRequest.substr(0, nHeadEnd + 2));
    const std::string::size_type nLength = strHead.find("\r\ncontent-length:");
    return nLength == std::string::npos ||
           strRequest.size() - (nHeadEnd + 4) >=
               strtoull(strHead.c_str() + nLength + 17, nullptr, 10);
}

}  // namespace

RecordingProxy::RecordingProxy() {
    velmotest::TestHttpServer::Behaviour behaviour;
    behaviour.fnReply = [this](const std::string& strRequest) { return Handle(strRequest); };
    m_pServer.reset(new velmotest::TestHttpServer(behaviour));
}

std::vector<std::string> RecordingProxy::Requests(const std::string& strStart) const {
    std::vector<std::string> found;
    for (const std::string& strRequest : m_pServer->Requests())
        if (StartsWith(strRequest, strStart))
            found.push_back(strRequest);
    return found;
}

void RecordingProxy::AnswerInstead(const std::string& strStart, int nIndex,
                                   const std::string& strReply, bool bForward) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vRules.push_back(Rule{strStart, nIndex, strReply, bForward, 0});
}

std::string RecordingProxy::Handle(const std::string& strRequest) {
    std::optional<Rule> scripted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // every rule counts the requests it matches, taken or not
        for (Rule& rule : m_vRules)
            if (StartsWith(strRequest, rule.strStart) && rule.nSeen++ == rule.nIndex && !scripted)
                scripted = rule;
    }
    if (!scripted)
        return Forward(strRequest);
    if (scripted->bForward)
        Forward(strRequest);
    return scripted->strReply;
}

std::string RecordingProxy::Forward(const std::string& strRequest) const {
    uint16_t nPort = m_nUpstream;
    _VelmoUpload::CActiveSocket socket;
    std::string strReply;
    if (nPort == 0 || !IsComplete(strRequest) || !socket.Initialize() ||
        !socket.Open("127.0.0.1", nPort) ||
        socket.Send(reinterpret_cast<const uint8_t*>(strRequest.data()), strRequest.size()) <= 0)
        return strReply;
    // the stand-in closes every connection after its reply, which ends the read
    for (int32_t n; (n = socket.Receive(16384)) > 0;)
        strReply.append(reinterpret_cast<const char*>(socket.GetData()), static_cast<size_t>(n));
    return strReply;
}

}  // namespace enginetest

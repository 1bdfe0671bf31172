// A running stand-in with two accounts and a small policy, and a client logged in as alice.
#pragma once

#include <memory>

#include "ServiceClient.h"
#include "StandinFixture.h"

namespace standintest {

constexpr long long kQuota = 20000000;
constexpr long long kSizeLimit = 9000000;
constexpr long long kPiece = 1048576;

class LoggedInTest : public velmotest::StandinFixture {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user",  "alice:wonderland",     "--user",       "bob:builder",
                "--quota", std::to_string(kQuota), "--size-limit", std::to_string(kSizeLimit)};
    }
    void SetUp() override {
        StandinFixture::SetUp();
        if (!HasFatalFailure())
            Relogin();
    }
    // A fresh session, e.g. after a restart.
    void Relogin() {
        m_pClient.reset(new ServiceClient(StandinPort()));
        Reply reply = m_pClient->Login("alice", "wonderland");
        ASSERT_TRUE(reply.json.get("state", false).asBool()) << reply.strBody;
    }
    ServiceClient& Client() { return *m_pClient; }
    // Dispatches an upload that is not held yet (new, or resumed) and returns its ticket.
    Ticket Start(const FileAsk& ask) {
        Reply reply = Client().Dispatch(ask);
        EXPECT_EQ(0, reply.StatusCode()) << reply.strBody;
        EXPECT_EQ(1, reply.json["status"].asInt()) << reply.strBody;
        return ServiceClient::TicketOf(reply, ask);
    }
    Ticket Start(const Content& content, const std::string& strName = "file.bin") {
        return Start(AskFor(content, strName));
    }
    Content Make(size_t nSize, unsigned nSeed) { return MakeContent(m_strWork, nSize, nSeed); }
    Reply Space(int nTimeoutMs = 10000) {
        return Exchange(StandinPort(),
                        GetRequest("/app/user/space?source=x&user_id=" + Client().m_strUserId),
                        nTimeoutMs);
    }
    long long Used() { return Space().json["space"]["byte_size_used"].asInt64(); }
    // The stand-in's page that lists every stored file and folder.
    std::string Page() { return Exchange(StandinPort(), GetRequest("/")).strBody; }
    bool Listed(const std::string& strText) { return Page().find(strText) != std::string::npos; }

    std::unique_ptr<ServiceClient> m_pClient;
};

}  // namespace standintest

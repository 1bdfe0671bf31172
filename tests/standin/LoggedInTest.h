// A running stand-in with two accounts and a small policy, and a client logged in as alice.
#pragma once

#include <memory>

#include "ServiceClient.h"
#include "StandinFixture.h"

namespace standintest {

constexpr long long kQuota = 20000000;
constexpr long long kSizeLimit = 9000000;

class LoggedInTest : public velmotest::StandinFixture {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user",  "alice:wonderland",     "--user",       "bob:builder",
                "--quota", std::to_string(kQuota), "--size-limit", std::to_string(kSizeLimit)};
    }
    void SetUp() override {
        StandinFixture::SetUp();
        if (HasFatalFailure())
            return;
        Relogin();
    }
    // A fresh session, e.g. after a restart.
    void Relogin() {
        m_pClient.reset(new ServiceClient(StandinPort()));
        Reply reply = m_pClient->Login("alice", "wonderland");
        ASSERT_TRUE(reply.json.get("state", false).asBool()) << reply.strBody;
    }
    ServiceClient& Client() { return *m_pClient; }
    // Dispatches a new upload of the content and returns its ticket.
    Ticket Start(const Content& content, const std::string& strName = "file.bin",
                 const std::string& strPath = "") {
        FileAsk ask = AskFor(content, strName);
        ask.strPath = strPath;
        Reply reply = Client().Dispatch(ask);
        EXPECT_EQ(0, reply.StatusCode()) << reply.strBody;
        EXPECT_EQ(1, reply.json["status"].asInt()) << reply.strBody;
        return ServiceClient::TicketOf(reply, ask);
    }
    Content Make(size_t nSize, unsigned nSeed) { return MakeContent(m_strWork, nSize, nSeed); }

    std::unique_ptr<ServiceClient> m_pClient;
};

}  // namespace standintest

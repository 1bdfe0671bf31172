// Faults on demand: the fault control registers rules, and each matching request takes one,
// so the next N requests of a kind misbehave the way a test or a demonstration asks.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FormFields.h"

namespace standin {

enum class FaultAction {
    Drop,       // close the connection partway through the request body (or before replying)
    Stall,      // wait, then answer as usual
    Status,     // answer with the given statuscode and message
    Chunked,    // answer as usual, in chunked transfer coding, one chunk at a time
    KeepAlive,  // answer with Content-Length and keep the connection open
    Full,       // the account reports no free space
};

struct FaultRule {
    std::string strOn = "any";  // login, token, space, dispatch, cancel, check, piece, any
    std::string strUser;        // account name or user id; empty for every account
    int nCount = 1;
    FaultAction action = FaultAction::Stall;
    double fSeconds = 0;  // stall time; how long a kept-alive connection stays open
    int nStatusCode = 0;
    std::string strStatusMsg;
    long long nDropAfter = -1;  // body bytes read before dropping; -1: half the body
    int nChunks = 3;
    int nPauseMs = 50;
};

// Reads a rule from the fault control's parameters; false with a reason on bad input.
bool ParseFaultRule(const FormFields& fields, FaultRule& rule, std::string& strError);
std::string FaultActionName(FaultAction action);

class FaultBook {
public:
    void Add(const FaultRule& rule);
    void Clear();
    // The first rule for this kind of request and account, counted down; none when no rule
    // matches.
    std::optional<FaultRule> Take(const std::string& strKind, const std::string& strAccount,
                                  const std::string& strUserId);
    size_t Pending() const;

private:
    mutable std::mutex m_mutex;
    std::vector<FaultRule> m_vRules;
};

}  // namespace standin

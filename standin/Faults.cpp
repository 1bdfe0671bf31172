// Fault rules: parsing and matching.
#include "Faults.h"

#include <cstdlib>

namespace standin {

namespace {

bool ToInt(const std::string& strText, long long nMin, long long nMax, long long& nOut) {
    if (strText.empty() || strText.size() > 12)
        return false;
    char* pEnd = nullptr;
    long long n = std::strtoll(strText.c_str(), &pEnd, 10);
    if (!pEnd || *pEnd != '\0' || n < nMin || n > nMax)
        return false;
    nOut = n;
    return true;
}

}  // namespace

std::string FaultActionName(FaultAction action) {
    switch (action) {
        case FaultAction::Drop:
            return "drop";
        case FaultAction::Stall:
            return "stall";
        case FaultAction::Status:
            return "status";
        case FaultAction::Chunked:
            return "chunked";
        case FaultAction::KeepAlive:
            return "keepalive";
        case FaultAction::Full:
            return "full";
    }
    return "?";
}

bool ParseFaultRule(const FormFields& fields, FaultRule& rule, std::string& strError) {
    static const char* const kKinds[] = {"any",      "login",  "token", "space",
                                         "dispatch", "cancel", "check", "piece"};
    std::string strAction = fields.Get("action");
    bool bFound = false;
    for (FaultAction action : {FaultAction::Drop, FaultAction::Stall, FaultAction::Status,
                               FaultAction::Chunked, FaultAction::KeepAlive, FaultAction::Full}) {
        if (FaultActionName(action) == strAction) {
            rule.action = action;
            bFound = true;
        }
    }
    if (!bFound) {
        strError = "action must be drop, stall, status, chunked, keepalive or full";
        return false;
    }
    if (fields.Has("on")) {
        rule.strOn = fields.Get("on");
        bool bKnown = false;
        for (const char* pKind : kKinds)
            bKnown = bKnown || rule.strOn == pKind;
        if (!bKnown) {
            strError = "on must be one of any, login, token, space, dispatch, cancel, check, piece";
            return false;
        }
    }
    rule.strUser = fields.Get("user");
    long long n = 0;
    if (fields.Has("count")) {
        if (!ToInt(fields.Get("count"), 1, 1000000, n)) {
            strError = "count must be a positive number";
            return false;
        }
        rule.nCount = static_cast<int>(n);
    }
    if (fields.Has("seconds")) {
        char* pEnd = nullptr;
        std::string strSeconds = fields.Get("seconds");
        rule.fSeconds = std::strtod(strSeconds.c_str(), &pEnd);
        if (strSeconds.empty() || !pEnd || *pEnd || rule.fSeconds < 0 || rule.fSeconds > 3600) {
            strError = "seconds must be a number from 0 to 3600";
            return false;
        }
    }
    if (rule.action == FaultAction::Status) {
        if (!ToInt(fields.Get("statuscode"), -1000000000, 1000000000, n)) {
            strError = "action=status needs a statuscode";
            return false;
        }
        rule.nStatusCode = static_cast<int>(n);
        rule.strStatusMsg = fields.Get("statusmsg");
    }
    if (fields.Has("at")) {
        if (!ToInt(fields.Get("at"), 0, 1LL << 40, n)) {
            strError = "at must be a number of bytes";
            return false;
        }
        rule.nDropAfter = n;
    }
    if (fields.Has("chunks")) {
        if (!ToInt(fields.Get("chunks"), 1, 1000, n)) {
            strError = "chunks must be a number from 1 to 1000";
            return false;
        }
        rule.nChunks = static_cast<int>(n);
    }
    if (fields.Has("pause_ms")) {
        if (!ToInt(fields.Get("pause_ms"), 0, 60000, n)) {
            strError = "pause_ms must be a number from 0 to 60000";
            return false;
        }
        rule.nPauseMs = static_cast<int>(n);
    }
    return true;
}

void FaultBook::Add(const FaultRule& rule) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vRules.push_back(rule);
}

void FaultBook::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vRules.clear();
}

std::optional<FaultRule> FaultBook::Take(const std::string& strKind, const std::string& strAccount,
                                         const std::string& strUserId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_vRules.begin(); it != m_vRules.end(); ++it) {
        if (it->strOn != "any" && it->strOn != strKind)
            continue;
        if (!it->strUser.empty() && it->strUser != strAccount && it->strUser != strUserId)
            continue;
        FaultRule rule = *it;
        if (--it->nCount <= 0)
            m_vRules.erase(it);
        return rule;
    }
    return std::nullopt;
}

size_t FaultBook::Pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vRules.size();
}

}  // namespace standin

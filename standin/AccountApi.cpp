// Login, token and space replies; every text field goes out as a JSON string and every number
// as a JSON number, as the client's reader demands.
#include "AccountApi.h"

#include <cstdio>

#include "ServiceConstants.h"
#include "ServiceReplies.h"
#include "Signatures.h"
#include "utils/Utils.h"

namespace standin {

namespace {

const char kWrongLogin[] = "帐号或密码错误";

ApiResult LoginRefused(const std::string& strAccount, const std::string& strError,
                       const std::string& strWhy) {
    Json::Value reply(Json::objectValue);
    reply["state"] = false;
    reply["error"] = strError;
    return ApiResult{WriteJson(reply), strAccount, "", "refused: " + strWhy};
}

bool IsDecimal(const std::string& s, size_t nMaxLen) {
    if (s.empty() || s.size() > nMaxLen)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

}  // namespace

std::string FolderTarget(long long nUserId, long long nFolderId) {
    return "U_" + std::to_string(nUserId) + "_" + std::to_string(nFolderId);
}

bool AccountByUserId(ServiceContext& ctx, const std::string& strUserId, Account& account) {
    if (!IsDecimal(strUserId, 18))
        return false;
    long long nId = std::stoll(strUserId);
    return ctx.store.Read([&](Records& rec) { return rec.AccountById(nId, account); });
}

Json::Value SpaceObject(long long nUsed, long long nTotal) {
    using _VelmoUpload::Utils;
    long long nRemain = nTotal > nUsed ? nTotal - nUsed : 0;
    char szPercent[32];
    snprintf(szPercent, sizeof(szPercent), "%.2f",
             nTotal > 0 ? static_cast<double>(nUsed) * 100.0 / static_cast<double>(nTotal) : 0.0);
    Json::Value space(Json::objectValue);
    space["byte_size_total"] = static_cast<Json::Int64>(nTotal);
    space["byte_size_used"] = static_cast<Json::Int64>(nUsed);
    space["byte_size_remain"] = static_cast<Json::Int64>(nRemain);
    space["size_used_percent"] = szPercent;
    space["size_total"] = Utils::GetShowSize(nTotal);
    space["size_used"] = Utils::GetShowSize(nUsed);
    space["size_remain"] = Utils::GetShowSize(nRemain);
    return space;
}

ApiResult HandleLogin(ServiceContext& ctx, const FormFields& body, bool bReportFull) {
    std::string strMissing = body.FirstMissing({"account", "_time", "version", "sign"});
    std::string strAccount = body.Get("account");
    if (!strMissing.empty())
        return LoginRefused(strAccount, "参数错误", "missing " + strMissing);
    std::string strTime = body.Get("_time");
    if (!IsDecimal(strTime, 12) || body.Get("version").empty() || strAccount.empty())
        return LoginRefused(strAccount, "参数错误", "malformed field");
    long long nSkew = std::stoll(strTime) - NowSeconds();
    if (nSkew > kLoginWindowSeconds || -nSkew > kLoginWindowSeconds)
        return LoginRefused(strAccount, "登录请求已过期，请校准本机时间",
                            "time off by " + std::to_string(nSkew) + "s");

    // The client signs the name as it typed it; it may have arrived encoded or raw.
    Account account;
    bool bMatched = false;
    for (const std::string& strName : {strAccount, body.GetRaw("account")}) {
        if (!ctx.store.Read([&](Records& rec) { return rec.AccountByName(strName, account); }))
            continue;
        if (LoginSignatureMatches(strName, account.strPassword, strTime, body.Get("sign"))) {
            bMatched = true;
            break;
        }
    }
    if (!bMatched)
        return LoginRefused(strAccount, kWrongLogin,
                            account.nId ? "wrong signature" : "unknown account");

    long long nUsed = ctx.store.Read([&](Records& rec) { return rec.UsedBytes(account.nId); });
    const Policy& policy = ctx.opts.policy;
    if (bReportFull)
        nUsed = policy.nQuota;
    Json::Value reply(Json::objectValue);
    reply["state"] = true;
    reply["error"] = "";
    reply["upload_allowed"] = policy.nUploadAllowed;
    reply["is_vip"] = 0;
    reply["user_id"] = std::to_string(account.nId);
    reply["user_name"] = account.strName;
    reply["face"] = ctx.strPublicUrl + "/face.png";
    reply["email"] = account.strName + "@standin.invalid";
    reply["resource"] = "linux_client";
    reply["userkey"] = account.strUserKey;
    reply["url_upload"] = ctx.strPublicUrl + "/files/upload";
    reply["url_resume"] = ctx.strPublicUrl + "/files/resume";
    reply["url_cancel"] = ctx.strPublicUrl + "/files/cancel";
    reply["target"] = FolderTarget(account.nId, account.nRootFolder);
    reply["time_limit"] = policy.fTimeLimit;
    reply["size_limit"] = static_cast<Json::Int64>(policy.nSizeLimit);
    reply["space"] = SpaceObject(nUsed, policy.nQuota);
    Json::Value types(Json::arrayValue);
    for (const std::string& strType : policy.vTypeLimit)
        types.append(strType);
    reply["type_limit"] = types;
    Json::Value ranges(Json::objectValue);
    for (const auto& range : policy.fileRange)
        ranges[std::to_string(range.first)] = range.second;
    reply["file_range"] = ranges;
    return ApiResult{WriteJson(reply), account.strName, std::to_string(account.nId), "ok"};
}

ApiResult HandleToken(ServiceContext& ctx, const FormFields& query) {
    std::string strMissing = query.FirstMissing({"user_id", "source", "app", "version"});
    Json::Value reply(Json::objectValue);
    Account account;
    if (!strMissing.empty() || !AccountByUserId(ctx, query.Get("user_id"), account)) {
        reply["state"] = false;
        reply["error"] = strMissing.empty() ? "用户身份异常" : "参数错误";
        return ApiResult{
            WriteJson(reply), "", query.Get("user_id"),
            strMissing.empty() ? "refused: unknown user" : "refused: missing " + strMissing};
    }
    reply["state"] = true;
    reply["url"] = ctx.strPublicUrl + "/?user_id=" + std::to_string(account.nId);
    return ApiResult{WriteJson(reply), account.strName, std::to_string(account.nId), "ok"};
}

ApiResult HandleSpace(ServiceContext& ctx, const FormFields& query, bool bReportFull) {
    std::string strMissing = query.FirstMissing({"source", "user_id"});
    Json::Value reply(Json::objectValue);
    Account account;
    if (!strMissing.empty() || !AccountByUserId(ctx, query.Get("user_id"), account)) {
        reply["state"] = false;
        reply["error"] = strMissing.empty() ? "用户身份异常" : "参数错误";
        return ApiResult{
            WriteJson(reply), "", query.Get("user_id"),
            strMissing.empty() ? "refused: unknown user" : "refused: missing " + strMissing};
    }
    long long nUsed = ctx.store.Read([&](Records& rec) { return rec.UsedBytes(account.nId); });
    if (bReportFull)
        nUsed = ctx.opts.policy.nQuota;
    reply["state"] = true;
    reply["user_id"] = std::to_string(account.nId);
    reply["space"] = SpaceObject(nUsed, ctx.opts.policy.nQuota);
    return ApiResult{WriteJson(reply), account.strName, std::to_string(account.nId),
                     "ok used=" + std::to_string(nUsed)};
}

}  // namespace standin

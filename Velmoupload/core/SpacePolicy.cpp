// The quota query and the upload rules built on the session: pause, size limit, which digests.
#include <json/json.h>

#include "core/JsonRead.h"
#include "core/LoginManager.h"
#include "http/FormText.h"
#include "http/QvHttpClient.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

namespace {
// a pause shorter than this is no pause: the upload thread drops the fraction
constexpr double kTimeLimitFloor = 0.5;

bool InRange(long long nSize, const std::pair<long long, long long>& range) {
    return nSize > range.first && (nSize <= range.second || range.second == 0);
}
}  // namespace

bool LoginManager::GetSpace() {
    std::string strUserId, strResource;
    {
        MutexLocker lock(m_sessionLock);
        if (!m_bIsLogin)
            return false;
        strUserId = m_strUserId;
        strResource = m_strResource;
    }
    FormText query;
    query.Add("source", strResource).Add("user_id", strUserId);
    QvHttpClient client;
    std::string strResponse;
    if (!client.Get(_ApiUrl("/app/user/space?" + query.Text()), strResponse))
        return false;
    return _ReadSpaceReply(strResponse);
}

bool LoginManager::_ReadSpaceReply(const std::string& strBody) {
    Json::Value root;
    if (!JsonParse(strBody, root))
        return false;

    MutexLocker lock(m_sessionLock);
    try {
        if (!JsonBool(JsonField(root, "state")))
            return false;
        // a reply about another account (or one that came back after a new login) is not ours
        if (JsonText(JsonField(root, "user_id")) != m_strUserId || !m_bIsLogin)
            return false;
        const Json::Value& space = JsonField(root, "space");
        m_strSpaceInfo = JsonText(JsonField(space, "size_used"));
        m_strSpaceInfo += "|";
        m_strSpaceInfo += JsonText(JsonField(space, "size_total"));
        m_strSpaceInfo += "|";
        m_strSpaceInfo += JsonText(JsonField(space, "size_used_percent"));
        m_nTotalSize = JsonInt64(JsonField(space, "byte_size_total"));
        m_nUsedSize = JsonInt64(JsonField(space, "byte_size_used"));
        m_nRemainSize = JsonInt64(JsonField(space, "byte_size_remain"));
        m_strUsedPercent = JsonText(JsonField(space, "size_used_percent"));
        m_strShowTotalSize = JsonText(JsonField(space, "size_total"));
        m_strShowUsedSize = JsonText(JsonField(space, "size_used"));
        m_strShowRemainSize = JsonText(JsonField(space, "size_remain"));
    } catch (...) {
        return false;
    }
    return true;
}

double LoginManager::GetTimeLimit() {
    MutexLocker lock(m_sessionLock);
    if (m_fTimeLimit < kTimeLimitFloor)
        m_fTimeLimit = kTimeLimitFloor;
    return m_fTimeLimit;
}

bool LoginManager::NeedHashAll(const std::string& strFilePath) {
    const std::string strExt = Utils::StringToLowerCase(Utils::GetFileExt(strFilePath));
    MutexLocker lock(m_sessionLock);
    for (const std::string& strType : m_hashType)
        if (strType == strExt)
            return true;
    return false;
}

HashType LoginManager::GetHashType(long long nFileSize) {
    MutexLocker lock(m_sessionLock);
    auto itSha = m_hashRange.find(HashTypeSHA1);
    if (itSha != m_hashRange.end() && InRange(nFileSize, itSha->second))
        return HashTypeSHA1;
    auto itQuick = m_hashRange.find(HashTypeMDVelmo);
    if (itQuick == m_hashRange.end())
        return HashTypeALL;
    return InRange(nFileSize, itQuick->second) ? HashTypeMDVelmo : HashTypeALL;
}

}  // namespace _VelmoUpload

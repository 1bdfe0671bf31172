// Login, dispatch and upload signatures through the engine's own digests.
#include "Signatures.h"

#include "ServiceConstants.h"
#include "utils/Utils.h"

using _VelmoUpload::Utils;

namespace standin {

namespace {

std::string Sha1Text(const std::string& strText) {
    std::string strHash;
    if (!Utils::GetHash(strText, strHash))
        return std::string();
    return strHash;
}

}  // namespace

std::string LoginSignature(const std::string& strAccount, const std::string& strPasswordHash,
                           const std::string& strTime) {
    return Utils::GetMD5(strAccount + Utils::StringToLowerCase(strPasswordHash) + strTime +
                         _VelmoUpload::kLoginSalt);
}

bool LoginSignatureMatches(const std::string& strAccount, const std::string& strPassword,
                           const std::string& strTime, const std::string& strSign) {
    if (strSign.empty())
        return false;
    std::string strHash = Sha1Text(strPassword);
    if (!strHash.empty() && SameDigest(LoginSignature(strAccount, strHash, strTime), strSign))
        return true;
    return strPassword.size() == 40 &&
           SameDigest(LoginSignature(strAccount, strPassword, strTime), strSign);
}

std::string DispatchSignature(const std::string& strUserId, const std::string& strUserKey,
                              const std::string& strFileId, const std::string& strQuickId,
                              const std::string& strPickCode, const std::string& strTarget) {
    std::string strInner = Utils::StringToLowerCase(Sha1Text(
        strUserId + strFileId + strQuickId + strPickCode + strTarget + _VelmoUpload::kAppId));
    return Sha1Text(strUserKey + strInner + _VelmoUpload::kAppKey);
}

std::string UploadSignature(const std::string& strUploadKey) {
    return Sha1Text(std::string(_VelmoUpload::kAppKey) + strUploadKey + _VelmoUpload::kAppId);
}

bool SameDigest(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty())
        return false;
    return Utils::StringToLowerCase(a) == Utils::StringToLowerCase(b);
}

}  // namespace standin

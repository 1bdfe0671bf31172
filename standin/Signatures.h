// The signatures the client puts on its requests, computed the same way on this side so that
// a request can be checked against what the client should have sent.
#pragma once

#include <string>

namespace standin {

// MD5 login signature for one form of the password hash (40 hex digits, any case).
std::string LoginSignature(const std::string& strAccount, const std::string& strPasswordHash,
                           const std::string& strTime);

// True when strSign is the login signature of the account's password: either of its SHA-1,
// or, for a password of exactly 40 characters, of the password itself, which the client then
// takes for a remembered hash.
bool LoginSignatureMatches(const std::string& strAccount, const std::string& strPassword,
                           const std::string& strTime, const std::string& strSign);

std::string DispatchSignature(const std::string& strUserId, const std::string& strUserKey,
                              const std::string& strFileId, const std::string& strQuickId,
                              const std::string& strPickCode, const std::string& strTarget);

std::string UploadSignature(const std::string& strUploadKey);

// Hex digests compared without regard to letter case.
bool SameDigest(const std::string& a, const std::string& b);

}  // namespace standin

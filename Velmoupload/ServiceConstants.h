// Texts and numbers the cloud-drive service fixes; every request builder takes them from here.
#pragma once

namespace _VelmoUpload {

// host:port of the service's API, fixed at build time; the stand-in service listens here by default
#ifndef VELMO_API_HOST
#define VELMO_API_HOST "127.0.0.1:36080"
#endif
constexpr const char kDefaultApiHost[] = VELMO_API_HOST;

// the client version the service sees, as "appversion" and "version"
constexpr const char kPluginVersion[] = "linux_1.0.1026.4";
// the application key that signs dispatch and upload requests
constexpr const char kAppKey[] = "604918";
// the application id sent as "appid" / "app"
constexpr const char kAppId[] = "0";
// appended to the signed text of a login
constexpr const char kLoginSalt[] = "4qm7n&83XcLVpor";
// the multipart boundary of a piece upload
constexpr const char kUploadBoundary[] = "-----------------------Velmoupload";
// a piece of a file goes out in one request of this many bytes
constexpr long long kPieceSize = 1048576;

// "status" of an accepted dispatch: the pieces are to be sent, or the service already holds
// the content and nothing is sent
constexpr int kStatusToSend = 1;
constexpr int kStatusHeld = 2;

// "statuscode" of a reply: 0 when the request was accepted, else why the service refused it
// (the error catalogue holds the texts the service sends with them)
namespace ServiceCode {
constexpr int kOk = 0;
constexpr int kNeedSha1 = 300;  // the quick digest matches held content: send the SHA-1
constexpr int kBadSignature = 400;
constexpr int kUnknownUser = 401;
constexpr int kBadParameter = 402;
constexpr int kUploadExpired = 403;
constexpr int kBadRange = 404;
constexpr int kHashMismatch = 405;
constexpr int kNoSpace = 410;
constexpr int kTooLarge = 411;
constexpr int kUnknownPickCode = 412;
constexpr int kDiskFull = 500;
constexpr int kBusy = 501;
constexpr int kInternal = 502;
constexpr int kClientTooOld = 600;
constexpr int kNoDirectory = 10014;
}  // namespace ServiceCode

}  // namespace _VelmoUpload

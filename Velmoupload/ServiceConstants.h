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

}  // namespace _VelmoUpload

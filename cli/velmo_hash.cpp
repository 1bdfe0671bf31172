// velmo-hash: prints the SHA-1 and MDVelmo the uploader would send for each file, and measures
// whole-file hashing speed, so digests can be checked and compared outside the client.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/ErrorManager.h"
#include "utils/Utils.h"
#include "utils/sha1.h"

using _VelmoUpload::SHA1;
using _VelmoUpload::Utils;

namespace {

const char kUsage[] =
    "usage: velmo-hash [--portable] FILE...\n"
    "       velmo-hash --bench [--portable] FILE\n"
    "\n"
    "Prints \"SHA1 MDVELMO SIZE PATH\" for each file.\n"
    "  --bench     hash FILE whole once and print the throughput in MB/s (10^6 bytes)\n"
    "  --portable  use the portable SHA-1 code even when the CPU has SHA extensions\n"
    "  --help      print this text\n";

// The hashing codes are the client's own; anything below them is a system error number.
std::string ErrorText(int nCode) {
    switch (nCode) {
        case _VelmoUpload::kErrHashCancelled:
            return "hashing cancelled";
        case _VelmoUpload::kErrHashRead:
            return "read error";
        case _VelmoUpload::kErrHashDigest:
            return "digest could not be completed";
        case _VelmoUpload::kErrSampleAlloc:
            return "out of memory for the sample buffer";
        case _VelmoUpload::kErrSampleRead:
            return "sample block could not be read in full";
        case _VelmoUpload::kErrSampleDigest:
            return "digest of the samples could not be formed";
        case _VelmoUpload::kErrSmallFile:
            return "hashing the whole file failed";
        default:
            return strerror(nCode);
    }
}

void Fail(const std::string& strPath, const char* pWhat, int nCode) {
    fprintf(stderr, "velmo-hash: %s: %s: %s (%d)\n", strPath.c_str(), pWhat,
            ErrorText(nCode).c_str(), nCode);
}

bool PrintDigests(const std::string& strPath) {
    long long nSize = 0;
    errno = 0;
    if (!Utils::GetFileSize(strPath, nSize)) {
        Fail(strPath, "size", errno != 0 ? errno : EIO);
        return false;
    }
    std::string strSha1, strMDVelmo;
    int nError = 0;
    if (!Utils::GetFileHash(strPath, strSha1, nError, nullptr)) {
        Fail(strPath, "SHA-1", nError);
        return false;
    }
    if (!Utils::GetFileMDVelmo(strPath, strMDVelmo, nError)) {
        Fail(strPath, "MDVelmo", nError);
        return false;
    }
    printf("%s %s %lld %s\n", strSha1.c_str(), strMDVelmo.c_str(), nSize, strPath.c_str());
    return true;
}

bool Bench(const std::string& strPath) {
    std::string strSha1;
    int nError = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool bOk = Utils::GetFileHash(strPath, strSha1, nError, nullptr);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!bOk) {
        Fail(strPath, "SHA-1", nError);
        return false;
    }
    long long nSize = 0;
    Utils::GetFileSize(strPath, nSize);
    const double fSeconds = elapsed.count() > 0 ? elapsed.count() : 1e-9;
    printf("%s %lld bytes %.3f s %.1f MB/s %s\n", strSha1.c_str(), nSize, fSeconds,
           static_cast<double>(nSize) / fSeconds / 1e6,
           SHA1::HardwareActive() ? "sha-ni" : "portable");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool bBench = false;
    bool bPortable = false;
    bool bOptionsDone = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (!bOptionsDone && strArg == "--") {
            bOptionsDone = true;
        } else if (!bOptionsDone && strArg == "--help") {
            fputs(kUsage, stdout);
            return 0;
        } else if (!bOptionsDone && strArg == "--bench") {
            bBench = true;
        } else if (!bOptionsDone && strArg == "--portable") {
            bPortable = true;
        } else if (!bOptionsDone && strArg.size() > 1 && strArg[0] == '-') {
            fprintf(stderr, "velmo-hash: unknown option %s\n%s", strArg.c_str(), kUsage);
            return 2;
        } else {
            files.push_back(strArg);
        }
    }
    if (files.empty() || (bBench && files.size() != 1)) {
        fputs(kUsage, stderr);
        return 2;
    }
    SHA1::ForcePortable(bPortable);

    if (bBench)
        return Bench(files[0]) ? 0 : 1;

    bool bAllOk = true;
    for (const std::string& strPath : files) {
        if (!PrintDigests(strPath))
            bAllOk = false;
        // Keep stdout in step with the messages on stderr when both go to one place.
        fflush(stdout);
    }
    return bAllOk ? 0 : 1;
}

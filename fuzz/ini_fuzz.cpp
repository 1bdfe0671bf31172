// The INI store's reader on any file: Load takes it, and what Save then writes loads back to
// the same text, or the account and resume files would drift a little at every start.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "ini/QvIniFile.h"

using _VelmoUpload::QvIniFile;

namespace {

std::string g_strFolder;

void RemoveFolder() {
    for (const char* pName : {"/input.ini", "/again.ini", "/saved.ini"})
        unlink((g_strFolder + pName).c_str());
    rmdir(g_strFolder.c_str());
}

// Each input is written once and saved twice, and Save syncs: a memory file system keeps that
// from measuring the disk.
const std::string& Folder() {
    if (g_strFolder.empty()) {
        std::string strTemplate =
            std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/velmo-ini-XXXXXX";
        FUZZ_CHECK(mkdtemp(&strTemplate[0]) != nullptr);
        g_strFolder = strTemplate;
        atexit(RemoveFolder);
    }
    return g_strFolder;
}

void WriteFile(const std::string& strPath, const std::string& strText) {
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, strText.data(), strText.size()) == static_cast<ssize_t>(strText.size()));
    close(fd);
}

std::string ReadFile(const std::string& strPath) {
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    std::string strText;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof(buf))) > 0;)
        strText.append(buf, static_cast<size_t>(n));
    close(fd);
    return strText;
}

// What a fresh store writes after loading strPath.
std::string LoadAndSave(const std::string& strPath) {
    QvIniFile ini;
    FUZZ_CHECK(ini.Load(strPath));
    const std::string strSaved = Folder() + "/saved.ini";
    FUZZ_CHECK(ini.Save(strSaved));
    return ReadFile(strSaved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    WriteFile(Folder() + "/input.ini", FuzzText(pData, nSize));
    const std::string strOnce = LoadAndSave(Folder() + "/input.ini");
    WriteFile(Folder() + "/again.ini", strOnce);
    FUZZ_CHECK(LoadAndSave(Folder() + "/again.ini") == strOnce);
    return 0;
}

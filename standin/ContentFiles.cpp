// Partial and stored file content on disk.
#include "ContentFiles.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace standin {

namespace {

bool MakeDir(const std::string& strPath) {
    return mkdir(strPath.c_str(), 0700) == 0 || errno == EEXIST;
}

int RemoveEntry(const char* pPath, const struct stat*, int, struct FTW*) {
    return remove(pPath);
}

// pwrite until all nData bytes are out; nDone counts them. 0 or an errno value.
int WriteAll(int fd, const char* pData, size_t nData, long long nOffset, size_t& nDone) {
    nDone = 0;
    while (nDone < nData) {
        ssize_t n = pwrite(fd, pData + nDone, nData - nDone, static_cast<off_t>(nOffset + nDone));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        nDone += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

bool ContentFiles::Open(const std::string& strDataDir) {
    m_strPartialDir = strDataDir + "/partial";
    m_strContentDir = strDataDir + "/content";
    return MakeDir(strDataDir) && MakeDir(m_strPartialDir) && MakeDir(m_strContentDir);
}

std::string ContentFiles::PartialPath(const std::string& strPickCode) const {
    return m_strPartialDir + "/" + strPickCode;
}

std::string ContentFiles::ContentPath(const std::string& strSha1) const {
    return m_strContentDir + "/" + strSha1.substr(0, 2) + "/" + strSha1;
}

int ContentFiles::CreatePartial(const std::string& strPickCode) {
    int fd = open(PartialPath(strPickCode).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

int ContentFiles::WritePiece(const std::string& strPickCode, long long nOffset, const char* pData,
                             size_t nData, bool bLast) {
    int fd = open(PartialPath(strPickCode).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    size_t nDone = 0;
    int nError = WriteAll(fd, pData, nData, nOffset, nDone);
    // a killed earlier attempt may have left bytes past the end of the file
    if (!nError && bLast && ftruncate(fd, static_cast<off_t>(nOffset + nData)) != 0)
        nError = errno;
    if (close(fd) != 0 && !nError)
        nError = errno;
    return nError;
}

long long ContentFiles::PartialSize(const std::string& strPickCode) const {
    struct stat st;
    if (stat(PartialPath(strPickCode).c_str(), &st) != 0)
        return -1;
    return static_cast<long long>(st.st_size);
}

bool ContentFiles::TruncatePartial(const std::string& strPickCode, long long nSize) {
    return truncate(PartialPath(strPickCode).c_str(), static_cast<off_t>(nSize)) == 0;
}

void ContentFiles::RemovePartial(const std::string& strPickCode) {
    unlink(PartialPath(strPickCode).c_str());
}

bool ContentFiles::CommitPartial(const std::string& strPickCode, const std::string& strSha1) {
    std::string strTarget = ContentPath(strSha1);
    struct stat st;
    if (stat(strTarget.c_str(), &st) == 0) {
        RemovePartial(strPickCode);
        return true;
    }
    if (!MakeDir(m_strContentDir + "/" + strSha1.substr(0, 2)))
        return false;
    return rename(PartialPath(strPickCode).c_str(), strTarget.c_str()) == 0;
}

void ContentFiles::Clear() {
    nftw(m_strPartialDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    nftw(m_strContentDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    MakeDir(m_strPartialDir);
    MakeDir(m_strContentDir);
}

}  // namespace standin

// Utils: configuration folder, file and folder queries, number/size/time texts and the
// text conversions between the service's GBK messages and the UTF-8 the desktop shows.
#include "utils/Utils.h"

#include <dirent.h>
#include <iconv.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>

namespace _VelmoUpload {

std::string Utils::m_strConfigFolder;

namespace {

// guards Utils::m_strConfigFolder: read by every thread, written once (or by a test's reset)
std::mutex g_configFolderLock;

const char kConfigSubFolder[] = "/.Vurozudeduz/upload/";

std::string HomeFolder() {
    const char* pHome = getenv("HOME");
    if (pHome && *pHome)
        return pHome;
    // without HOME, the account database still knows where the user lives
    struct passwd pw;
    struct passwd* pResult = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof(buf), &pResult) == 0 && pResult && pw.pw_dir)
        return pw.pw_dir;
    return "/tmp";
}

void PrintErrno(const char* pLabel, const std::string& strPath, int nErr) {
    std::cout << pLabel << strPath << ", err:" << nErr << ", msg=" << strerror(nErr) << std::endl;
}

// One conversion through iconv; false when any byte cannot be converted.
bool Convert(const char* pTo, const char* pFrom, const std::string& strSrc, std::string& strOut) {
    iconv_t cd = iconv_open(pTo, pFrom);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string strResult;
    // GBK takes at most 2 bytes where UTF-8 takes 2 or more, and UTF-8 at most 3 where GBK
    // takes 2: twice the input is always room enough, but grow anyway on E2BIG
    std::string buf(strSrc.size() * 2 + 16, '\0');
    char* pIn = const_cast<char*>(strSrc.data());
    size_t nInLeft = strSrc.size();
    bool bOk = true;
    while (nInLeft > 0) {
        char* pOut = &buf[0];
        size_t nOutLeft = buf.size();
        size_t rc = iconv(cd, &pIn, &nInLeft, &pOut, &nOutLeft);
        strResult.append(buf.data(), buf.size() - nOutLeft);
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            bOk = false;  // EILSEQ or EINVAL: not text in the source encoding
            break;
        }
    }
    if (bOk) {
        char* pOut = &buf[0];
        size_t nOutLeft = buf.size();
        if (iconv(cd, nullptr, nullptr, &pOut, &nOutLeft) == static_cast<size_t>(-1))
            bOk = false;
        else
            strResult.append(buf.data(), buf.size() - nOutLeft);
    }
    iconv_close(cd);
    if (bOk)
        strOut.swap(strResult);
    return bOk;
}

}  // namespace

bool Utils::GetConfigFolder(std::string& strConfigFolder) {
    std::lock_guard<std::mutex> guard(g_configFolderLock);
    if (m_strConfigFolder.empty())
        m_strConfigFolder = HomeFolder() + kConfigSubFolder;
    strConfigFolder = m_strConfigFolder;
    return true;
}

void Utils::ResetConfigFolder() {
    std::lock_guard<std::mutex> guard(g_configFolderLock);
    m_strConfigFolder.clear();
}

bool Utils::IsExist(const std::string& strPath) {
    return access(strPath.c_str(), F_OK) == 0;
}

bool Utils::IsDir(const std::string& strDirPath) {
    struct stat st;
    return stat(strDirPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Utils::GetFileSize(const std::string& strFilePath, long long& nFileSize) {
    FILE* pFile = FileOpenEx(strFilePath, "rb");
    if (!pFile)
        return false;
    struct stat st;
    if (fstat(fileno(pFile), &st) != 0) {
        int nErr = errno;
        PrintErrno("cannot stat path=", strFilePath, nErr);
        fclose(pFile);
        return false;
    }
    nFileSize = static_cast<long long>(st.st_size);
    fclose(pFile);
    return true;
}

FILE* Utils::FileOpenEx(const std::string& strFilePath, const std::string& strMode) {
    return fopen(strFilePath.c_str(), strMode.c_str());
}

std::string Utils::GetFileName(const std::string& strFilePath) {
    std::string::size_type nPos = strFilePath.rfind('/');
    return nPos == std::string::npos ? strFilePath : strFilePath.substr(nPos + 1);
}

std::string Utils::GetFileExt(const std::string& strFilePath) {
    std::string::size_type nPos = strFilePath.rfind('.');
    return nPos == std::string::npos ? std::string() : strFilePath.substr(nPos + 1);
}

std::string Utils::GetParentDir(const std::string& strPath) {
    std::string::size_type nPos = strPath.rfind('/');
    return nPos == std::string::npos ? std::string() : strPath.substr(0, nPos);
}

bool Utils::CreateDir(const std::string& strDirPath) {
    if (IsExist(strDirPath))
        return true;
    if (strDirPath.empty())
        return false;
    // "mkdir -p": every prefix that ends before a "/", then the whole path
    for (std::string::size_type nPos = strDirPath.find('/', 1); nPos != std::string::npos;
         nPos = strDirPath.find('/', nPos + 1)) {
        std::string strPrefix = strDirPath.substr(0, nPos);
        if (mkdir(strPrefix.c_str(), 0777) != 0 && errno != EEXIST)
            break;
    }
    mkdir(strDirPath.c_str(), 0777);
    return IsExist(strDirPath);
}

bool Utils::ListDir(const std::string& strDirPath, std::vector<std::string>& fileList) {
    struct stat st;
    if (stat(strDirPath.c_str(), &st) != 0) {
        PrintErrno("cannot stat path=", strDirPath, errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        std::cout << "not a dir, path=" << strDirPath << std::endl;
        return false;
    }
    if (access(strDirPath.c_str(), R_OK) != 0) {
        PrintErrno("cannot access path=", strDirPath, errno);
        return false;
    }
    DIR* pDir = opendir(strDirPath.c_str());
    if (!pDir) {
        PrintErrno("opendir failed, path=", strDirPath, errno);
        return false;
    }
    while (struct dirent* pEntry = readdir(pDir)) {
        if (strcmp(pEntry->d_name, ".") == 0 || strcmp(pEntry->d_name, "..") == 0)
            continue;
        std::string strChild = strDirPath + "/" + pEntry->d_name;
        if (pEntry->d_type == DT_DIR)
            ListDir(strChild, fileList);  // a failing subfolder prints its line and is skipped
        else
            fileList.push_back(strChild);
    }
    closedir(pDir);
    return true;
}

long long Utils::StringS2I(const std::string& str) {
    unsigned long long nVal = 0;
    if (sscanf(str.c_str(), "%llu", &nVal) != 1)
        return 0;
    return static_cast<long long>(nVal);
}

std::string Utils::StringI2S(long long nVal) {
    char buf[32];
    snprintf(buf, sizeof(buf), "%llu", static_cast<unsigned long long>(nVal));
    return buf;
}

std::string Utils::StringToLowerCase(const std::string& str) {
    std::string strResult(str);
    for (char& c : strResult)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return strResult;
}

std::string Utils::StringLRTrim(const std::string& str) {
    static const char kBlanks[] = " \t\n\r";
    std::string::size_type nBegin = str.find_first_not_of(kBlanks);
    if (nBegin == std::string::npos)
        return str;  // empty, or blanks only: unchanged
    std::string::size_type nEnd = str.find_last_not_of(kBlanks);
    return str.substr(nBegin, nEnd - nBegin + 1);
}

std::string Utils::StringG2U(const std::string& strSrc) {
    std::string strOut;
    return Convert("UTF-8", "GBK", strSrc, strOut) ? strOut : strSrc;
}

std::string Utils::StringU2G(const std::string& strSrc) {
    std::string strOut;
    return Convert("GBK", "UTF-8", strSrc, strOut) ? strOut : strSrc;
}

bool Utils::GetNumFromRange(const std::string& strSrc, long long& nMin, long long& nMax) {
    std::string::size_type nPos = strSrc.find('-');
    if (nPos == std::string::npos)
        return false;
    nMin = StringS2I(strSrc.substr(0, nPos));
    nMax = StringS2I(strSrc.substr(nPos + 1));
    return true;
}

std::string Utils::SecondToHour(long second) {
    long nParts[3] = {second / 3600, (second % 3600) / 60, second % 60};
    std::string strResult;
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            strResult += ":";
        if (nParts[i] <= 9)
            strResult += "0";
        strResult += StringI2S(nParts[i]);
    }
    return strResult;
}

std::string Utils::GetShowSize(long long size) {
    char buf[64];
    if (size <= 1023)
        snprintf(buf, sizeof(buf), "%lldB", size);
    else if (size <= 1048575LL)
        snprintf(buf, sizeof(buf), "%.2fKB", static_cast<double>(size) / 1024.0);
    else if (size <= 1073741823LL)
        snprintf(buf, sizeof(buf), "%.2fMB", static_cast<double>(size) / 1048576.0);
    else if (size < 1099511627776LL)
        snprintf(buf, sizeof(buf), "%.2fGB", static_cast<double>(size) / 1073741824.0);
    else
        snprintf(buf, sizeof(buf), "%.2fTB", static_cast<double>(size) / 1099511627776.0);
    return buf;
}

uint32_t Utils::GetCurTime() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<uint32_t>(static_cast<unsigned long long>(tv.tv_sec) * 1000ULL +
                                 static_cast<unsigned long long>(tv.tv_usec) / 1000ULL);
}

void Utils::OutputDebugStringEx(const std::string&) {}

bool Utils::ShowSelectFileDlg(std::vector<std::string>&, void*) {
    return false;
}

bool Utils::ShowSelectFolderDlg(std::string&, void*) {
    return false;
}

}  // namespace _VelmoUpload

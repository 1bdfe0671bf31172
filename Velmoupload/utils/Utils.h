// Static helpers shared by every layer: the configuration folder, files and folders,
// number, size and time texts, text conversions, and the digests the service checks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>
#include <string>

namespace _VelmoUpload {

// Hashing progress: the path and the bytes hashed so far; anything but true cancels.
typedef bool (*HashProgressFun)(std::string strFilePath, long long nHashSize);

class Utils {
public:
    // ---- configuration and files ----
    static bool GetConfigFolder(std::string& strConfigFolder);
    // Forgets the cached folder so the next call reads HOME again (a test that moves HOME).
    static void ResetConfigFolder();
    static bool IsExist(const std::string& strPath);
    static bool IsDir(const std::string& strDirPath);
    static bool GetFileSize(const std::string& strFilePath, long long& nFileSize);
    static FILE* FileOpenEx(const std::string& strFilePath, const std::string& strMode);
    static std::string GetFileName(const std::string& strFilePath);
    static std::string GetFileExt(const std::string& strFilePath);
    static std::string GetParentDir(const std::string& strPath);
    static bool CreateDir(const std::string& strDirPath);
    static bool ListDir(const std::string& strDirPath, std::vector<std::string>& fileList);

    // ---- numbers, times and text ----
    static long long StringS2I(const std::string& str);
    static std::string StringI2S(long long nVal);
    static std::string StringToLowerCase(const std::string& str);
    static std::string StringLRTrim(const std::string& str);
    // GBK <-> UTF-8; text that cannot be converted comes back unchanged.
    static std::string StringG2U(const std::string& strSrc);
    static std::string StringU2G(const std::string& strSrc);
    static bool GetNumFromRange(const std::string& strSrc, long long& nMin, long long& nMax);
    static std::string SecondToHour(long second);
    static std::string GetShowSize(long long size);
    // Wall-clock milliseconds truncated to 32 bits: only differences mean anything.
    static uint32_t GetCurTime();

    // ---- hooks kept for callers; they do nothing here ----
    static void OutputDebugStringEx(const std::string& str);
    static bool ShowSelectFileDlg(std::vector<std::string>& selectFilePathList, void* hWnd);
    static bool ShowSelectFolderDlg(std::string& strSelectFolderPath, void* hWnd);

    // ---- digests (SHA-1 texts upper case, MD5 lower case) ----
    static bool GetHash(const std::string& strContent, std::string& strHash);
    static bool GetHash(const unsigned char* lpContent, unsigned nLength, std::string& strHash);
    static bool GetFileHash(const std::string& strFilePath, std::string& strFileHash,
                            int& nErrorCode, HashProgressFun hashProgressFun);
    static bool GetFileMDVelmo(const std::string& strFilePath, std::string& strFileMDVelmo,
                               int& nErrorCode);
    static std::string GetMD5(const std::string& strContent);
    // The five sample offsets of MDVelmo for a file of nFileSize (> 25600) bytes.
    static void GetMDVelmoOffsets(long long nFileSize, long long offsets[5]);

private:
    static std::string m_strConfigFolder;
};

}  // namespace _VelmoUpload

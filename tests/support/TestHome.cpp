// Temporary HOME and small file helpers shared by all test layers.
#include "TestHome.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "utils/Utils.h"

namespace velmotest {

namespace {

// A fresh directory under TMPDIR (or /tmp), without a trailing "/".
std::string MakeTempDir(const std::string& strPrefix) {
    const char* pTmp = getenv("TMPDIR");
    std::string strPath = std::string(pTmp && *pTmp ? pTmp : "/tmp") + "/" + strPrefix + "XXXXXX";
    if (!mkdtemp(&strPath[0])) {
        ADD_FAILURE() << "mkdtemp failed for " << strPath;
        return std::string();
    }
    return strPath;
}

}  // namespace

void RemoveTree(const std::string& strPath) {
    if (strPath.empty())
        return;
    auto removeEntry = [](const char* pPath, const struct stat*, int, struct FTW*) {
        return remove(pPath);
    };
    nftw(strPath.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void WriteFile(const std::string& strPath, const std::string& strContent) {
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out.good()) << "cannot write " << strPath;
    out.write(strContent.data(), static_cast<std::streamsize>(strContent.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << strPath;
}

std::string ReadFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RandomBytes(size_t n, unsigned nSeed) {
    std::mt19937 gen(nSeed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

void TempHomeTest::SetUp() {
    const char* pHome = getenv("HOME");
    m_bHadHome = pHome != nullptr;
    if (pHome)
        m_strOldHome = pHome;
    m_strHome = MakeTempDir("velmo-home-");
    ASSERT_FALSE(m_strHome.empty());
    setenv("HOME", m_strHome.c_str(), 1);
    _VelmoUpload::Utils::ResetConfigFolder();
    m_strWork = m_strHome + "/work";
    ASSERT_EQ(0, mkdir(m_strWork.c_str(), 0700));
}

void TempHomeTest::TearDown() {
    if (m_bHadHome)
        setenv("HOME", m_strOldHome.c_str(), 1);
    else
        unsetenv("HOME");
    _VelmoUpload::Utils::ResetConfigFolder();
    RemoveTree(m_strHome);
}

}  // namespace velmotest

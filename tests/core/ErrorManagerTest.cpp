// The error catalogue: GBK texts checked against an independent conversion, every code known,
// and the fallback.
#include <gtest/gtest.h>
#include <iconv.h>

#include "core/ErrorManager.h"
#include "utils/Utils.h"

using namespace _VelmoUpload;

namespace {

// GBK through iconv directly, not through the engine, so the test checks the engine's bytes
std::string ToGbk(const std::string& strUtf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string out(strUtf8.size() * 2 + 8, '\0');
    char* pIn = const_cast<char*>(strUtf8.data());
    size_t nIn = strUtf8.size();
    char* pOut = &out[0];
    size_t nOut = out.size();
    EXPECT_NE(static_cast<size_t>(-1), iconv(cd, &pIn, &nIn, &pOut, &nOut));
    iconv_close(cd);
    out.resize(out.size() - nOut);
    return out;
}

TEST(ErrorManagerTest, EveryCodeHasItsGbkTextAndOthersFallBack) {
    const std::pair<int, const char*> kSamples[] = {
        {300, "mdVelmo碰撞"},        {410, "网盘空间不足"},      {10014, "目录不存在"},
        {2, "文件已经移动或删除"},   {1001, "计算文件哈希失败"}, {1003, "请求文件调度失败a"},
        {1106, "计算文件哈希失败f"},
    };
    for (const auto& sample : kSamples)
        EXPECT_EQ(ToGbk(sample.second), ErrorManager::GetErrorMessage(sample.first))
            << "code " << sample.first;

    const std::string strUnknown = ToGbk("未知错误");
    for (int nCode :
         {300,   400,  401,  402,  403,  404,  405,  410,  411,  412,  500,  501,  502,  600,
          10014, 2,    3,    32,   123,  1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008,
          1009,  1010, 1011, 1012, 1013, 1014, 1015, 1101, 1102, 1103, 1104, 1105, 1106})
        EXPECT_NE(strUnknown, ErrorManager::GetErrorMessage(nCode)) << nCode;
    EXPECT_EQ(strUnknown, ErrorManager::GetErrorMessage(75));
    EXPECT_EQ(strUnknown, ErrorManager::GetErrorMessage(-1));
    EXPECT_EQ("", ErrorManager::GetErrorMessage(0));
}

}  // namespace

// The error catalogue. Texts are GBK bytes, the encoding the service's own messages are kept
// in, so a task's message reads the same whether it came from the service or from here.
#include "core/ErrorManager.h"

#include <mutex>

#include "ServiceConstants.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

ErrorDict ErrorManager::m_errorDict;
bool ErrorManager::m_bInit = false;

namespace {

// "未知错误": the text of any non-zero code the catalogue does not know
const char kUnknownError[] = "\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3";

struct ErrorEntry {
    int nCode;
    const char* pText;
};

const ErrorEntry kCatalogue[] = {
    {ServiceCode::kNeedSha1, "mdVelmo\xC5\xF6\xD7\xB2"},  // mdVelmo碰撞
    {ServiceCode::kBadSignature,
     "\xC7\xA9\xC3\xFB\xC8\xCF\xD6\xA4\xCA\xA7\xB0\xDC"},  // 签名认证失败
    {ServiceCode::kUnknownUser,
     "\xD3\xC3\xBB\xA7\xC9\xED\xB7\xDD\xD2\xEC\xB3\xA3"},              // 用户身份异常
    {ServiceCode::kBadParameter, "\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3"},  // 参数错误
    {ServiceCode::kUploadExpired,
     "\xC9\xCF\xB4\xAB\xC8\xA8\xCF\xDE\xB3\xAC\xCA\xB1"},                      // 上传权限超时
    {ServiceCode::kBadRange, "range\xB4\xED\xCE\xF3"},                         // range错误
    {ServiceCode::kHashMismatch, "\xB9\xFE\xCF\xA3\xB2\xBB\xC6\xA5\xC5\xE4"},  // 哈希不匹配
    {ServiceCode::kNoSpace, "\xCD\xF8\xC5\xCC\xBF\xD5\xBC\xE4\xB2\xBB\xD7\xE3"},  // 网盘空间不足
    {ServiceCode::kTooLarge,
     "\xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xB3\xAC\xB9\xFD\xB6\xEE\xB6\xC8"},  // 文件大小超过额度
    {ServiceCode::kUnknownPickCode,
     "\xCC\xE1\xC8\xA1\xC2\xEB\xB2\xBB\xB4\xE6\xD4\xDA"},  // 提取码不存在
    {ServiceCode::kDiskFull,
     "\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xC5\xC5\xCC\xBF\xD5\xBC\xE4\xB2\xBB\xD7\xE3"},  // 服务器磁盘空间不足
    {ServiceCode::kBusy,
     "\xC9\xCF\xB4\xAB\xB7\xFE\xCE\xF1\xC6\xF7\xB7\xB1\xC3\xA6"},     // 上传服务器繁忙
    {ServiceCode::kInternal, "502\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3"},  // 502未知错误
    {ServiceCode::kClientTooOld,
     "\xBF\xCD\xBB\xA7\xB6\xCB\xB0\xE6\xB1\xBE\xB9\xFD\xB5\xCD"},  // 客户端版本过低
    {ServiceCode::kNoDirectory, "\xC4\xBF\xC2\xBC\xB2\xBB\xB4\xE6\xD4\xDA"},  // 目录不存在
    // system error numbers, stored as they come
    {2,
     "\xCE\xC4\xBC\xFE\xD2\xD1\xBE\xAD\xD2\xC6\xB6\xAF\xBB\xF2\xC9\xBE\xB3\xFD"},  // 文件已经移动或删除
    {3,
     "\xCE\xC4\xBC\xFE\xBC\xD0\xD2\xD1\xBE\xAD\xD2\xC6\xB6\xAF\xBB\xF2\xC9\xBE\xB3\xFD"},  // 文件夹已经移动或删除
    {32,
     "\xCE\xC4\xBC\xFE\xB1\xBB\xC6\xE4\xCB\xFB\xBD\xF8\xB3\xCC\xD5\xBC\xD3\xC3"},  // 文件被其他进程占用
    {123,
     "\xCE\xC4\xBC\xFE\xBB\xF2\xC4\xBF\xC2\xBC\xC3\xFB\xB3\xC6\xB2\xBB\xD5\xFD\xC8"
     "\xB7"},  // 文件或目录名称不正确
    {kErrEmptyFile, "\xBF\xD5\xCE\xC4\xBC\xFE\xB2\xBB\xC4\xDC\xC9\xCF\xB4\xAB"},  // 空文件不能上传
    {kErrHashCancelled,
     "\xBC\xC6\xCB\xE3\xCE\xC4\xBC\xFE\xB9\xFE\xCF\xA3\xCA\xA7\xB0\xDC"},  // 计算文件哈希失败
    {kErrNoMemory, "\xC4\xDA\xB4\xE6\xB7\xD6\xC5\xE4\xCA\xA7\xB0\xDC"},    // 内存分配失败
    {kErrDispatchBuild,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xB5\xF7\xB6\xC8\xCA\xA7\xB0\xDC"
     "a"},  // 请求文件调度失败a
    {kErrDispatchSend,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xB5\xF7\xB6\xC8\xCA\xA7\xB0\xDC"
     "b"},  // 请求文件调度失败b
    {kErrDispatchReply,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xB5\xF7\xB6\xC8\xCA\xA7\xB0\xDC"
     "c"},  // 请求文件调度失败c
    {kErrCheckBuild,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xB6\xCF\xB5\xE3\xCA\xA7\xB0\xDC"
     "a"},  // 请求文件断点失败a
    {kErrCheckSend,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xB6\xCF\xB5\xE3\xCA\xA7\xB0\xDC"
     "b"},  // 请求文件断点失败b
    {kErrCheckReply,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xB6\xCF\xB5\xE3\xCA\xA7\xB0\xDC"
     "c"},  // 请求文件断点失败c
    {kErrPieceUrl,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xC9\xCF\xB4\xAB\xCA\xA7\xB0\xDC"
     "a"},  // 请求文件上传失败a
    {kErrPieceSend,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xC9\xCF\xB4\xAB\xCA\xA7\xB0\xDC"
     "b"},  // 请求文件上传失败b
    {kErrPieceReply,
     "\xC7\xEB\xC7\xF3\xCE\xC4\xBC\xFE\xC9\xCF\xB4\xAB\xCA\xA7\xB0\xDC"
     "c"},  // 请求文件上传失败c
    {kErrNoTarget,
     "\xC3\xBB\xD3\xD0\xD6\xB8\xB6\xA8\xC9\xCF\xB4\xAB\xC4\xBF\xB1\xEA"},  // 没有指定上传目标
    {kErrNoSpace, "\xCD\xF8\xC5\xCC\xBF\xD5\xBC\xE4\xB2\xBB\xD7\xE3"},     // 网盘空间不足
    {kErrFileTooLarge,
     "\xCE\xC4\xBC\xFE\xB3\xAC\xB9\xFD\xB5\xA5\xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xCF\xDE\xD6"
     "\xC6"},  // 文件超过单文件大小限制
    {kErrNoNetwork,
     "\xC7\xEB\xBC\xEC\xB2\xE9\xC4\xE3\xB5\xC4\xCD\xF8\xC2\xE7\xC1\xAC\xBD\xD3"},  // 请检查你的网络连接
    {kErrHashRead,
     "\xBC\xC6\xCB\xE3\xCE\xC4\xBC\xFE\xB9\xFE\xCF\xA3\xCA\xA7\xB0\xDC"
     "a"},  // 计算文件哈希失败a
    {kErrHashDigest,
     "\xBC\xC6\xCB\xE3\xCE\xC4\xBC\xFE\xB9\xFE\xCF\xA3\xCA\xA7\xB0\xDC"
     "b"},  // 计算文件哈希失败b
    {kErrSampleAlloc,
     "\xBC\xC6\xCB\xE3\xCE\xC4\xBC\xFE\xB9\xFE\xCF\xA3\xCA\xA7\xB0\xDC"
     "c"},  // 计算文件哈希失败c
    {kErrSampleRead,
     "\xBC\xC6\xCB\xE3\xCE\xC4\xBC\xFE\xB9\xFE\xCF\xA3\xCA\xA7\xB0\xDC"
     "d"},  // 计算文件哈希失败d
    {kErrSampleDigest,
     "\xBC\xC6\xCB\xE3\xCE\xC4\xBC\xFE\xB9\xFE\xCF\xA3\xCA\xA7\xB0\xDC"
     "e"},  // 计算文件哈希失败e
    {kErrSmallFile,
     "\xBC\xC6\xCB\xE3\xCE\xC4\xBC\xFE\xB9\xFE\xCF\xA3\xCA\xA7\xB0\xDC"
     "f"},  // 计算文件哈希失败f
};

// the first caller fills the map; threads that come later only read it
std::once_flag g_catalogueOnce;

}  // namespace

void ErrorManager::Initialize() {
    std::call_once(g_catalogueOnce, [] {
        std::string strConfigFolder;
        if (Utils::GetConfigFolder(strConfigFolder))
            Utils::CreateDir(strConfigFolder + "errlog/");
        for (const ErrorEntry& entry : kCatalogue)
            m_errorDict[entry.nCode] = entry.pText;
        m_bInit = true;
    });
}

std::string ErrorManager::GetErrorMessage(int nErrorCode) {
    Initialize();
    if (nErrorCode == 0)
        return std::string();
    ErrorDict::const_iterator it = m_errorDict.find(nErrorCode);
    return it == m_errorDict.end() ? std::string(kUnknownError) : it->second;
}

std::string ErrorManager::GetErrorMessage(TaskInfo* pTaskInfo) {
    Initialize();
    if (!pTaskInfo)
        return kUnknownError;
    if (pTaskInfo->nErrorCode == 0)
        return std::string();
    if (!pTaskInfo->strErrorMsg.empty())
        return pTaskInfo->strErrorMsg;
    return GetErrorMessage(pTaskInfo->nErrorCode);
}

}  // namespace _VelmoUpload

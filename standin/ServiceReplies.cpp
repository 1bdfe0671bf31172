// Status texts and the JSON writer shared by every reply.
#include "ServiceReplies.h"

#include <map>
#include <memory>
#include <sstream>

namespace standin {

std::string StatusText(int nStatusCode) {
    static const std::map<int, std::string> kTexts = {
        {ServiceCode::kNeedSha1, "mdVelmo碰撞"},
        {ServiceCode::kBadSignature, "签名认证失败"},
        {ServiceCode::kUnknownUser, "用户身份异常"},
        {ServiceCode::kBadParameter, "参数错误"},
        {ServiceCode::kUploadExpired, "上传权限超时"},
        {ServiceCode::kBadRange, "range错误"},
        {ServiceCode::kHashMismatch, "哈希不匹配"},
        {ServiceCode::kNoSpace, "网盘空间不足"},
        {ServiceCode::kTooLarge, "文件大小超过额度"},
        {ServiceCode::kUnknownPickCode, "提取码不存在"},
        {ServiceCode::kDiskFull, "服务器磁盘空间不足"},
        {ServiceCode::kBusy, "上传服务器繁忙"},
        {ServiceCode::kInternal, "502未知错误"},
        {ServiceCode::kClientTooOld, "客户端版本过低"},
        {ServiceCode::kNoDirectory, "目录不存在"},
    };
    auto it = kTexts.find(nStatusCode);
    return it == kTexts.end() ? std::string() : it->second;
}

Json::Value StatusReply(int nStatusCode, const std::string& strMessage) {
    Json::Value reply(Json::objectValue);
    reply["status"] = 0;
    reply["statuscode"] = nStatusCode;
    reply["statusmsg"] = strMessage.empty() ? StatusText(nStatusCode) : strMessage;
    return reply;
}

std::string WriteJson(const Json::Value& value) {
    // a writer keeps state while it writes, so each thread has its own
    thread_local const std::unique_ptr<Json::StreamWriter> kWriter = [] {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        builder["emitUTF8"] = true;
        return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
    }();
    std::ostringstream out;
    kWriter->write(value, &out);
    return out.str();
}

}  // namespace standin

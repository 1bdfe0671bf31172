// Status texts and the JSON writer shared by every reply.
#include "ServiceReplies.h"

#include <map>
#include <memory>
#include <sstream>

namespace standin {

std::string StatusText(int nStatusCode) {
    static const std::map<int, std::string> kTexts = {
        {300, "mdVelmo碰撞"},  {400, "签名认证失败"},       {401, "用户身份异常"},
        {402, "参数错误"},     {403, "上传权限超时"},       {404, "range错误"},
        {405, "哈希不匹配"},   {410, "网盘空间不足"},       {411, "文件大小超过额度"},
        {412, "提取码不存在"}, {500, "服务器磁盘空间不足"}, {501, "上传服务器繁忙"},
        {502, "502未知错误"},  {600, "客户端版本过低"},     {10014, "目录不存在"},
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

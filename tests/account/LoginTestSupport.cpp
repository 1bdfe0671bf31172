// Canned replies for the scripted API host of the account tests.
#include "LoginTestSupport.h"

namespace accounttest {

std::string LoginReplyJson(const std::string& strOverrides) {
    // later keys win in the parser, so overrides go last
    std::string strJson =
        "{\"state\":true,\"error\":\"\",\"upload_allowed\":1,\"is_vip\":0,\"user_id\":\"7\","
        "\"user_name\":\"scripted\",\"face\":\"http://f/x.png\",\"email\":\"s@x\","
        "\"resource\":\"src\",\"userkey\":\"KEY\",\"url_upload\":\"http://u/up\","
        "\"url_resume\":\"http://u/re\",\"url_cancel\":\"http://u/ca\",\"target\":\"U_7_0\","
        "\"time_limit\":0,\"size_limit\":1000,"
        "\"space\":{\"byte_size_total\":1000,\"byte_size_used\":10,\"byte_size_remain\":990,"
        "\"size_used_percent\":\"1.00\",\"size_total\":\"1000B\",\"size_used\":\"10B\","
        "\"size_remain\":\"990B\"},\"type_limit\":[],\"file_range\":{}";
    if (!strOverrides.empty())
        strJson += "," + strOverrides;
    return strJson + "}";
}

void AccountTest::ScriptApiHost(const std::vector<std::string>& vBodies) {
    std::vector<velmotest::TestHttpServer::Behaviour> script;
    for (const std::string& strBody : vBodies)
        script.push_back(velmotest::TestHttpServer::Behaviour::Reply(
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
            std::to_string(strBody.size()) + "\r\nConnection: close\r\n\r\n" + strBody));
    m_pScripted.reset();
    m_pScripted.reset(new velmotest::TestHttpServer(script));
    LoginManager::SetApiHost("127.0.0.1:" + std::to_string(m_pScripted->Port()));
}

}  // namespace accounttest

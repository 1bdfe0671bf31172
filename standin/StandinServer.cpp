// Routes, fault rules and logging around the request handlers.
#include "StandinServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "AccountApi.h"
#include "ConnectionStream.h"
#include "FormFields.h"
#include "Pages.h"
#include "RawConnection.h"
#include "RequestGate.h"
#include "RequestLog.h"
#include "ServiceConstants.h"
#include "ServiceReplies.h"
#include "UploadApi.h"
#include "WorkerPool.h"

namespace standin {

namespace {

// Whether this thread's current request has had its log line (the error handler logs the rest).
thread_local bool t_bLogged = false;

const char kJsonType[] = "application/json; charset=utf-8";
const char kPiecePath[] = "/2.0/bigupload";
// The largest bodies a request may carry: one piece in its multipart envelope, or a form (a
// dispatch whose path has 64 directories of 255 bytes, percent-encoded, still fits).
const size_t kMaxPieceBody = static_cast<size_t>(_VelmoUpload::kPieceSize) + (16 << 10);
const size_t kMaxFormBody = 64 << 10;
// Stalls and kept-alive faults hold a worker each; a stalled client never does (the gate holds
// it), only a piece body that stops coming, for the read time-out.
const size_t kWorkers = 64;
const int kReadTimeoutMs = 30000;
const int kWriteTimeoutMs = 30000;

std::string PathOf(const httplib::Request& req) {
    return req.path.empty() ? "/" : req.path;
}

void Log(const httplib::Request& req, const std::string& strAccount,
         const std::string& strVerdict) {
    t_bLogged = true;
    RequestLog::Line(req.method, PathOf(req), strAccount, strVerdict);
}

bool IsLoopback(const std::string& strAddr) {
    return strAddr.compare(0, 4, "127.") == 0 || strAddr == "::1" ||
           strAddr.compare(0, 11, "::ffff:127.") == 0;
}

// Reads the request body through the library, at most nStopAfter bytes; false when it runs past
// nLimit, which only a chunked body can (the gate refuses a longer declared length). The
// Content-Type is hidden meanwhile: the library would otherwise parse forms and multipart bodies
// itself, and refuse forms over 8 KiB.
bool ReadBody(const httplib::Request& req, const httplib::ContentReader& reader,
              std::string& strBody, size_t nLimit, size_t nStopAfter = static_cast<size_t>(-1)) {
    strBody.clear();
    auto& mutableReq = const_cast<httplib::Request&>(req);
    std::string strContentType = req.get_header_value("Content-Type");
    mutableReq.headers.erase("Content-Type");
    bool bOverLimit = false;
    reader([&](const char* pData, size_t nData) {
        if (strBody.size() + nData > nLimit) {
            bOverLimit = true;
            return false;
        }
        if (strBody.size() + nData >= nStopAfter) {
            strBody.append(pData, nStopAfter - strBody.size());
            return false;
        }
        strBody.append(pData, nData);
        return true;
    });
    mutableReq.headers.emplace("Content-Type", strContentType);
    return !bOverLimit;
}

// A piece body straight from the connection in large reads: the library reads 4 KiB at a time,
// which costs more than both digests of the piece. The library has read none of the body yet;
// the gate validated the length. A reused buffer keeps its size, so only what it never held
// before is zeroed.
bool ReadPieceBody(const httplib::Request& req, const httplib::ContentReader& reader,
                   std::string& strBody) {
    ConnectionStream* pStream = ConnectionStream::Current();
    if (!pStream || !req.has_header("Content-Length") || req.has_header("Content-Encoding"))
        return ReadBody(req, reader, strBody, kMaxPieceBody);
    strBody.resize(std::stoull(req.get_header_value("Content-Length")));
    strBody.resize(pStream->ReadFully(&strBody[0], strBody.size()));
    return true;
}

bool Pause(double fSeconds, const std::atomic<bool>& bStopping) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long long>(fSeconds * 1000));
    while (std::chrono::steady_clock::now() < deadline) {
        if (bStopping)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string FaultStatusBody(const FaultRule& rule) {
    std::string strMessage =
        rule.strStatusMsg.empty() ? StatusText(rule.nStatusCode) : rule.strStatusMsg;
    Json::Value reply = StatusReply(rule.nStatusCode, strMessage);
    reply["state"] = false;
    reply["error"] = strMessage;
    return WriteJson(reply);
}

// An internal failure: the log line says what; the client gets the service's 502.
std::string ErrorBody() {
    Json::Value reply = StatusReply(ServiceCode::kInternal);
    reply["state"] = false;
    reply["error"] = StatusText(ServiceCode::kInternal);
    return WriteJson(reply);
}

// The account name and user id a request names, for matching fault rules.
void Identify(ServiceContext& ctx, const std::string& strKind, const FormFields& query,
              const FormFields& body, std::string& strAccount, std::string& strUserId) {
    Account account;
    if (strKind == "login") {
        strAccount = body.Get("account");
        if (ctx.store.Read([&](Records& rec) { return rec.AccountByName(strAccount, account); }))
            strUserId = std::to_string(account.nId);
        return;
    }
    strUserId = strKind == "token" || strKind == "space"
                    ? query.Get("user_id")
                    : (strKind == "dispatch" || strKind == "cancel" ? body.Get("userid")
                                                                    : query.Get("userid"));
    if (AccountByUserId(ctx, strUserId, account))
        strAccount = account.strName;
}

// One API request from start to end: fault rule, handler, reply, log line.
class ApiExchange {
public:
    ApiExchange(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res,
                const std::string& strKind)
        : m_ctx(ctx), m_req(req), m_res(res), m_strKind(strKind) {
        m_query = FormFields::Parse(QueryOf(req.target), {});
        m_pBody = strKind == "piece" ? ctx.pieceBodies.Take() : std::make_shared<std::string>();
    }

    const std::string& Body() const { return *m_pBody; }

    // Reads the body; for a piece the fault rule is taken first, so a drop can stop partway.
    void ReadRequest(const httplib::ContentReader* pReader, const std::vector<std::string>& vKeys) {
        if (m_strKind == "piece")
            TakeFault();
        if (pReader) {
            size_t nStop = static_cast<size_t>(-1);
            if (m_fault && m_fault->action == FaultAction::Drop) {
                std::string strLength = m_req.get_header_value("Content-Length");
                long long nLength =
                    strLength.empty() || strLength.size() > 12 ? 0 : std::stoll("0" + strLength);
                nStop = static_cast<size_t>(m_fault->nDropAfter >= 0 ? m_fault->nDropAfter
                                                                     : nLength / 2);
            }
            size_t nLimit = m_strKind == "piece" ? kMaxPieceBody : kMaxFormBody;
            if (m_strKind == "piece" && !m_fault)
                m_bTooLarge = !ReadPieceBody(m_req, *pReader, *m_pBody);
            else
                m_bTooLarge = !ReadBody(m_req, *pReader, *m_pBody, nLimit, nStop);
            if (m_strKind != "piece")
                m_body = FormFields::Parse(*m_pBody, vKeys);
        }
        if (m_strKind != "piece")
            TakeFault();
    }

    // Runs the handler unless a fault answers instead, then sends the reply.
    template <typename Handler>
    void Answer(Handler handler) {
        if (m_bTooLarge) {
            m_res.status = 413;
            Log(m_req, m_strAccount, "refused 413: body over the limit");
            return;
        }
        ApiResult result;
        bool bFull = false;
        std::string strFault;
        if (m_fault) {
            strFault = " [fault " + FaultActionName(m_fault->action) + "]";
            switch (m_fault->action) {
                case FaultAction::Drop:
                    DropConnection(Socket());
                    m_res.status = 200;
                    Log(m_req, m_strAccount, "dropped" + strFault);
                    return;
                case FaultAction::Stall:
                    if (!Pause(m_fault->fSeconds, m_ctx.bStopping)) {
                        DropConnection(Socket());
                        Log(m_req, m_strAccount, "stopping" + strFault);
                        return;
                    }
                    break;
                case FaultAction::Status:
                    Send(FaultStatusBody(*m_fault),
                         "status " + std::to_string(m_fault->nStatusCode) + strFault);
                    return;
                case FaultAction::Full:
                    bFull = true;
                    break;
                default:
                    break;
            }
        }
        try {
            result = handler(m_query, m_body, bFull);
        } catch (const std::exception& e) {
            result = ApiResult{ErrorBody(), m_strAccount, m_strUserId,
                               std::string("error: ") + e.what()};
        } catch (...) {
            result = ApiResult{ErrorBody(), m_strAccount, m_strUserId, "error: unknown"};
        }
        if (!result.strAccount.empty())
            m_strAccount = result.strAccount;
        Send(result.strBody, result.strVerdict + strFault);
    }

private:
    void TakeFault() {
        if (m_ctx.faults.Pending() == 0)
            return;  // the usual case: no need to look the account up
        Identify(m_ctx, m_strKind, m_query, m_body, m_strAccount, m_strUserId);
        m_fault = m_ctx.faults.Take(m_strKind, m_strAccount, m_strUserId);
    }

    static int Socket() {
        ConnectionStream* pStream = ConnectionStream::Current();
        return pStream ? pStream->socket() : -1;
    }

    void Send(const std::string& strBody, const std::string& strVerdict) {
        m_res.status = 200;
        if (m_fault && (m_fault->action == FaultAction::Chunked ||
                        m_fault->action == FaultAction::KeepAlive)) {
            int fd = Socket();
            if (fd >= 0) {
                Log(m_req, m_strAccount, strVerdict);
                if (m_fault->action == FaultAction::Chunked)
                    SendChunkedReply(fd, strBody, m_fault->nChunks, m_fault->nPauseMs,
                                     m_ctx.bStopping);
                else
                    SendKeptAliveReply(fd, strBody, m_fault->fSeconds > 0 ? m_fault->fSeconds : 10,
                                       m_ctx.bStopping);
                return;
            }
        }
        m_res.set_content(strBody, kJsonType);
        Log(m_req, m_strAccount, strVerdict);
    }

    ServiceContext& m_ctx;
    const httplib::Request& m_req;
    httplib::Response& m_res;
    std::string m_strKind;
    FormFields m_query;
    FormFields m_body;
    std::shared_ptr<std::string> m_pBody;  // a piece's comes from the reused buffers
    std::string m_strAccount;
    std::string m_strUserId;
    std::optional<FaultRule> m_fault;
    bool m_bTooLarge = false;
};

void AdminReply(const httplib::Request& req, httplib::Response& res, int nStatus,
                const Json::Value& reply, const std::string& strVerdict) {
    res.status = nStatus;
    res.set_content(WriteJson(reply), kJsonType);
    Log(req, "", strVerdict);
}

// The library's accept loop runs each connection's task at once, on its own thread: the task
// only hands the socket to the gate.
class ImmediateQueue : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override {}
};

}  // namespace

// The library binds, accepts and routes; the gate and the workers stand between accepting a
// connection and routing its request.
class GatedServer : public httplib::Server {
public:
    std::function<void(int)> admit;

    // The library listens with a backlog of 5: a burst of connections beyond it, parallel
    // uploads or stalled clients arriving together, would wait out a second each for the
    // handshake to be repeated. Listening again widens it.
    bool WidenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }

    // The one request of a gathered connection; its reply closes the connection, as the client
    // reads every reply until the server closes (the fault control's kept-alive replies are
    // written by hand).
    void Serve(int fd, std::string strRead) {
        ConnectionStream stream(fd, std::move(strRead), kReadTimeoutMs, kWriteTimeoutMs);
        bool bClosed = false;
        process_request(stream, true, bClosed, nullptr);
    }

private:
    bool process_and_close_socket(int sock) override {
        admit(sock);
        return true;
    }
};

StandinServer::StandinServer(const Options& opts) : m_pServer(new GatedServer) {
    m_ctx.opts = opts;
    auto bodyLimit = [](const std::string&, const std::string& strPath) {
        return strPath == kPiecePath ? kMaxPieceBody : kMaxFormBody;
    };
    m_pGate.reset(new RequestGate(GateLimits(), bodyLimit, [this](int fd, std::string strRead) {
        m_pWorkers->Add(fd, std::move(strRead));
    }));
    m_pWorkers.reset(new WorkerPool(
        kWorkers, [this](int fd, std::string strRead) { m_pServer->Serve(fd, std::move(strRead)); },
        [this](int fd) { m_pGate->Linger(fd); }));
    m_pServer->admit = [this](int fd) { m_pGate->Admit(fd); };
    m_pServer->new_task_queue = [] { return new ImmediateQueue; };
}

StandinServer::~StandinServer() {
    // each calls the other: both stop before either goes
    m_pGate->Stop();
    m_pWorkers->Stop();
}

bool StandinServer::Start(std::string& strError) {
    try {
        if (!m_ctx.files.Open(m_ctx.opts.strDataDir)) {
            strError = "cannot create the data folder " + m_ctx.opts.strDataDir;
            return false;
        }
        m_ctx.store.Open(m_ctx.opts.strDataDir + "/standin.db");
        SetUpAccounts();
        RecoverUploads(m_ctx);
    } catch (const std::exception& e) {
        strError = e.what();
        return false;
    }
    if (!m_pGate->Start(strError))
        return false;
    m_pWorkers->Start();
    SetUpRoutes();
    if (m_ctx.opts.nPort == 0) {
        m_nPort = m_pServer->bind_to_any_port(m_ctx.opts.strBind);
    } else {
        m_nPort = m_ctx.opts.nPort;
        if (!m_pServer->bind_to_port(m_ctx.opts.strBind, m_nPort))
            m_nPort = -1;
    }
    if (m_nPort <= 0 || !m_pServer->WidenBacklog()) {
        strError =
            "cannot listen on " + m_ctx.opts.strBind + ":" + std::to_string(m_ctx.opts.nPort);
        return false;
    }
    m_ctx.strPublicUrl = m_ctx.opts.strPublicUrl;
    if (m_ctx.strPublicUrl.empty()) {
        // a wildcard address is no place to send a client; loopback is the one sure to work
        std::string strHost = m_ctx.opts.strBind;
        if (strHost == "0.0.0.0" || strHost.empty())
            strHost = "127.0.0.1";
        else if (strHost == "::")
            strHost = "[::1]";
        else if (strHost.find(':') != std::string::npos)
            strHost = "[" + strHost + "]";
        m_ctx.strPublicUrl = "http://" + strHost + ":" + std::to_string(m_nPort);
    }
    return true;
}

std::string StandinServer::ListenUrl() const {
    std::string strHost = m_ctx.opts.strBind;
    if (strHost.find(':') != std::string::npos)
        strHost = "[" + strHost + "]";
    return "http://" + strHost + ":" + std::to_string(m_nPort);
}

void StandinServer::Run() {
    m_pServer->listen_after_bind();
    m_pGate->Stop();
    m_pWorkers->Stop();
}

void StandinServer::Stop() {
    m_ctx.bStopping = true;
    m_pServer->stop();
}

void StandinServer::SetUpAccounts() {
    std::vector<std::pair<std::string, std::string>> vUsers = m_ctx.opts.vUsers;
    if (vUsers.empty())
        vUsers.emplace_back("demo", "demo");
    m_ctx.store.Transact([&](Records& rec) {
        for (const auto& user : vUsers)
            rec.PutAccount(user.first, user.second, RandomToken(32));
        return true;
    });
}

namespace {

// Every request gets one log line: those no route answered are logged here.
void SetUpErrorHandlers(httplib::Server& svr) {
    svr.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        t_bLogged = false;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    svr.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (res.body.empty())
            res.set_content("HTTP " + std::to_string(res.status) + "\n", "text/plain");
        if (!t_bLogged)
            Log(req, "", "http " + std::to_string(res.status));
    });
    svr.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
            std::string strWhat = "unknown";
            try {
                if (ep)
                    std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                strWhat = e.what();
            } catch (...) {
            }
            res.status = 500;
            res.set_content(ErrorBody(), kJsonType);
            Log(req, "", "error: " + strWhat);
        });
}

// The service's API: login, token, space, the dispatch URLs, check and piece.
void SetUpApiRoutes(httplib::Server& svr, ServiceContext& ctx) {
    svr.Post("/app/clogin", [&ctx](const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
        ApiExchange ex(ctx, req, res, "login");
        ex.ReadRequest(&reader, {"account", "_time", "version", "sign"});
        ex.Answer([&](const FormFields&, const FormFields& body, bool bFull) {
            return HandleLogin(ctx, body, bFull);
        });
    });
    svr.Get("/app/user/login", [&ctx](const httplib::Request& req, httplib::Response& res) {
        ApiExchange ex(ctx, req, res, "token");
        ex.ReadRequest(nullptr, {});
        ex.Answer([&](const FormFields& query, const FormFields&, bool) {
            return HandleToken(ctx, query);
        });
    });
    svr.Get("/app/user/space", [&ctx](const httplib::Request& req, httplib::Response& res) {
        ApiExchange ex(ctx, req, res, "space");
        ex.ReadRequest(nullptr, {});
        ex.Answer([&](const FormFields& query, const FormFields&, bool bFull) {
            return HandleSpace(ctx, query, bFull);
        });
    });
    const std::pair<const char*, DispatchUrl> kDispatchRoutes[] = {
        {"/files/upload", DispatchUrl::Upload},
        {"/files/resume", DispatchUrl::Resume},
        {"/files/cancel", DispatchUrl::Cancel},
    };
    for (const auto& route : kDispatchRoutes) {
        DispatchUrl url = route.second;
        svr.Post(route.first, [&ctx, url](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& reader) {
            ApiExchange ex(ctx, req, res, url == DispatchUrl::Cancel ? "cancel" : "dispatch");
            ex.ReadRequest(&reader, kDispatchBodyKeys);
            ex.Answer([&](const FormFields& query, const FormFields& body, bool bFull) {
                return HandleDispatch(ctx, url, query, body, bFull);
            });
        });
    }
    svr.Get("/2.0/check", [&ctx](const httplib::Request& req, httplib::Response& res) {
        ApiExchange ex(ctx, req, res, "check");
        ex.ReadRequest(nullptr, {});
        ex.Answer([&](const FormFields& query, const FormFields&, bool bFull) {
            if (bFull)
                return ApiResult{WriteJson(StatusReply(ServiceCode::kNoSpace)), "", "",
                                 "refused 410: full"};
            return HandleCheck(ctx, query);
        });
    });
    svr.Post("/2.0/bigupload", [&ctx](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& reader) {
        ApiExchange ex(ctx, req, res, "piece");
        ex.ReadRequest(&reader, {});
        std::string strContentType = req.get_header_value("Content-Type");
        ex.Answer([&](const FormFields& query, const FormFields&, bool bFull) {
            return HandlePiece(ctx, query, strContentType, ex.Body(), bFull);
        });
    });
}

// The web pages the client opens, and the account's picture.
void SetUpPageRoutes(httplib::Server& svr, ServiceContext& ctx) {
    svr.Get("/", [&ctx](const httplib::Request& req, httplib::Response& res) {
        FormFields query = FormFields::Parse(QueryOf(req.target), {});
        try {
            res.set_content(PageHtml(ctx, query.Get("ct"), query.Get("user_id")),
                            "text/html; charset=utf-8");
            Log(req, "", "page " + (query.Has("ct") ? query.Get("ct") : std::string("home")));
        } catch (const std::exception& e) {
            res.status = 500;
            res.set_content("internal error\n", "text/plain");
            Log(req, "", std::string("error: ") + e.what());
        }
    });
    svr.Get("/face.png", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(FacePng(), "image/png");
        Log(req, "", "picture");
    });
}

// The fault control: adds a fault rule, or (bReset) clears them and, with "all=1", every stored
// file.
void ServeControl(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res,
                  const httplib::ContentReader& reader, bool bReset) {
    std::string strBody;
    Json::Value reply(Json::objectValue);
    if (!ReadBody(req, reader, strBody, kMaxFormBody)) {
        res.status = 413;
        Log(req, "", "refused 413: body over the limit");
        return;
    }
    if (!IsLoopback(req.remote_addr)) {
        reply["state"] = false;
        reply["error"] = "fault control answers loopback only";
        AdminReply(req, res, 403, reply, "refused: not loopback");
        return;
    }
    std::string strParams = QueryOf(req.target);
    if (!strBody.empty())
        strParams += (strParams.empty() ? "" : "&") + strBody;
    FormFields params = FormFields::Parse(strParams, {});
    if (bReset) {
        ctx.faults.Clear();
        bool bAll = params.Get("all") == "1";
        if (bAll) {
            ctx.store.Transact([](Records& rec) {
                rec.ClearContent();
                return true;
            });
            ctx.files.Clear();
        }
        reply["state"] = true;
        AdminReply(req, res, 200, reply, bAll ? "reset all" : "reset faults");
        return;
    }
    FaultRule rule;
    std::string strError;
    if (!ParseFaultRule(params, rule, strError)) {
        reply["state"] = false;
        reply["error"] = strError;
        AdminReply(req, res, 400, reply, "refused: " + strError);
        return;
    }
    ctx.faults.Add(rule);
    reply["state"] = true;
    reply["pending"] = static_cast<Json::UInt64>(ctx.faults.Pending());
    AdminReply(req, res, 200, reply,
               "fault " + FaultActionName(rule.action) + " on " + rule.strOn + " x" +
                   std::to_string(rule.nCount));
}

void SetUpControlRoutes(httplib::Server& svr, ServiceContext& ctx) {
    svr.Post("/_standin/fault", [&ctx](const httplib::Request& req, httplib::Response& res,
                                       const httplib::ContentReader& reader) {
        ServeControl(ctx, req, res, reader, false);
    });
    svr.Post("/_standin/reset", [&ctx](const httplib::Request& req, httplib::Response& res,
                                       const httplib::ContentReader& reader) {
        ServeControl(ctx, req, res, reader, true);
    });
}

}  // namespace

void StandinServer::SetUpRoutes() {
    httplib::Server& svr = *m_pServer;
    ServiceContext& ctx = m_ctx;
    svr.set_tcp_nodelay(true);
    svr.set_payload_max_length(kMaxPieceBody);
    // bounds each blocking send, the fault control's hand-written replies' too
    svr.set_write_timeout(kWriteTimeoutMs / 1000, 0);

    SetUpErrorHandlers(svr);
    SetUpApiRoutes(svr, ctx);
    SetUpPageRoutes(svr, ctx);
    SetUpControlRoutes(svr, ctx);
}

}  // namespace standin

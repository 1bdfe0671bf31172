// Pieces: range, digest, signature and body are each verified, and the whole content; bad framing,
// oversized and stalled clients get their answer at once; another account's pick code is unknown.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "ServiceClient.h"

namespace standintest {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class StandinPieceTest : public LoggedInTest {};

TEST_F(StandinPieceTest, RefusesBadRangeDigestSignatureAndBody) {
    Content content = Make(kPiece + 500, 12);
    Ticket ticket = Start(content);
    EXPECT_EQ(404, Client().Piece(ticket, content, kPiece).StatusCode());  // nothing held yet
    const struct {
        std::string PieceSpoil::*pField;
        std::string strValue;
        int nCode;
    } kSpoils[] = {
        {&PieceSpoil::strRange, "0-1000", 404},
        {&PieceSpoil::strRange, "zero-many", 402},
        {&PieceSpoil::strHash, std::string(40, '0'), 405},
        {&PieceSpoil::strSig, std::string(40, 'F'), 400},
        {&PieceSpoil::strFileName, "otherpick", 402},
        {&PieceSpoil::strFileId, std::string(40, 'C'), 402},
    };
    for (const auto& bad : kSpoils) {
        PieceSpoil spoil;
        spoil.*bad.pField = bad.strValue;
        EXPECT_EQ(bad.nCode, Client().Piece(ticket, content, 0, spoil).StatusCode())
            << bad.strValue;
    }
    Ticket wrongSize = ticket;
    wrongSize.nFileSize += 1;
    EXPECT_EQ(402, Client().Check(wrongSize).StatusCode());
    EXPECT_EQ(400, Client().Check(ticket, std::string(40, 'F')).StatusCode());

    const std::string strPath = "/2.0/bigupload" + Client().UploadQuery(ticket, "");
    EXPECT_EQ(402, Exchange(StandinPort(), PostRequest(strPath, "x=1")).StatusCode());
    Reply truncated = Exchange(
        StandinPort(),
        PostRequest(strPath, "--b\r\nContent-Disposition: form-data; name=\"fileid\"\r\n\r\n",
                    "multipart/form-data; boundary=b"));
    EXPECT_EQ(402, truncated.StatusCode());

    // after all that the upload still stands at 0 and takes the right pieces
    EXPECT_EQ(0, Client().Check(ticket).json["offset"].asInt64());
    EXPECT_EQ(0, Client().UploadAll(ticket, content).StatusCode());
}

// Every piece is sound on its own; only the whole, checked against the SHA-1 or, when the
// dispatch gave the quick digest alone, against that, gives the lie away.
TEST_F(StandinPieceTest, ContentThatDiffersFromTheDispatchedDigestIsDiscarded) {
    Content content = Make(kPiece + 7, 13);
    for (bool bQuickOnly : {false, true}) {
        FileAsk ask = AskFor(Make(kPiece + 7, bQuickOnly ? 15 : 14), bQuickOnly ? "q" : "s");
        if (bQuickOnly)
            ask.strFileId = "";
        Ticket ticket = Start(ask);
        EXPECT_EQ(0, Client().Piece(ticket, content, 0).StatusCode());
        Reply last = Client().Piece(ticket, content, kPiece);
        EXPECT_EQ(405, last.StatusCode()) << last.strBody;
        EXPECT_EQ("哈希不匹配", last.json["statusmsg"].asString());
        EXPECT_EQ(412, Client().Check(ticket).StatusCode());
    }
    EXPECT_FALSE(Listed(content.strSha1));
}

// A POST without a length has an empty body on every route; every reply closes its connection,
// even a piece's, whose request asks to keep it alive.
TEST_F(StandinPieceTest, MisframedOversizedAndLengthlessRequestsAreAnsweredAtOnceAndClosed) {
    Content content = Make(1000, 17);
    Reply piece = Client().Piece(Start(content), content, 0);
    EXPECT_EQ(0, piece.StatusCode());
    EXPECT_TRUE(piece.bServerClosed);
    EXPECT_EQ("close", piece.Header("Connection"));

    std::string strLongHead = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 200; ++i)
        strLongHead += "X-Filler-" + std::to_string(i) + ": " + std::string(90, 'f') + "\r\n";
    std::string strChunked;
    for (int i = 0; i < 20; ++i)
        strChunked += "1000\r\n" + std::string(4096, 'c') + "\r\n";
    const std::string strPost = "POST /files/upload HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    struct Case {
        std::string strWhat, strRequest;
        int nStatus;
    };
    std::vector<Case> cases = {
        {"head over 16 KiB", strLongHead + "\r\n", 431},
        {"head that never ends", strLongHead, 431},
        {"piece over 1 MiB and its envelope",
         "POST /2.0/bigupload HTTP/1.1\r\nContent-Length: 104857600\r\n\r\n" +
             std::string(65536, 'p'),
         413},
        {"form over 64 KiB", strPost + "Content-Length: 70000\r\n\r\n", 413},
        {"chunked form over 64 KiB",
         strPost + "Transfer-Encoding: chunked\r\n\r\n" + strChunked + "0\r\n\r\n", 413},
        {"two lengths", strPost + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", 400},
        {"length and chunks", strPost + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
         400},
        {"length not a number", strPost + "Content-Length: 1e3\r\n\r\n", 400},
        {"no request line", "GARBAGE\r\n\r\n", 400},
        {"bad escapes", PostRequest("/files/upload?sig=%zz%", "userid=%%%&&&===", "text/plain"),
         200},
        {"empty boundary",
         PostRequest("/2.0/bigupload?userid=1", "--x--", "multipart/form-data; boundary="), 200},
    };
    const std::pair<const char*, int> kRoutes[] = {
        {"/app/clogin", 200},     {"/files/upload", 200},  {"/files/resume", 200},
        {"/files/cancel", 200},   {"/2.0/bigupload", 200}, {"/_standin/fault", 400},
        {"/_standin/reset", 200}, {"/nowhere", 404},
    };
    for (const auto& route : kRoutes)
        cases.push_back(
            {route.first,
             std::string("POST ") + route.first + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
             route.second});
    for (const Case& c : cases) {
        auto start = Clock::now();
        Reply reply = Exchange(StandinPort(), c.strRequest);
        EXPECT_LT(MsSince(start), 1000) << c.strWhat;
        EXPECT_EQ(c.nStatus, reply.nHttpStatus) << c.strWhat;
        EXPECT_TRUE(reply.bComplete && reply.bServerClosed) << c.strWhat;
        EXPECT_EQ("close", reply.Header("Connection")) << c.strWhat;
    }

    // the longest dispatch there is, 64 directories of 254-byte names percent-encoded, is a form
    // the service still takes
    FileAsk ask = AskFor(Make(1000, 40));
    std::string strName;
    for (int i = 0; i < 127; ++i)
        strName += "\xc3\xa9";
    for (int i = 0; i < 64; ++i)
        ask.strPath += strName + "/";
    Reply longForm = Client().Dispatch(ask, true);
    EXPECT_EQ(200, longForm.nHttpStatus);
    EXPECT_EQ(0, longForm.StatusCode()) << longForm.strHead;
    std::string strTarget = longForm.json["target"].asString();
    EXPECT_EQ(64, std::count(strTarget.begin(), strTarget.end(), '/'));
}

TEST_F(StandinPieceTest, StalledClientsHoldNobodyUpAndAreClosedInTime) {
    const std::string strPart = "POST /2.0/bigupload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Le";
    std::vector<int> vStalled;
    for (int i = 0; i < 50; ++i) {
        int fd = Connect(StandinPort());
        ASSERT_GE(fd, 0);
        vStalled.push_back(fd);
        ASSERT_TRUE(SendAll(fd, strPart));
    }

    auto start = Clock::now();
    Relogin();  // a login, a dispatch and every piece while they wait
    Content content = Make(300000, 44);
    EXPECT_EQ(0, Client().UploadAll(Start(content), content).StatusCode());
    EXPECT_LT(MsSince(start), 3000);

    for (int fd : vStalled) {
        Reply told = ReadReply(fd, 10000);
        EXPECT_EQ(408, told.nHttpStatus);
        EXPECT_TRUE(told.bServerClosed);
    }
    EXPECT_LT(MsSince(start), 8000);
}

TEST_F(StandinPieceTest, PickCodeOfAnotherAccountIsRefusedOnCheckPieceResumeAndCancel) {
    Content content = Make(kPiece + 100, 41), small = Make(1000, 42);
    Ticket unfinished = Start(content, "open.bin");
    ASSERT_EQ(0, Client().Piece(unfinished, content, 0).StatusCode());
    Ticket stored = Start(small, "done.bin");
    ASSERT_EQ(0, Client().UploadAll(stored, small).StatusCode());
    Ticket unknown = unfinished;
    unknown.strPickCode = "nosuchcode";

    // bob signs each request properly, even with alice's upload key, as if it had leaked
    ServiceClient bob(StandinPort());
    ASSERT_TRUE(bob.Login("bob", "builder").json["state"].asBool());
    auto dispatch = [&](const Ticket& ticket, bool bCancel) {
        FileAsk ask = AskFor(content);
        ask.strPickCode = ticket.strPickCode;
        return bob.Dispatch(ask, false, bCancel);
    };
    const std::pair<const char*, std::function<Reply(const Ticket&)>> kRequests[] = {
        {"check", [&](const Ticket& ticket) { return bob.Check(ticket); }},
        {"piece", [&](const Ticket& ticket) { return bob.Piece(ticket, content, kPiece); }},
        {"resume", [&](const Ticket& ticket) { return dispatch(ticket, false); }},
        {"cancel", [&](const Ticket& ticket) { return dispatch(ticket, true); }},
    };
    for (const Ticket* pTicket : {&unfinished, &stored, &unknown}) {
        for (const auto& request : kRequests) {
            Reply reply = request.second(*pTicket);
            EXPECT_EQ(412, reply.StatusCode()) << request.first << " " << reply.strBody;
            EXPECT_EQ("提取码不存在", reply.json["statusmsg"].asString()) << request.first;
        }
    }

    EXPECT_EQ(kPiece, Client().Check(unfinished).json["offset"].asInt64());
    EXPECT_EQ(0, Client().UploadAll(unfinished, content).StatusCode());
    EXPECT_TRUE(Listed(small.strSha1));
    EXPECT_TRUE(Listed(content.strSha1));
}

}  // namespace
}  // namespace standintest

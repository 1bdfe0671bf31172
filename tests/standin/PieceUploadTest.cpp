// Pieces: range, piece digest, signature and body are each verified; the whole content must
// match the dispatched digests; what was stored shows on the home page.
#include <gtest/gtest.h>

#include "LoggedInTest.h"
#include "TestHome.h"

namespace standintest {
namespace {

class StandinPieceTest : public LoggedInTest {};

TEST_F(StandinPieceTest, WholeFileIsStoredAndListedWithSizeAndSha1) {
    Content content = Make(2 * 1048576 + 1, 11);
    Ticket ticket = Start(content, "photo.jpg", "holiday");
    Reply last = Client().UploadAll(ticket, content);
    EXPECT_EQ(0, last.StatusCode()) << last.strBody;
    EXPECT_TRUE(last.json["offset"].isNumeric());
    EXPECT_EQ(2 * 1048576 + 1, last.json["offset"].asInt64());
    EXPECT_EQ(ticket.nFileSize, Client().Check(ticket).json["offset"].asInt64());

    std::string strStored = velmotest::ReadFile(
        StandinDataDir() + "/content/" + content.strSha1.substr(0, 2) + "/" + content.strSha1);
    EXPECT_TRUE(strStored == content.strData);
    std::string strPage = Exchange(StandinPort(), GetRequest("/")).strBody;
    size_t nRow = strPage.find("/holiday/photo.jpg");
    ASSERT_NE(std::string::npos, nRow) << strPage;
    EXPECT_NE(std::string::npos, strPage.find(std::to_string(content.strData.size()), nRow));
    EXPECT_NE(std::string::npos, strPage.find(content.strSha1, nRow));
    EXPECT_NE(std::string::npos, strPage.find("alice"));
}

TEST_F(StandinPieceTest, RefusesBadRangeDigestSignatureAndBody) {
    Content content = Make(1048576 + 500, 12);
    Ticket ticket = Start(content);
    auto code = [&](long long nOffset, const PieceSpoil& spoil) {
        return Client().Piece(ticket, content, nOffset, spoil).StatusCode();
    };
    PieceSpoil spoil;
    EXPECT_EQ(404, code(1048576, spoil));  // the upload holds nothing yet
    spoil.strRange = "0-1000";
    EXPECT_EQ(404, code(0, spoil));
    spoil = PieceSpoil();
    spoil.strRange = "zero-many";
    EXPECT_EQ(402, code(0, spoil));
    spoil = PieceSpoil();
    spoil.strHash = std::string(40, '0');
    EXPECT_EQ(405, code(0, spoil));
    spoil = PieceSpoil();
    spoil.strSig = std::string(40, 'F');
    EXPECT_EQ(400, code(0, spoil));
    spoil = PieceSpoil();
    spoil.strFileName = "otherpick";
    EXPECT_EQ(402, code(0, spoil));
    spoil = PieceSpoil();
    spoil.strFileId = std::string(40, 'C');
    EXPECT_EQ(402, code(0, spoil));

    Ticket stranger = ticket;
    stranger.strPickCode = "nosuchcode";
    EXPECT_EQ(412, Client().Piece(stranger, content, 0).StatusCode());
    Ticket wrongSize = ticket;
    wrongSize.nFileSize += 1;
    EXPECT_EQ(402, Client().Check(wrongSize).StatusCode());
    EXPECT_EQ(400, Client().Check(ticket, std::string(40, 'F')).StatusCode());

    std::string strQuery = Client().UploadQuery(ticket, "");
    Reply notMultipart = Exchange(StandinPort(), PostRequest("/2.0/bigupload" + strQuery, "x=1"));
    EXPECT_EQ(402, notMultipart.StatusCode());
    Reply truncated = Exchange(
        StandinPort(), PostRequest("/2.0/bigupload" + strQuery,
                                   "--b\r\nContent-Disposition: form-data; name=\"fileid\"\r\n\r\n",
                                   "multipart/form-data; boundary=b"));
    EXPECT_EQ(402, truncated.StatusCode());

    // after all that the upload still stands at 0 and takes the right pieces
    EXPECT_EQ(0, Client().Check(ticket).json["offset"].asInt64());
    EXPECT_EQ(0, Client().UploadAll(ticket, content).StatusCode());
}

TEST_F(StandinPieceTest, ContentThatDiffersFromTheDispatchedDigestIsDiscarded) {
    Content content = Make(1048576 + 7, 13);
    Content claimed = Make(1048576 + 7, 14);
    FileAsk ask = AskFor(claimed);
    Reply dispatch = Client().Dispatch(ask);
    ASSERT_EQ(0, dispatch.StatusCode());
    Ticket ticket = ServiceClient::TicketOf(dispatch, ask);
    // every piece is sound on its own; only the whole gives the lie away
    EXPECT_EQ(0, Client().Piece(ticket, content, 0).StatusCode());
    Reply last = Client().Piece(ticket, content, 1048576);
    EXPECT_EQ(405, last.StatusCode()) << last.strBody;
    EXPECT_EQ("哈希不匹配", last.json["statusmsg"].asString());
    EXPECT_EQ(412, Client().Check(ticket).StatusCode());
    EXPECT_EQ(std::string::npos,
              Exchange(StandinPort(), GetRequest("/")).strBody.find(content.strSha1));
}

TEST_F(StandinPieceTest, QuickDigestOnlyUploadIsCheckedAgainstItsQuickDigest) {
    Content content = Make(300000, 15);
    FileAsk ask = AskFor(content, "quick.bin");
    ask.strFileId = "";
    Ticket ticket = ServiceClient::TicketOf(Client().Dispatch(ask), ask);
    ASSERT_FALSE(ticket.strPickCode.empty());
    EXPECT_EQ(0, Client().UploadAll(ticket, content).StatusCode());
    EXPECT_NE(std::string::npos,
              Exchange(StandinPort(), GetRequest("/")).strBody.find(content.strSha1));

    Content other = Make(300000, 16);
    FileAsk wrong = AskFor(other, "wrong.bin");
    wrong.strFileId = "";
    Ticket wrongTicket = ServiceClient::TicketOf(Client().Dispatch(wrong), wrong);
    EXPECT_EQ(405, Client().UploadAll(wrongTicket, content).StatusCode());
}

TEST_F(StandinPieceTest, EveryReplyClosesItsConnectionEvenWhenAskedToKeepItAlive) {
    Reply page = Exchange(StandinPort(), GetRequest("/", "Connection: keep-alive\r\n"), 3000);
    EXPECT_TRUE(page.bServerClosed);
    EXPECT_EQ("close", page.Header("Connection"));
    Content content = Make(1000, 17);
    Reply piece = Client().Piece(Start(content), content, 0);  // sends Connection: Keep-Alive
    EXPECT_EQ(0, piece.StatusCode());
    EXPECT_TRUE(piece.bServerClosed);
    EXPECT_EQ("close", piece.Header("Connection"));
}

TEST_F(StandinPieceTest, LongFormBodiesAndGarbageGetAnswersNotCrashes) {
    Content content = Make(1000, 18);
    FileAsk ask = AskFor(content);
    for (int i = 0; i < 60; ++i)
        ask.strPath += std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i) + "/";
    Reply longForm = Client().Dispatch(ask);
    EXPECT_EQ(200, longForm.nHttpStatus);
    EXPECT_EQ(0, longForm.StatusCode()) << longForm.strHead;

    for (const std::string& strJunk :
         {std::string("GARBAGE\r\n\r\n"),
          std::string("POST /2.0/bigupload HTTP/1.1\r\n"
                      "Content-Length: 5\r\n\r\nab"),
          PostRequest("/files/upload?sig=%zz%", "userid=%%%&&&===", "text/plain"),
          PostRequest("/2.0/bigupload?userid=1", "--x--", "multipart/form-data; boundary=")})
        Exchange(StandinPort(), strJunk, 300);
    EXPECT_EQ(200, Exchange(StandinPort(), GetRequest("/")).nHttpStatus);
}

}  // namespace
}  // namespace standintest

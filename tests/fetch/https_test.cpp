#include <gtest/gtest.h>

#include "fetch_fixture.h"
#include "geo/tile_key.h"
#include "support/test_certificate.h"

namespace {

// The TLS server trusts nothing of the system's: the test's CA is handed to
// the request through FetchOptions, the way only a test does it.
class HttpsTest : public FetchTest {
  protected:
    HttpsTest() : Certs(MakeTestCertificates()), Tls({Certs.ServerCertPem, Certs.ServerKeyPem}) {}

    void TrustCa(const std::string& caPem) {
        ASSERT_TRUE(Keys.WriteFile("ca.pem", caPem));
        FetchOptions options = GetFetchOptions();
        options.CaFile = Keys.File("ca.pem");
        SetFetchOptions(options);
    }

    // A record for the tile, its URL from a template on the TLS server.
    jtype TemplateTile(const std::string& letters) const {
        jtype tile;
        tile.TileName = letters;
        tile.Url = TileUrl(Tls.Url("/{z}/{x}/{y}.jpg"), letters);
        tile.FileName = Cache.Path() + letters + ".jpg";
        return tile;
    }

    TestCertificates Certs;
    HttpScriptServer Tls;
    TempDir Keys;
};

TEST_F(HttpsTest, ATemplateOverHttpsSendsTheSpecifiedLinesAndStoresUnderTheLetters) {
    TrustCa(Certs.CaPem);
    const std::string body = MakeTileJpeg(256, 256, 4000);
    Tls.Push(ScriptedAnswer::Ok(body));
    Tls.Push(ScriptedAnswer::Ok(body, false));  // delimited by the end of the TLS stream
    for (const char* letters : {"rts", "qqqq"}) {
        jtype tile = TemplateTile(letters);
        std::string status;
        EXPECT_EQ(RequestTile(State, tile, false, status), RequestOutcome::Stored) << letters;
        EXPECT_EQ(Cache.ReadFile(std::string(letters) + ".jpg"), body) << letters;
    }
    const auto requests = Tls.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string tail = " HTTP/1.1\r\nHost: " + Tls.HostPort() +
                             "\r\nAccept: text/html, */*\r\n"
                             "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";
    EXPECT_EQ(requests[0], "GET /3/5/3.jpg" + tail);
    EXPECT_EQ(requests[1], "GET /4/0/0.jpg" + tail);
    EXPECT_EQ(Received(), 2 * static_cast<int64_t>(body.size()));
}

TEST_F(HttpsTest, AServerWhoseCertificateIsNotTrustedGetsNoRequest) {
    // A CA that did not sign the server's certificate.
    TrustCa(MakeTestCertificates().CaPem);
    Tls.Push(ScriptedAnswer::Ok(MakeTileJpeg()));
    jtype tile = TemplateTile("rts");
    std::string status;
    EXPECT_EQ(RequestTile(State, tile, false, status), RequestOutcome::RequestFailed);
    EXPECT_EQ(status, "");
    EXPECT_TRUE(Tls.Requests().empty());
    EXPECT_FALSE(Cache.Exists("rts.jpg"));
    EXPECT_EQ(Received(), 0);
}

TEST_F(HttpsTest, TheSystemStoreDoesNotTrustTheTestCa) {
    Tls.Push(ScriptedAnswer::Ok(MakeTileJpeg()));
    jtype tile = TemplateTile("q");
    std::string status;
    EXPECT_EQ(RequestTile(State, tile, false, status), RequestOutcome::RequestFailed);
    EXPECT_TRUE(Tls.Requests().empty());
}

TEST_F(HttpsTest, ACertificateForAnotherHostIsRefused) {
    const TestCertificates other = MakeTestCertificates({"DNS:tiles.example"});
    HttpScriptServer wrongHost(TlsIdentity{other.ServerCertPem, other.ServerKeyPem});
    TrustCa(other.CaPem);
    wrongHost.Push(ScriptedAnswer::Ok(MakeTileJpeg()));
    jtype tile = TemplateTile("q");
    tile.Url = TileUrl(wrongHost.Url("/{z}/{x}/{y}.jpg"), "q");
    std::string status;
    EXPECT_EQ(RequestTile(State, tile, false, status), RequestOutcome::RequestFailed);
    EXPECT_TRUE(wrongHost.Requests().empty());
}

TEST_F(HttpsTest, ErrorAnswersOverTlsKeepTheirStatusText) {
    TrustCa(Certs.CaPem);
    Tls.Push(ScriptedAnswer::Status(404, "Not Found"));
    jtype tile = TemplateTile("q");
    std::string status;
    EXPECT_EQ(RequestTile(State, tile, false, status), RequestOutcome::RequestFailed);
    EXPECT_EQ(status, "404 Not Found");
    EXPECT_EQ(Tls.Requests().size(), 1u);
}

}  // namespace

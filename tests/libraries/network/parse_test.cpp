// The transfers' text parsers on their own: URL escaping and splitting,
// HTTP status, header and chunk-size lines, FTP replies.
#include <gtest/gtest.h>

#include <cstring>

#include "libraries/network/ftp_parse.h"
#include "libraries/network/http_parse.h"
#include "libraries/network/url_parse.h"
#include "runtime/os.h"

namespace {

std::string Normalised(const char* url, int encoded, int* code = nullptr) {
  char* out = nullptr;
  int r = NormaliseURL(url, encoded, &out);
  if (code) *code = r;
  std::string s = out ? out : "";
  FreeMemory(out);
  return s;
}

TEST(UrlParse, UnsafeBytesAreEscapedInLowerCaseHex) {
  EXPECT_EQ(Normalised("http://h/a b\"<>%\\^[]`+$,{~\x01\xe9", 0),
            "http://h/a%20b%22%3c%3e%25%5c%5e%5b%5d%60%2b%24%2c%7b%7e%01%e9");
  EXPECT_EQ(Normalised("http://h/AZaz09-_.!*'();:@&=?/", 0), "http://h/AZaz09-_.!*'();:@&=?/");
}

TEST(UrlParse, EncodedUrlsKeepUnsafeEscapesAndDecodeSafeOnes) {
  EXPECT_EQ(Normalised("/%41%20%2f%7E%4", 1), "/A%20/%7E%4");
  int code = 0;
  Normalised("/%G1", 1, &code);
  EXPECT_EQ(code, 1055);
  Normalised("/%", 1, &code);
  EXPECT_EQ(code, 1055);
}

struct Parsed {
  int code;
  vlURLParts parts;
  ~Parsed() { FreeURLParts(&parts); }
};

void Parse(Parsed* p, const char* url, const char* proxy = "") {
  p->parts = vlURLParts{};
  std::strcpy(p->parts.user, "anonymous");
  p->parts.transferMode = 'i';
  p->code = ParseTransferURL(url, proxy, &p->parts);
}

TEST(UrlParse, HostPortPathAndCredentials) {
  Parsed p;
  Parse(&p, "HTTP://user:p:w@example.org:8080/x/y?z");
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.parts.protocol, VL_PROTO_HTTP);
  EXPECT_STREQ(p.parts.host, "example.org");
  EXPECT_EQ(p.parts.port, 8080);
  EXPECT_STREQ(p.parts.path, "/x/y?z");
  EXPECT_STREQ(p.parts.user, "user");
  EXPECT_STREQ(p.parts.password, "p:w");
  EXPECT_EQ(p.parts.credentials, 1);
  Parsed q;
  Parse(&q, "ftp://host");
  ASSERT_EQ(q.code, 0);
  EXPECT_EQ(q.parts.port, 21);
  EXPECT_STREQ(q.parts.path, "/");
  EXPECT_STREQ(q.parts.user, "anonymous");
  EXPECT_EQ(q.parts.credentials, 0);
}

TEST(UrlParse, FtpTypeSuffixes) {
  Parsed a;
  Parse(&a, "ftp://h/dir/f.txt;TYPE=A");
  ASSERT_EQ(a.code, 0);
  EXPECT_EQ(a.parts.transferMode, 'a');
  EXPECT_STREQ(a.parts.path, "/dir/f.txt");
  Parsed b;
  Parse(&b, "ftp://h/f;type=q");
  EXPECT_EQ(b.code, 1417);
  Parsed c;
  Parse(&c, "ftp://h/x;type=i");
  ASSERT_EQ(c.code, 0);
  EXPECT_STREQ(c.parts.path, "/x");
  EXPECT_EQ(c.parts.transferMode, 'i');
  Parsed d;
  Parse(&d, "http://h/f;type=a");  // HTTP paths keep it
  EXPECT_STREQ(d.parts.path, "/f;type=a");
}

TEST(UrlParse, MalformedUrls) {
  const char* bad[] = {"http://u@h/", "http://:p@h/", "http://u:@h/", "http://h@x:1/", "http://h:/",
                       "http://h:99999/", "http:///x", "http://h\n/"};
  for (const char* url : bad) {
    Parsed p;
    Parse(&p, url);
    EXPECT_EQ(p.code, 1417) << url;
  }
  Parsed s;
  Parse(&s, "https://h/");
  EXPECT_EQ(s.code, 1416);
  Parsed long_user;
  std::string url = "http://" + std::string(300, 'u') + ":p@h/";
  Parse(&long_user, url.c_str());
  EXPECT_EQ(long_user.code, 1055);
}

TEST(UrlParse, ProxiesConnectToTheProxyAndKeepTheTargetHost) {
  Parsed p;
  Parse(&p, "http://me:pw@target.org:81/file", "http://px:pp@proxy.net:3128");
  ASSERT_EQ(p.code, 0);
  EXPECT_STREQ(p.parts.host, "proxy.net");
  EXPECT_EQ(p.parts.port, 3128);
  EXPECT_STREQ(p.parts.targetHost, "target.org:81");
  EXPECT_STREQ(p.parts.user, "px");
  Parsed f;
  Parse(&f, "ftp://h/", "http://proxy/");
  EXPECT_EQ(f.code, 1055);
}

TEST(HttpParse, StatusLines) {
  int status = 0;
  EXPECT_EQ(ParseHTTPStatusLine("HTTP/1.1 404 Not Found", &status), 0);
  EXPECT_EQ(status, 404);
  EXPECT_EQ(ParseHTTPStatusLine("HTTP/1.0 200", &status), 0);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(ParseHTTPStatusLine("http/1.1 200 OK", &status), 1001);
  EXPECT_EQ(ParseHTTPStatusLine("HTTP/x 200 OK", &status), 1002);
  EXPECT_EQ(ParseHTTPStatusLine("HTTP/1.1-200", &status), 1003);
}

TEST(HttpParse, HeaderLines) {
  char location[16];
  vlHTTPHeaders h{-1, 0, location, sizeof location};
  ResetHTTPHeaders(&h);
  EXPECT_EQ(ParseHTTPHeaderLine("CONTENT-LENGTH:    42", &h), 0);
  EXPECT_EQ(h.size, 42);
  EXPECT_EQ(ParseHTTPHeaderLine("Content-Length:42", &h), 0);  // no space: another header
  EXPECT_EQ(h.size, 42);
  EXPECT_EQ(ParseHTTPHeaderLine("Content-Length: 99999999999999999999999", &h), 0);
  EXPECT_EQ(h.size, -1);
  EXPECT_EQ(ParseHTTPHeaderLine("Transfer-Encoding: chunked, x", &h), 0);
  EXPECT_EQ(h.chunked, 1);
  EXPECT_EQ(ParseHTTPHeaderLine("Transfer-Encoding: deflate", &h), 1419);
  EXPECT_EQ(ParseHTTPHeaderLine("Location:  http://a.very.long.host/", &h), 0);
  EXPECT_STREQ(location, "http://a.very.l");  // cut to its buffer
  ResetHTTPHeaders(&h);
  EXPECT_EQ(h.size, -1);
  EXPECT_EQ(h.chunked, 0);
  EXPECT_STREQ(location, "");
}

TEST(HttpParse, ChunkSizes) {
  EXPECT_EQ(ParseChunkSize("1a"), 26);
  EXPECT_EQ(ParseChunkSize("FF;name=value"), 255);
  EXPECT_EQ(ParseChunkSize("0"), 0);
  EXPECT_EQ(ParseChunkSize(""), -1);
  EXPECT_EQ(ParseChunkSize("x1"), -1);
  EXPECT_EQ(ParseChunkSize("-1"), -1);
  EXPECT_EQ(ParseChunkSize("ffffffffffffffffffff"), -1);
}

TEST(FtpParse, ReplyCodesAndContinuations) {
  EXPECT_EQ(ParseFTPReplyCode("230 Logged in"), 230);
  EXPECT_EQ(ParseFTPReplyCode("hello"), 0);
  EXPECT_TRUE(IsFTPContinuation("220-Welcome"));
  EXPECT_FALSE(IsFTPContinuation("220 Ready"));
  EXPECT_FALSE(IsFTPContinuation("22-"));
}

TEST(FtpParse, PassiveReplies) {
  uint8_t n[6] = {};
  ASSERT_TRUE(ParsePassiveReply("227 Entering Passive Mode (192,168,1,2,19,137).", n));
  EXPECT_EQ(std::vector<int>(n, n + 6), (std::vector<int>{192, 168, 1, 2, 19, 137}));
  ASSERT_TRUE(ParsePassiveReply("227 =300,0,0,1,4,1", n));
  EXPECT_EQ(n[0], 300 % 256);
  EXPECT_FALSE(ParsePassiveReply("227 (1,2,3,4,5)", n));
  EXPECT_FALSE(ParsePassiveReply("227 (1,2,3,4,5,6,7)", n));
  EXPECT_FALSE(ParsePassiveReply("227", n));
}

TEST(FtpParse, SizesOfPreliminaryReplies) {
  EXPECT_EQ(ParseFTPSizeReply("150 Opening BINARY mode data connection for f (1234 bytes)."), 1234);
  EXPECT_EQ(ParseFTPSizeReply("150 Opening data connection for f (1234 BYTES)"), 1234);
  EXPECT_EQ(ParseFTPSizeReply("150 Opening data connection for f (1234)"), 0);
  EXPECT_EQ(ParseFTPSizeReply("150 Opening"), 0);
  EXPECT_EQ(ParseFTPSizeReply("150"), 0);
}

}  // namespace

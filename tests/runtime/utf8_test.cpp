// Latin-1 <-> UTF-8 conversion, checked against glibc's iconv for every
// byte, plus malformed and truncated input (run under ASan in the sanitizer
// tree) and the size limit of the caller's buffer.
#include "runtime/utf8.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Iconv(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(in.size() * 4 + 8, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  EXPECT_NE(r, static_cast<size_t>(-1)) << std::strerror(errno);
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return out;
}

std::string ToUtf8(const std::string& latin1) {
  char* u = ConvertLatin1ToUTF8(latin1.c_str());
  EXPECT_NE(u, nullptr);
  std::string s = u ? u : "";
  std::free(u);
  return s;
}

std::string ToLatin1(const std::string& utf8) {
  std::vector<char> out(utf8.size() + 1, 'Z');
  size_t n = ConvertUTF8ToLatin1(utf8.c_str(), out.data(), out.size());
  EXPECT_EQ(n, std::strlen(out.data()));
  return out.data();
}

TEST(Utf8, EveryLatinOneByteRoundTripsAndMatchesIconv) {
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  std::string utf8 = ToUtf8(all);
  EXPECT_EQ(utf8, Iconv("UTF-8", "ISO-8859-1", all));
  EXPECT_EQ(utf8.size(), 127u + 2u * 128u);
  EXPECT_EQ(ToLatin1(utf8), all);
  EXPECT_EQ(ToLatin1(utf8), Iconv("ISO-8859-1", "UTF-8", utf8));
  // Each byte on its own as well, so no neighbour hides a mistake.
  for (int c = 1; c < 256; ++c) {
    std::string one(1, static_cast<char>(c));
    std::string u = ToUtf8(one);
    ASSERT_EQ(u, Iconv("UTF-8", "ISO-8859-1", one)) << c;
    ASSERT_EQ(ToLatin1(u), one) << c;
  }
  EXPECT_EQ(ToUtf8("\xE9"), "\xC3\xA9");
  EXPECT_EQ(ToLatin1("\xC2\xA0"), "\xA0");
  EXPECT_EQ(ToUtf8(""), "");
}

TEST(Utf8, MalformedAndTruncatedInputBecomesQuestionMarks) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a\xC3", "a?"},                       // lead byte just before the end
      {"\xC3", "?"},
      {"\xE2\x82\xAC", "?"},                 // euro sign, three bytes
      {"x\xE2\x82", "x?"},                   // three-byte lead cut short
      {"\xF0\x9F\x98\x80!", "?!"},           // four bytes
      {"\xF0\x9F", "?"},
      {"\x80\x80\x80z", "?z"},               // stray continuation bytes
      {"\xC0\xAF", "?"},                     // overlong '/'
      {"\xC1\xBF", "?"},
      {"\xC4\x80", "?"},                     // U+0100, beyond Latin-1
      {"\xC3\xA9\xA9", "\xE9?"},             // one continuation too many
      {"\xC3" "A", "?A"},                    // lead without continuation
      {"\xFF\xFE", "?" "?"},
      {"\xF8\x88\x80\x80\x80", "?"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToLatin1(c.in), c.out) << c.in;
  // The counted form reads the same way, zero bytes included, and never
  // past its length (the sequence cut at the end is one '?').
  const std::string bytes("a\0\xE2\x82\xAC\xC3\xA9\0\xC3", 9);
  std::vector<char> out(bytes.size() + 1, 'Z');
  size_t n = ConvertUTF8BytesToLatin1(bytes.data(), bytes.size(), out.data());
  EXPECT_EQ(std::string(out.data(), n), std::string("a\0?\xE9\0?", 6));
  EXPECT_EQ(out[n], 0);
}

TEST(Utf8, NeverWritesPastTheCallersBuffer) {
  const std::string in = "h\xC3\xA9llo w\xC3\xB6rld";
  for (size_t size = 0; size < 16; ++size) {
    std::vector<char> buf(size + 8, '#');
    size_t n = ConvertUTF8ToLatin1(in.c_str(), buf.data(), size);
    for (size_t i = size; i < buf.size(); ++i) ASSERT_EQ(buf[i], '#') << size;
    if (size > 0) {
      ASSERT_EQ(buf[n], '\0');
      ASSERT_LT(n, size);
      ASSERT_EQ(std::string(buf.data()), std::string("h\xE9llo w\xF6rld").substr(0, n));
    } else {
      ASSERT_EQ(n, 0u);
    }
  }
  char one = '#';
  EXPECT_EQ(ConvertUTF8ToLatin1(nullptr, &one, 1), 0u);
  EXPECT_EQ(one, '\0');
}

TEST(Utf8, RandomBytesStayInsideTheirStrings) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    size_t len = rng() % 24;
    // Exactly sized heap blocks, so ASan catches any read past the end.
    std::unique_ptr<char[]> text(new char[len + 1]);
    for (size_t i = 0; i < len; ++i) text[i] = static_cast<char>(rng() % 4 == 0 ? 1 + rng() % 127 : 0x80 + rng() % 128);
    text[len] = 0;
    std::unique_ptr<char[]> out(new char[len + 1]);
    size_t n = ConvertUTF8ToLatin1(text.get(), out.get(), len + 1);
    ASSERT_LE(n, len);
    char* again = ConvertEncoding(text.get(), VL_ENCODING_UTF8, VL_ENCODING_LATIN1);
    ASSERT_NE(again, nullptr);
    ASSERT_STREQ(again, out.get());
    std::free(again);
  }
}

TEST(Utf8, ConvertEncodingPairs) {
  char* u = ConvertEncoding("caf\xE9", VL_ENCODING_LATIN1, VL_ENCODING_UTF8);
  ASSERT_NE(u, nullptr);
  EXPECT_STREQ(u, "caf\xC3\xA9");
  char* l = ConvertEncoding(u, VL_ENCODING_UTF8, VL_ENCODING_LATIN1);
  ASSERT_NE(l, nullptr);
  EXPECT_STREQ(l, "caf\xE9");
  std::free(u);
  std::free(l);
  EXPECT_EQ(ConvertEncoding("x", 0, 0), nullptr);
  EXPECT_EQ(ConvertEncoding("x", 1, 1), nullptr);
  EXPECT_EQ(ConvertEncoding("x", 2, 0), nullptr);
  EXPECT_EQ(ConvertEncoding(nullptr, 0, 1), nullptr);
}

}  // namespace

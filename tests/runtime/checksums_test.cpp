// MD5 and Base64 against the RFC test vectors and against the coreutils
// md5sum and base64 tools on random data of every length up to a few
// blocks; the decoder's refusals; the service slots built on them.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "runtime/base64.h"
#include "runtime/md5.h"
#include "player/service_table.h"

namespace {

std::string Md5(const std::string& s) {
  char hex[33];
  MD5ToHex(s.data(), s.size(), hex);
  return hex;
}

std::string Encode(const std::vector<uint8_t>& bytes) {
  std::string out(Base64EncodedSize(bytes.size()) + 1, '?');
  out.resize(EncodeBase64(bytes.data(), bytes.size(), out.data()));
  return out;
}

bool Decode(const std::string& text, std::vector<uint8_t>* out) {
  out->assign(text.size() / 4 * 3 + 1, 0);
  size_t n = 0;
  if (!DecodeBase64(text.data(), text.size(), out->data(), &n)) return false;
  out->resize(n);
  return true;
}

// Runs a shell command on a file holding bytes; its first output word.
std::string Tool(const char* command, const std::vector<uint8_t>& bytes) {
  std::string path = testing::TempDir() + "vl_checksum_input.bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  std::string cmd = std::string(command) + " '" + path + "'";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  pclose(p);
  std::remove(path.c_str());
  size_t end = out.find_first_of(" \n");
  return end == std::string::npos ? out : out.substr(0, end);
}

TEST(MD5, RfcVectors) {
  EXPECT_EQ(Md5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Checksums, AgreeWithCoreutils) {
  std::mt19937 rng(7);
  for (size_t length : {1, 2, 3, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 4099}) {
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    char hex[33];
    MD5ToHex(bytes.data(), bytes.size(), hex);
    EXPECT_EQ(hex, Tool("md5sum", bytes)) << length;
    std::string encoded = Encode(bytes);
    EXPECT_EQ(encoded, Tool("base64 -w0", bytes)) << length;
    std::vector<uint8_t> back;
    ASSERT_TRUE(Decode(encoded, &back));
    EXPECT_EQ(back, bytes);
  }
}

TEST(Base64, RfcVectorsAndRefusals) {
  auto enc = [](const std::string& s) { return Encode(std::vector<uint8_t>(s.begin(), s.end())); };
  EXPECT_EQ(enc(""), "");
  EXPECT_EQ(enc("f"), "Zg==");
  EXPECT_EQ(enc("fo"), "Zm8=");
  EXPECT_EQ(enc("foobar"), "Zm9vYmFy");
  std::vector<uint8_t> out;
  ASSERT_TRUE(Decode("Zm9v\r\nYmE=", &out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "fooba");
  for (const char* bad : {"Zm9", "Z===", "Zg=a", "Zg==Zg==", "Zm9v!mFy", "=Zm9"})
    EXPECT_FALSE(Decode(bad, &out)) << bad;
}

TEST(Checksums, ServiceSlots) {
  const vlSvcChecksums* c = GetServiceTable()->checksums;
  char hex[33] = "unchanged";
  c->MD5Hex("abc", 0, hex);
  EXPECT_STREQ(hex, "unchanged") << "nothing for an empty buffer";
  c->MD5Hex("abc", 3, hex);
  EXPECT_STREQ(hex, "900150983cd24fb0d6963f7d28e17f72");
  char text[16];
  size_t n = 0;
  c->Base64EncodeSvc("foob", 4, text, &n);
  EXPECT_EQ(n, 8u);
  EXPECT_STREQ(text, "Zm9vYg==");
  uint8_t bytes[8];
  EXPECT_EQ(c->Base64DecodeSvc(text, n, bytes, &n), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), n), "foob");
  EXPECT_EQ(c->Base64DecodeSvc("Zm9", 3, bytes, &n), 0);
}

}  // namespace

// A VM with the error system for driving command libraries from assembled
// scripts: run a body, read globals (numbers, byte strings, table
// entries), quote arbitrary bytes as assembler literals.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/runtime/handler_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace vltest {

class LibraryScript : public HandlerTest {
 protected:
  // Runs the body as a main chunk; 0 or the error code it stopped with.
  int Run(const std::string& body) {
    L->g->quitDefault = 0;
    return RunScript(L, ".line 1\n" + body + "\nret\n");
  }
  double Num(const char* name) { return GlobalNumber(L, name); }
  std::string Str(const char* name) { return GlobalString(L, name); }
  int Tag(const char* name) { return GetGlobal(L, name)->tag; }

  // Entry key of the table in global name; tag VL_TNONE when not a table.
  const vlValue* Entry(const char* name, int64_t key) {
    const vlValue* t = GetGlobal(L, name);
    if (t->tag != VL_TTABLE) return nullptr;
    return vl::TableGetInt(vl::ToTable(t), key);
  }
  double EntryNum(const char* name, int64_t key) {
    const vlValue* v = Entry(name, key);
    return v && v->tag == VL_TNUMBER ? v->v.n : std::nan("");
  }
  std::string EntryStr(const char* name, int64_t key) {
    const vlValue* v = Entry(name, key);
    if (!v || v->tag != VL_TSTRING) return "<not a string>";
    return std::string(vl::StringData(vl::ToString(v)), vl::ToString(v)->len);
  }

  // An assembler string literal holding exactly these bytes.
  static std::string Q(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
      if (c >= 32 && c < 127 && c != '"' && c != '\\') {
        out += static_cast<char>(c);
      } else {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02X", c);
        out += esc;
      }
    }
    return out + "\"";
  }
  // An assembler number literal that reads back as exactly d.
  static std::string N(double d) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", d);
    return text;
  }
};

}  // namespace vltest

namespace vltest {

// Runs a python3 program and returns what it printed (the real counterpart
// that expected values come from); fails the test when it cannot run.
inline std::string RunPython(const std::string& program) {
  char path[] = "/tmp/vltest_pyXXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  if (fd < 0) return {};
  FILE* f = fdopen(fd, "w");
  std::fwrite(program.data(), 1, program.size(), f);
  std::fclose(f);
  std::string command = std::string("python3 ") + path;
  FILE* p = popen(command.c_str(), "r");
  std::string out;
  if (p) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    EXPECT_EQ(pclose(p), 0) << "python3 failed";
  } else {
    ADD_FAILURE() << "cannot run python3";
  }
  std::remove(path);
  return out;
}

}  // namespace vltest

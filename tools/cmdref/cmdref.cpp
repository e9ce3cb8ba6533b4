// Test tool: writes the command reference (docs/commands.md) from what the
// libraries register and the hand-written notes in docs/commands.txt, or
// checks that the two still agree.
//
//   cmdref NOTES OUT.md           writes the reference
//   cmdref --check NOTES REF.md [SOURCE_ROOT]
//                                 fails when a registered command has no
//                                 note, a note names no registered command,
//                                 a key its "opts:" or "fields:" list names
//                                 is not one its code uses, a command whose
//                                 code reads or fills a table names no such
//                                 list (tools/cmdref/own_tables.txt holds
//                                 the exceptions), or REF.md is not what
//                                 would be written
//   cmdref --keys ROOT COMMAND    lists the keys the command's code uses
//   cmdref --tables ROOT COMMAND  lists the files and functions where its
//                                 code reads or sets keys of a table
//
// Each library of the start-up table is opened on a fresh VM in table
// order; the globals and constants it adds are its commands and constants,
// so the reference lists exactly what a script can call. The sources are
// read from SOURCE_ROOT, by default the folder above the notes' folder.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "player/library_table.h"
#include "tools/cmdref/key_scan.h"
#include "runtime/objects.h"
#include "vm/stack_api.h"
#include "vm/state.h"

namespace {

struct Library {
  std::string name;
  std::vector<std::string> commands;
  std::vector<std::pair<std::string, std::string>> constants;  // name, value as text
};

struct Note {
  std::string library;  // the [section] it stands under
  std::string arguments, results, text;
  int line = 0;
};

// The string keys of a table (functions only, or every one) with the text
// of each number or string value.
std::map<std::string, std::string> TableEntries(vlVMState* L, int index, bool functionsOnly) {
  std::map<std::string, std::string> out;
  vl::PushSlotCopy(L, index);
  int table = vl::GetStackTop(L);
  vl::PushNil(L);
  while (vl::NextTableEntry(L, table)) {
    int type = vl::GetTypeAt(L, -1);
    if (vl::GetTypeAt(L, -2) == VL_TSTRING && (!functionsOnly || type == VL_TFUNCTION)) {
      std::string value;
      if (type == VL_TSTRING) value = std::string("\"") + vl::ToStringAt(L, -1) + "\"";
      else if (type == VL_TNUMBER) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.17g", vl::ToNumberAt(L, -1));
        value = buffer;
      }
      out[vl::ToStringAt(L, -2)] = value;
    }
    vl::SetStackTop(L, -2);
  }
  vl::SetStackTop(L, -2);
  return out;
}

std::map<std::string, std::string> Constants(vlVMState* L) {
  vl::PushString(L, "constants");
  vl::GetTableValue(L, vl::kRegistryIndex);
  std::map<std::string, std::string> out;
  if (vl::GetTypeAt(L, -1) == VL_TTABLE) out = TableEntries(L, -1, false);
  vl::SetStackTop(L, -2);
  return out;
}

bool OpenAll(std::vector<Library>* libraries) {
  vlVMState* L = vl::OpenVmState();
  if (!L) return false;
  for (const vlLibraryRow* row = vlLibraryTable; row->name; ++row) {
    auto globalsBefore = TableEntries(L, vl::kGlobalsIndex, true);
    auto constantsBefore = Constants(L);
    vl::PushSlotCopy(L, vl::kGlobalsIndex);
    int status = row->open(L);
    vl::SetStackTop(L, 0);
    if (status) {
      std::fprintf(stderr, "cmdref: library %s did not open (error %d)\n", row->name, status);
      vl::CloseVmState(L);
      return false;
    }
    Library library{row->name, {}, {}};
    for (const auto& [name, value] : TableEntries(L, vl::kGlobalsIndex, true))
      if (!globalsBefore.count(name)) library.commands.push_back(name);
    for (const auto& [name, value] : Constants(L))
      if (!constantsBefore.count(name)) library.constants.emplace_back(name, value);
    libraries->push_back(std::move(library));
  }
  vl::CloseVmState(L);
  return true;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// NAME | ARGUMENTS | RESULTS | WHAT IT DOES, under [library] headings.
// Lines starting with ">" are text shown after the library's table.
bool ReadNotes(const char* path, std::map<std::string, Note>* notes, std::map<std::string, std::string>* prose,
               std::vector<std::string>* problems) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cmdref: cannot read %s\n", path);
    return false;
  }
  std::string line, library;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    if (trimmed[0] == '>') {
      (*prose)[library] += Trim(trimmed.substr(1)) + "\n";
      continue;
    }
    if (trimmed[0] == '[') {
      library = Trim(trimmed.substr(1, trimmed.find(']') - 1));
      continue;
    }
    // "\\|" is a bar inside a field; it stays escaped for the Markdown table.
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < trimmed.size(); ++i) {
      if (trimmed[i] == '\\' && i + 1 < trimmed.size() && trimmed[i + 1] == '|') {
        fields.back() += "\\|";
        ++i;
      } else if (trimmed[i] == '|') {
        fields.emplace_back();
      } else {
        fields.back() += trimmed[i];
      }
    }
    for (std::string& field : fields) field = Trim(field);
    if (fields.size() != 4 || fields[0].empty() || fields[3].empty()) {
      problems->push_back(std::string(path) + ":" + std::to_string(number) +
                          ": expected NAME | ARGUMENTS | RESULTS | WHAT IT DOES");
      continue;
    }
    if (notes->count(fields[0]))
      problems->push_back(std::string(path) + ":" + std::to_string(number) + ": " + fields[0] + " noted twice");
    (*notes)[fields[0]] = Note{library, fields[1], fields[2], fields[3], number};
  }
  return true;
}

std::string Render(const std::vector<Library>& libraries, const std::map<std::string, Note>& notes,
                   const std::map<std::string, std::string>& prose) {
  std::ostringstream out;
  out << "# Command reference\n\n"
         "Every command a script can call, by library, with the constants each library\n"
         "defines. Generated by `tools/cmdref` from the libraries themselves and the\n"
         "notes in `docs/commands.txt`; edit the notes, then rebuild the `command_reference`\n"
         "target (the `cmdref` test fails while this file and the libraries differ).\n\n"
         "Commands are called by their lower-case name (`.call loadbrush 1 \"a.png\"` in\n"
         "the assembler). Arguments in `[ ]` may be left out; `opts` is a table of\n"
         "options; `...` repeats the argument before it. Results are listed in order;\n"
         "`-` means none. A constant `#NAME` stands for the value shown, and the\n"
         "assembler takes it as written (`.call box 0 0 10 10 #RED`, `#CENTER`, any\n"
         "case); a plug-in's constants and an applet's own are read at run time\n"
         "with `.call getconstant \"#NAME\" -> v`. Colours are numbers 0xRRGGBB\n"
         "(`0xFF0000` is red). \"opts:\" lists the keys\n"
         "an option table may hold (a list ending in \"...\" names only some; a key\n"
         "the command does not know is not read, and no error says so) and\n"
         "\"fields:\" the fields of a table a command\n"
         "returns or hands to a callback; the `cmdref` test checks each against the\n"
         "command's code, and that every command whose code reads an option table or\n"
         "fills such a table has its list. The assembler has no true or false: an\n"
         "option that is on is 1.\n\n";
  for (const Library& library : libraries) out << "- [" << library.name << "](#" << library.name << ")\n";
  for (const Library& library : libraries) {
    out << "\n## " << library.name << "\n\n";
    if (!library.commands.empty()) {
      out << "| command | arguments | results | what it does |\n|---|---|---|---|\n";
      for (const std::string& name : library.commands) {
        auto note = notes.find(name);
        if (note == notes.end()) continue;
        out << "| `" << name << "` | " << note->second.arguments << " | " << note->second.results << " | "
            << note->second.text << " |\n";
      }
    }
    if (!library.constants.empty()) {
      out << "\nConstants:";
      const char* separator = " ";
      for (const auto& [name, value] : library.constants) {
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out << separator << "`#" << upper << "` " << value;
        separator = ", ";
      }
      out << ".\n";
    }
    if (auto text = prose.find(library.name); text != prose.end()) out << "\n" << text->second;
  }
  return out.str();
}

// Tables the scan finds that are no script's options or results:
//   file PATH: why              (every key read or set in that source file)
//   function NAME: why          (every key read or set in functions of that name)
//   reads COMMAND: why / sets COMMAND: why
struct OwnTables {
  std::map<std::string, int> places;                   // path or function name -> line
  std::map<std::pair<std::string, bool>, int> commands;  // (command, sets) -> line
};

bool ReadOwnTables(const std::string& path, OwnTables* own, std::vector<std::string>* problems) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cmdref: cannot read %s\n", path.c_str());
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    size_t space = trimmed.find(' '), colon = trimmed.find(':');
    std::string kind = trimmed.substr(0, space);
    std::string name = space < colon ? Trim(trimmed.substr(space + 1, colon - space - 1)) : "";
    bool reasoned = colon != std::string::npos && !Trim(trimmed.substr(colon + 1)).empty();
    if (name.empty() || !reasoned || (kind != "file" && kind != "function" && kind != "reads" && kind != "sets")) {
      problems->push_back(path + ":" + std::to_string(number) +
                          ": expected \"file PATH: why\", \"function NAME: why\", \"reads COMMAND: why\" or "
                          "\"sets COMMAND: why\"");
      continue;
    }
    if (kind == "file" || kind == "function") own->places[name] = number;
    else own->commands[{name, kind == "sets"}] = number;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "--keys")) {  // cmdref --keys ROOT COMMAND: what the check sees
    cmdref::KeyScan scan;
    if (!scan.Load(argv[2])) return 1;
    for (const std::string& key : scan.KeysOf(argv[3])) std::printf("%s\n", key.c_str());
    return scan.Registered(argv[3]) ? 0 : 1;
  }
  if (argc == 4 && !std::strcmp(argv[1], "--tables")) {  // cmdref --tables ROOT COMMAND: where tables are used
    cmdref::KeyScan scan;
    if (!scan.Load(argv[2])) return 1;
    for (bool writes : {false, true}) {
      std::set<std::string> keys;
      for (const auto& [file, function] : scan.KeyUses(argv[3], writes, &keys))
        std::printf("%s %s %s\n", writes ? "sets" : "reads", file.c_str(), function.c_str());
      if (!keys.empty()) {
        std::printf("%s keys:", writes ? "sets" : "reads");
        for (const std::string& key : keys) std::printf(" %s", key.c_str());
        std::printf("\n");
      }
    }
    return scan.Registered(argv[3]) ? 0 : 1;
  }
  bool check = (argc == 4 || argc == 5) && !std::strcmp(argv[1], "--check");
  if (argc != 3 && !check) {
    std::fprintf(stderr, "usage: cmdref NOTES OUT.md | cmdref --check NOTES REF.md [SOURCE_ROOT]\n");
    return 2;
  }
  const char* notesPath = argv[check ? 2 : 1];
  const char* mdPath = argv[check ? 3 : 2];
  std::vector<Library> libraries;
  if (!OpenAll(&libraries)) return 1;
  std::map<std::string, Note> notes;
  std::map<std::string, std::string> prose;
  std::vector<std::string> problems;
  if (!ReadNotes(notesPath, &notes, &prose, &problems)) return 1;

  std::set<std::string> registered;
  for (const Library& library : libraries)
    for (const std::string& name : library.commands) {
      registered.insert(name);
      auto note = notes.find(name);
      if (note == notes.end())
        problems.push_back("missing: " + library.name + " command " + name + " has no line in " + notesPath);
      else if (note->second.library != library.name)
        problems.push_back(std::string(notesPath) + ":" + std::to_string(note->second.line) + ": " + name +
                           " stands under [" + note->second.library + "] but the " + library.name +
                           " library registers it");
    }
  for (const auto& [name, note] : notes)
    if (!registered.count(name))
      problems.push_back(std::string(notesPath) + ":" + std::to_string(note.line) + ": stale: no library registers " +
                         name);

  // Every option key and result field a note names must be one the
  // command's code reads or writes.
  std::string root = argc == 5 ? argv[4] : std::filesystem::path(notesPath).parent_path().parent_path().string();
  cmdref::KeyScan scan;
  if (!scan.Load(root.empty() ? "." : root)) return 1;
  for (const auto& [name, note] : notes) {
    std::set<std::string> bad;
    std::set<std::string> named = cmdref::NamedKeys(note.text, &bad);
    std::string where = std::string(notesPath) + ":" + std::to_string(note.line) + ": " + name;
    for (const std::string& item : bad)
      problems.push_back(where + ": '" + item + "' in an opts:/fields: list is not a key (list keys, or end the list first)");
    if (named.empty() || !registered.count(name)) continue;
    if (!scan.Registered(name)) {
      problems.push_back(where + ": names keys, but no registration row of the command was found in the sources");
      continue;
    }
    std::set<std::string> used = scan.KeysOf(name);
    for (const std::string& key : named)
      if (!used.count(key)) problems.push_back(where + ": the code neither reads nor writes a key '" + key + "'");
  }
  // A command whose code reads named keys of a table takes options, and one
  // that sets them returns a table: its note must name them, unless the
  // tables are known to be the player's own.
  std::string ownPath = (std::filesystem::path(root.empty() ? "." : root) / "tools/cmdref/own_tables.txt").string();
  OwnTables own;
  if (!ReadOwnTables(ownPath, &own, &problems)) return 1;
  std::set<std::string> filesHit;
  std::set<std::pair<std::string, bool>> commandsHit;
  for (const auto& [name, note] : notes) {
    if (!registered.count(name)) continue;
    std::string where = std::string(notesPath) + ":" + std::to_string(note.line) + ": " + name;
    for (bool writes : {false, true}) {
      const char* list = writes ? "fields:" : "opts:";
      bool listed = note.text.find(list) != std::string::npos;
      bool found = false;
      for (const auto& [file, function] : scan.KeyUses(name, writes)) {
        if (own.places.count(file)) filesHit.insert(file);
        else if (own.places.count(function)) filesHit.insert(function);
        else found = true;
      }
      if (!found) continue;
      if (own.commands.count({name, writes})) {
        if (!listed) commandsHit.insert({name, writes});
        continue;
      }
      if (!listed)
        problems.push_back(where + (writes ? ": the code sets keys of a table the script gets (a result or a callback's message), but the note names no fields: list"
                                           : ": the code reads keys of an option table, but the note names no opts: list"));
    }
  }
  for (const auto& [place, line] : own.places)
    if (!filesHit.count(place))
      problems.push_back(ownPath + ":" + std::to_string(line) + ": no command reads or sets table keys in " + place +
                         " any more");
  for (const auto& [entry, line] : own.commands)
    if (!commandsHit.count(entry))
      problems.push_back(ownPath + ":" + std::to_string(line) + ": " + entry.first +
                         " needs no exception any more (its code " + (entry.second ? "sets" : "reads") +
                         " no such keys, or its note names them)");

  std::string text = Render(libraries, notes, prose);
  if (check) {
    std::ifstream in(mdPath, std::ios::binary);
    std::string current((std::istreambuf_iterator<char>(in)), {});
    if (current != text)
      problems.push_back(std::string(mdPath) + " differs from the libraries and notes; rebuild the command_reference target");
  }
  for (const std::string& problem : problems) std::fprintf(stderr, "%s\n", problem.c_str());
  if (!problems.empty()) return 1;
  if (!check) {
    std::string temp = std::string(mdPath) + ".tmp";
    FILE* out = std::fopen(temp.c_str(), "wb");
    bool ok = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out && std::fclose(out) != 0) ok = false;
    if (!ok || std::rename(temp.c_str(), mdPath) != 0) {
      std::remove(temp.c_str());
      std::fprintf(stderr, "cmdref: cannot write %s\n", mdPath);
      return 1;
    }
  }
  return 0;
}

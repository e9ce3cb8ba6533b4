// Fixture for the command reference's source scan: each command reaches
// table keys in one of the ways the scan must see, or in a way it must not
// count. Never compiled.
namespace {

// A key reader of its own: pushes its key parameter and reads the table.
int ReadKeyInto(vlVMState* L, int table, const char* key, int32_t* out) {
  vl::PushString(L, key);
  vl::GetTableValue(L, table);
  *out = vl::ToIntegerAt(L, -1);
  vl::SetStackTop(L, -2);
  return 0;
}

int CmdReadsViaHelper(vlVMState* L) {
  int32_t speed = 0;
  return ReadKeyInto(L, 2, "speed", &speed);
}

// A hook filled elsewhere and called by the command itself.
struct Hooks {
  int (*draw)(vlVMState* L);
} gHooks;

int DrawHook(vlVMState* L) {
  int32_t x = 0;
  GetTableInt(L, 2, "x", &x, nullptr);
  return 0;
}

int CmdReadsViaHook(vlVMState* L) { return gHooks.draw(L); }

// A member function reading keys from a table of keys.
const char* const kKeys[] = {"loop", "free"};

struct Reader {
  vlVMState* L;
  int Read(int table) {
    int on = 0;
    for (int i = 0; i < 2; ++i) GetTableBool(L, table, kKeys[i], &on, nullptr);
    return on;
  }
};

int CmdReadsViaMethod(vlVMState* L) {
  Reader reader{L};
  return reader.Read(3);
}

// Keys from a list the loop walks.
int CmdReadsFromList(vlVMState* L) {
  int32_t v = 0;
  for (const char* key : {"bordercolor", "edgecolor"}) GetTableInt(L, 2, key, &v, nullptr);
  return 0;
}

int CmdWritesResult(vlVMState* L) {
  vl::PushNewTable(L);
  SetTableInt(L, "width", 1);
  return 1;
}

// The registry is the player's own table.
int CmdRegistryOnly(vlVMState* L) {
  vl::PushString(L, "constants");
  vl::GetTableValue(L, vl::kRegistryIndex);
  return 1;
}

// Passing the state on does not make a function a key reader: only a key
// parameter does.
int FindThing(vlVMState* L, int id) {
  char name[16];
  int32_t value = 0;
  return ReadKeyInto(L, id, name, &value);
}

int CmdPassesState(vlVMState* L) { return FindThing(L, 3); }

}  // namespace

void InstallFixtureHooks() { gHooks.draw = DrawHook; }

const vlCommand kFixtureCommands[] = {
    {"ReadsViaHelper", CmdReadsViaHelper}, {"ReadsViaHook", CmdReadsViaHook},
    {"ReadsViaMethod", CmdReadsViaMethod}, {"ReadsFromList", CmdReadsFromList},
    {"WritesResult", CmdWritesResult},
    {"RegistryOnly", CmdRegistryOnly},     {"PassesState", CmdPassesState},
    {nullptr, nullptr}};

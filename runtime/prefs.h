// The preferences store: one table per application, kept between runs in
// $HOME/.vellamora-pix/preferences/<application identifier> as "PRFS"
// followed by the table's serialised items.
#pragma once
#include <cstddef>

struct vlVMState;

inline constexpr char kPrefsMagic[4] = {'P', 'R', 'F', 'S'};

// The store's file of an application (the directories are made on the
// way). 1, or 0 when the name does not fit.
int GetPrefsFileName(const char* appId, char* buffer, size_t size);

// Saves the table at tableIndex. 0, 1055 without an identifier, 1052 when
// the file cannot be written (its name in the error argument), or an error
// of the table writer. A table that cannot be written leaves the stored
// preferences as they were.
int SavePrefsTable(vlVMState* state, int tableIndex, const char* appId);
// Adds the stored items to the table at tableIndex. 0 also when nothing
// is stored; 1055, 1009, 1577 or an error of the table reader, with the
// table unchanged.
int LoadPrefsTable(vlVMState* state, int tableIndex, const char* appId);
// Removes the stored file; a missing one is fine. 0 or 1055.
int DeletePrefsFile(const char* appId);

// The script commands SavePrefs(table), LoadPrefs(table) and DeletePrefs(),
// for the application that the running applet declares.
int CmdSavePrefs(vlVMState* state);
int CmdLoadPrefs(vlVMState* state);
int CmdDeletePrefs(vlVMState* state);

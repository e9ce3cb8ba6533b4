// The GTK file and folder choosers of the file and path requesters. GTK
// thread only. Depends on the dialog helpers and the engine's path parts.
#include <cstdio>
#include <cstring>

#include "platform/requesters_gtk_request.h"
#include "runtime/chunk_name.h"
#include "runtime/messages.h"

namespace {

void AddPickedPath(const char* chosen) {
  vlGtkRequest& r = gGtkRequest;
  std::string path = FromGtk(chosen);
  const char* file = GetFilePart(path.c_str());
  // The directory keeps its closing '/': a file in the root has "/".
  if (r.resultCount == 0) r.resultDirectory = path.substr(0, size_t(file - path.c_str()));
  r.resultFiles.append(file);
  r.resultFiles.push_back('\0');
  r.resultCount++;
}

// An "All" filter and a "Filter" filter of the pattern's '|'-separated
// extensions, the second selected.
void AddFilters(GtkFileChooser* chooser, const std::string& pattern) {
  GtkFileFilter* all = dl_gtk_file_filter_new();
  dl_gtk_file_filter_set_name(all, ToGtk(GetMessage(517)).c_str());
  dl_gtk_file_filter_add_pattern(all, "*");
  dl_gtk_file_filter_add_pattern(all, "*.*");
  dl_gtk_file_chooser_add_filter(chooser, all);
  GtkFileFilter* filter = dl_gtk_file_filter_new();
  dl_gtk_file_filter_set_name(filter, ToGtk(GetMessage(518)).c_str());
  size_t start = 0;
  while (start <= pattern.size()) {
    size_t bar = pattern.find('|', start);
    std::string extension = pattern.substr(start, bar == std::string::npos ? bar : bar - start);
    if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
    if (!extension.empty()) dl_gtk_file_filter_add_pattern(filter, ("*." + extension).c_str());
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  dl_gtk_file_chooser_add_filter(chooser, filter);
  dl_gtk_file_chooser_set_filter(chooser, filter);
}

}  // namespace

int RunFileDialog() {
  vlGtkRequest& r = gGtkRequest;
  GtkFileChooserAction action = r.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN;
  GtkWidget* dialog = PrepareDialog(dl_gtk_file_chooser_dialog_new(
      ToGtk(r.title).c_str(), nullptr, action, "gtk-cancel", GTK_RESPONSE_CANCEL, r.save ? "gtk-save" : "gtk-open",
      GTK_RESPONSE_ACCEPT, nullptr));
  if (!dialog) return -1;
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  if (r.multiple) dl_gtk_file_chooser_set_select_multiple(chooser, TRUE);
  if (r.save) dl_gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  if (!r.pattern.empty()) AddFilters(chooser, r.pattern);
  char start[1024];
  std::snprintf(start, sizeof start, "%s", r.directory.c_str());
  if (!r.file.empty() && AddPart(start, sizeof start, r.file.c_str()))
    dl_gtk_file_chooser_set_filename(chooser, ToGtk(start).c_str());
  else if (!r.directory.empty())
    dl_gtk_file_chooser_set_current_folder(chooser, ToGtk(r.directory).c_str());
  int reply = 0;
  if (RunDialog(dialog) == GTK_RESPONSE_ACCEPT) {
    GSList* names = dl_gtk_file_chooser_get_filenames(chooser);
    for (GSList* n = names; n; n = n->next) {
      AddPickedPath(static_cast<const char*>(n->data));
      dl_g_free(n->data);
    }
    dl_g_slist_free(names);
    reply = r.resultCount ? 1 : 0;
  }
  DestroyDialog(dialog);
  return reply;
}

// A folder chooser; in save mode a new folder can be made from it.
int RunPathDialog() {
  vlGtkRequest& r = gGtkRequest;
  GtkFileChooserAction action =
      r.save ? GTK_FILE_CHOOSER_ACTION_CREATE_FOLDER : GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
  GtkWidget* dialog = PrepareDialog(dl_gtk_file_chooser_dialog_new(ToGtk(r.title).c_str(), nullptr, action,
                                                                   "gtk-cancel", GTK_RESPONSE_CANCEL, "gtk-open",
                                                                   GTK_RESPONSE_ACCEPT, nullptr));
  if (!dialog) return -1;
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  if (!r.directory.empty()) dl_gtk_file_chooser_set_current_folder(chooser, ToGtk(r.directory).c_str());
  int reply = 0;
  if (RunDialog(dialog) == GTK_RESPONSE_ACCEPT) {
    if (gchar* folder = dl_gtk_file_chooser_get_filename(chooser)) {
      r.resultText = FromGtk(folder);
      dl_g_free(folder);
      reply = 1;
    }
  }
  DestroyDialog(dialog);
  return reply;
}

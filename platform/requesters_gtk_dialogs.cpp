// The GTK message box, string and list dialogs of the system, string and
// list requesters. GTK thread only. Depends on the dialog helpers.
#include <cstdlib>
#include <cstring>

#include "platform/requesters_gtk_request.h"

namespace {

GtkWidget* ContentArea(GtkDialog* dialog) {
  return dl_gtk_dialog_get_content_area ? dl_gtk_dialog_get_content_area(dialog) : dialog->vbox;
}

GtkWidget* ActionArea(GtkDialog* dialog) {
  return dl_gtk_dialog_get_action_area ? dl_gtk_dialog_get_action_area(dialog) : dialog->action_area;
}

GtkWidget* NewLabel(const std::string& text) {
  GtkWidget* label = dl_gtk_label_new(ToGtk(text).c_str());
  dl_gtk_label_set_line_wrap(GTK_LABEL(label), FALSE);
  dl_gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.0f);
  return label;
}

// A modal dialog with the standard "gtk-ok" (1) and "gtk-cancel" (0).
GtkWidget* NewOkCancelDialog() {
  GtkWidget* dialog = PrepareDialog(dl_gtk_dialog_new());
  if (!dialog) return nullptr;
  GtkDialog* d = GTK_DIALOG(dialog);
  dl_gtk_dialog_add_button(d, "gtk-ok", 1);
  dl_gtk_dialog_add_button(d, "gtk-cancel", 0);
  dl_gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  return dialog;
}

// Own labels: each non-empty one answers its 1-based position, the last 0.
void AddOwnButtons(GtkDialog* dialog, const std::string& text) {
  std::vector<std::string> labels;
  for (size_t start = 0;;) {
    size_t bar = text.find('|', start);
    labels.push_back(text.substr(start, bar == std::string::npos ? bar : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  for (size_t i = 0; i < labels.size(); ++i) {
    if (labels[i].empty()) continue;
    int response = i + 1 == labels.size() ? 0 : int(i + 1);
    dl_gtk_dialog_add_button(dialog, ToGtk(labels[i]).c_str(), response);
  }
}

void AddSystemButtons(GtkDialog* dialog, int kind, const std::string& text) {
  switch (kind) {
    case 0:
      dl_gtk_dialog_add_button(dialog, "gtk-ok", 1);
      dl_gtk_dialog_add_button(dialog, "gtk-cancel", 0);
      break;
    case 1:
      dl_gtk_dialog_add_button(dialog, "gtk-yes", 1);
      dl_gtk_dialog_add_button(dialog, "gtk-no", 0);
      break;
    case 2:
      dl_gtk_dialog_add_button(dialog, "gtk-yes", 1);
      dl_gtk_dialog_add_button(dialog, "gtk-no", 2);
      dl_gtk_dialog_add_button(dialog, "gtk-cancel", 0);
      break;
    case 4: AddOwnButtons(dialog, text); break;
    default: dl_gtk_dialog_add_button(dialog, "gtk-ok", 0); break;
  }
}

// Keeps only digits, '-' and '.' of typed or pasted text (numbers-only
// string requester). Called by GTK from C: nothing here may throw.
void KeepNumberCharacters(GtkEditable* editable, gchar* text, gint length, gint* position, gpointer) {
  size_t n = length < 0 ? std::strlen(text) : size_t(length);
  char* kept = static_cast<char*>(std::malloc(n + 1));
  if (!kept) {
    dl_g_signal_stop_emission_by_name(editable, "insert_text");
    return;
  }
  size_t k = 0;
  for (size_t i = 0; i < n; ++i)
    if ((text[i] >= '0' && text[i] <= '9') || text[i] == '-' || text[i] == '.') kept[k++] = text[i];
  kept[k] = 0;
  if (k != n) {
    gpointer self = reinterpret_cast<gpointer>(KeepNumberCharacters);
    dl_g_signal_handlers_block_matched(editable, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr, self, nullptr);
    if (k) dl_gtk_editable_insert_text(editable, kept, gint(k), position);
    dl_g_signal_handlers_unblock_matched(editable, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr, self, nullptr);
    dl_g_signal_stop_emission_by_name(editable, "insert_text");
  }
  std::free(kept);
}

}  // namespace

int RunSystemDialog() {
  vlGtkRequest& r = gGtkRequest;
  GtkWidget* dialog = PrepareDialog(dl_gtk_dialog_new());
  if (!dialog) return -1;
  GtkDialog* d = GTK_DIALOG(dialog);
  AddSystemButtons(d, r.buttonKind, r.buttons);
  dl_gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  dl_gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  dl_gtk_container_set_border_width(GTK_CONTAINER(dialog), 5);
  GtkWidget* row = dl_gtk_hbox_new(FALSE, 12);
  dl_gtk_container_set_border_width(GTK_CONTAINER(row), 5);
  static const char* const kIcons[] = {"gtk-dialog-info", "gtk-dialog-error", "gtk-dialog-warning",
                                       "gtk-dialog-question"};
  if (r.icon >= 1 && r.icon <= 4) {
    GtkWidget* image = dl_gtk_image_new_from_stock(kIcons[r.icon - 1], GTK_ICON_SIZE_DIALOG);
    dl_gtk_misc_set_alignment(GTK_MISC(image), 0.5f, 0.0f);
    dl_gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  }
  dl_gtk_box_pack_start(GTK_BOX(row), NewLabel(r.body), TRUE, TRUE, 0);
  GtkWidget* content = ContentArea(d);
  dl_gtk_box_set_spacing(GTK_BOX(content), 14);
  dl_gtk_box_pack_start(GTK_BOX(content), row, FALSE, FALSE, 0);
  dl_gtk_box_set_spacing(GTK_BOX(ActionArea(d)), 6);
  dl_gtk_widget_show_all(dialog);
  int reply = RunDialog(dialog);
  DestroyDialog(dialog);
  return reply;
}

int RunStringDialog() {
  vlGtkRequest& r = gGtkRequest;
  GtkWidget* dialog = NewOkCancelDialog();
  if (!dialog) return -1;
  GtkDialog* d = GTK_DIALOG(dialog);
  dl_gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  dl_gtk_container_set_border_width(GTK_CONTAINER(dialog), 5);
  GtkWidget* column = dl_gtk_vbox_new(FALSE, 12);
  dl_gtk_container_set_border_width(GTK_CONTAINER(column), 5);
  dl_gtk_box_pack_start(GTK_BOX(column), NewLabel(r.body), FALSE, FALSE, 0);
  GtkWidget* entry = dl_gtk_entry_new();
  GtkEntry* e = GTK_ENTRY(entry);
  if (r.maximum > 0) dl_gtk_entry_set_max_length(e, r.maximum);
  if (r.password) dl_gtk_entry_set_visibility(e, FALSE);
  dl_gtk_entry_set_text(e, ToGtk(r.defaultText).c_str());
  // Return in the entry answers with the default response.
  if (dl_gtk_entry_set_activates_default) dl_gtk_entry_set_activates_default(e, TRUE);
  if (r.type == 3)
    dl_g_signal_connect_data(entry, "insert_text", G_CALLBACK(KeepNumberCharacters), nullptr, nullptr,
                             GConnectFlags(0));
  dl_gtk_box_pack_start(GTK_BOX(column), entry, FALSE, FALSE, 0);
  dl_gtk_box_pack_start(GTK_BOX(ContentArea(d)), column, TRUE, TRUE, 0);
  dl_gtk_dialog_set_default_response(d, 1);
  dl_gtk_widget_show_all(dialog);
  int reply = RunDialog(dialog);
  if (reply == 1) r.resultText = FromGtk(dl_gtk_entry_get_text(e));
  DestroyDialog(dialog);
  return reply;
}

int RunListDialog() {
  vlGtkRequest& r = gGtkRequest;
  GtkWidget* dialog = NewOkCancelDialog();
  if (!dialog) return -1;
  GtkDialog* d = GTK_DIALOG(dialog);
  GtkWidget* column = dl_gtk_vbox_new(FALSE, 12);
  dl_gtk_container_set_border_width(GTK_CONTAINER(column), 5);
  if (!r.body.empty()) dl_gtk_box_pack_start(GTK_BOX(column), NewLabel(r.body), FALSE, FALSE, 0);

  GType types[1] = {G_TYPE_STRING};
  GtkListStore* store = dl_gtk_list_store_newv(1, types);
  for (size_t i = 0; i < r.choices.size(); ++i) {
    GtkTreeIter iter;
    dl_gtk_list_store_insert(store, &iter, gint(i));
    // Shown as markup: the choice's own '<' and '&' must stay text.
    gchar* escaped = dl_g_markup_escape_text(ToGtk(r.choices[i]).c_str(), -1);
    dl_gtk_list_store_set(store, &iter, 0, escaped, -1);
    dl_g_free(escaped);
  }
  GtkWidget* list = dl_gtk_tree_view_new();
  GtkTreeView* view = GTK_TREE_VIEW(list);
  dl_gtk_tree_view_set_model(view, GTK_TREE_MODEL(store));
  dl_g_object_unref(store);
  dl_gtk_tree_view_set_headers_visible(view, FALSE);
  GtkCellRenderer* renderer = dl_gtk_cell_renderer_text_new();
  dl_gtk_tree_view_append_column(view,
                                 dl_gtk_tree_view_column_new_with_attributes("unnamed", renderer, "markup", 0, nullptr));
  GtkTreeSelection* selection = dl_gtk_tree_view_get_selection(view);
  if (r.defaultIndex >= 0 && size_t(r.defaultIndex) < r.choices.size()) {
    GtkTreePath* path = dl_gtk_tree_path_new_from_indices(r.defaultIndex, -1);
    dl_gtk_tree_selection_select_path(selection, path);
    dl_gtk_tree_view_scroll_to_cell(view, path, nullptr, FALSE, 0.0f, 0.0f);
    dl_gtk_tree_path_free(path);
  } else {
    dl_gtk_tree_selection_unselect_all(selection);
  }
  GtkWidget* scrolled = dl_gtk_scrolled_window_new(nullptr, nullptr);
  dl_gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  dl_gtk_widget_set_size_request(scrolled, 250, 200);
  dl_gtk_container_add(GTK_CONTAINER(scrolled), list);
  dl_gtk_box_pack_start(GTK_BOX(column), scrolled, TRUE, TRUE, 0);
  dl_gtk_box_pack_start(GTK_BOX(ContentArea(d)), column, TRUE, TRUE, 0);
  dl_gtk_widget_show_all(dialog);

  int reply = RunDialog(dialog);
  if (reply == 1) {
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (dl_gtk_tree_selection_get_selected(selection, &model, &iter)) {
      GtkTreePath* path = dl_gtk_tree_model_get_path(model, &iter);
      gint* indices = path ? dl_gtk_tree_path_get_indices(path) : nullptr;
      r.resultIndex = indices ? indices[0] : -1;
      if (path) dl_gtk_tree_path_free(path);
    }
  }
  DestroyDialog(dialog);
  return reply;
}

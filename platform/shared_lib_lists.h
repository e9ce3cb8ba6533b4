// The symbol lists of the optional system libraries, one X-macro list per
// library: X(symbol, flags). The loader and the pointer declarations are
// both made from these lists, so a symbol cannot be declared without being
// loaded and checked. This header includes no system header, so fake
// libraries for tests can be built from the same lists.
#pragma once

// A silent symbol may be missing without a warning and without disabling
// its library; its pointer is then null and callers test it.
#define VL_SYM_REQUIRED 0
#define VL_SYM_SILENT 1

#define VL_ALSA_SYMBOLS(X)                             \
  X(snd_pcm_open, VL_SYM_REQUIRED)                     \
  X(snd_pcm_close, VL_SYM_REQUIRED)                    \
  X(snd_pcm_prepare, VL_SYM_REQUIRED)                  \
  X(snd_pcm_writei, VL_SYM_REQUIRED)                   \
  X(snd_pcm_status, VL_SYM_REQUIRED)                   \
  X(snd_pcm_drop, VL_SYM_REQUIRED)                     \
  X(snd_pcm_hw_params, VL_SYM_REQUIRED)                \
  X(snd_pcm_hw_params_any, VL_SYM_REQUIRED)            \
  X(snd_pcm_hw_params_malloc, VL_SYM_REQUIRED)         \
  X(snd_pcm_hw_params_free, VL_SYM_REQUIRED)           \
  X(snd_pcm_hw_params_set_access, VL_SYM_REQUIRED)     \
  X(snd_pcm_hw_params_set_format, VL_SYM_REQUIRED)     \
  X(snd_pcm_hw_params_set_rate_near, VL_SYM_REQUIRED)  \
  X(snd_pcm_hw_params_set_channels, VL_SYM_REQUIRED)   \
  X(snd_pcm_status_get_trigger_tstamp, VL_SYM_REQUIRED) \
  X(snd_pcm_status_get_tstamp, VL_SYM_REQUIRED)        \
  X(snd_pcm_status_sizeof, VL_SYM_REQUIRED)            \
  X(snd_pcm_status_get_state, VL_SYM_REQUIRED)         \
  X(snd_pcm_status_malloc, VL_SYM_REQUIRED)            \
  X(snd_pcm_status_free, VL_SYM_REQUIRED)              \
  X(snd_pcm_recover, VL_SYM_REQUIRED)                  \
  X(snd_pcm_hw_params_get_buffer_size, VL_SYM_REQUIRED) \
  X(snd_pcm_hw_params_set_buffer_time_near, VL_SYM_REQUIRED) \
  X(snd_pcm_state, VL_SYM_REQUIRED)                    \
  X(snd_pcm_avail, VL_SYM_SILENT)                      \
  X(snd_lib_error_set_handler, VL_SYM_SILENT)          \
  X(snd_pcm_resume, VL_SYM_REQUIRED)

#define VL_XFIXES_SYMBOLS(X)                   \
  X(XFixesQueryVersion, VL_SYM_REQUIRED)       \
  X(XFixesQueryExtension, VL_SYM_REQUIRED)     \
  X(XFixesCreateRegion, VL_SYM_REQUIRED)       \
  X(XFixesDestroyRegion, VL_SYM_REQUIRED)      \
  X(XFixesUnionRegion, VL_SYM_REQUIRED)        \
  X(XFixesSetWindowShapeRegion, VL_SYM_REQUIRED) \
  X(XFixesSelectSelectionInput, VL_SYM_REQUIRED)

#define VL_XCURSOR_SYMBOLS(X)              \
  X(XcursorImageCreate, VL_SYM_REQUIRED)   \
  X(XcursorImageDestroy, VL_SYM_REQUIRED)  \
  X(XcursorImageLoadCursor, VL_SYM_REQUIRED)

#define VL_XVIDMODE_SYMBOLS(X)                    \
  X(XF86VidModeQueryExtension, VL_SYM_REQUIRED)   \
  X(XF86VidModeGetAllModeLines, VL_SYM_REQUIRED)  \
  X(XF86VidModeSwitchToMode, VL_SYM_REQUIRED)     \
  X(XF86VidModeSetViewPort, VL_SYM_REQUIRED)

#define VL_PANGO_SYMBOLS(X)                               \
  X(pango_font_description_from_string, VL_SYM_REQUIRED) \
  X(pango_font_description_get_family, VL_SYM_REQUIRED)  \
  X(pango_font_description_free, VL_SYM_REQUIRED)        \
  X(pango_font_description_get_style, VL_SYM_REQUIRED)   \
  X(pango_font_description_get_weight, VL_SYM_REQUIRED)

#define VL_XRANDR_SYMBOLS(X)                        \
  X(XRRGetScreenResourcesCurrent, VL_SYM_REQUIRED)  \
  X(XRRGetOutputInfo, VL_SYM_REQUIRED)              \
  X(XRRGetCrtcInfo, VL_SYM_REQUIRED)                \
  X(XRRFreeScreenResources, VL_SYM_REQUIRED)        \
  X(XRRFreeOutputInfo, VL_SYM_REQUIRED)             \
  X(XRRFreeCrtcInfo, VL_SYM_REQUIRED)               \
  X(XRRGetScreenResources, VL_SYM_REQUIRED)         \
  X(XRRSetCrtcConfig, VL_SYM_REQUIRED)              \
  X(XRRQueryExtension, VL_SYM_REQUIRED)             \
  X(XRRQueryVersion, VL_SYM_REQUIRED)

#define VL_XSS_SYMBOLS(X)                         \
  X(XScreenSaverQueryExtension, VL_SYM_REQUIRED)  \
  X(XScreenSaverQueryVersion, VL_SYM_REQUIRED)    \
  X(XScreenSaverSuspend, VL_SYM_REQUIRED)

// MIT-SHM of libXext: pictures reach a server on the same host through a
// shared segment instead of the socket.
#define VL_XEXT_SYMBOLS(X)               \
  X(XShmQueryExtension, VL_SYM_REQUIRED) \
  X(XShmAttach, VL_SYM_REQUIRED)         \
  X(XShmDetach, VL_SYM_REQUIRED)         \
  X(XShmPutImage, VL_SYM_REQUIRED)

// The type getters of this list (names ending in _get_type) also get
// forwarding functions under their own names, which the toolkit's cast
// macros call.
#define VL_GTK_SYMBOLS(X)                                          \
  X(gtk_init, VL_SYM_REQUIRED)                                     \
  X(gtk_init_check, VL_SYM_SILENT)                                 \
  X(gtk_dialog_new, VL_SYM_REQUIRED)                               \
  X(gtk_dialog_add_button, VL_SYM_REQUIRED)                        \
  X(gtk_dialog_set_default_response, VL_SYM_REQUIRED)              \
  X(gtk_dialog_run, VL_SYM_REQUIRED)                               \
  X(gtk_dialog_response, VL_SYM_REQUIRED)                          \
  X(gtk_dialog_get_action_area, VL_SYM_SILENT)                     \
  X(gtk_dialog_get_content_area, VL_SYM_SILENT)                    \
  X(gtk_window_set_title, VL_SYM_REQUIRED)                         \
  X(gtk_window_set_modal, VL_SYM_REQUIRED)                         \
  X(gtk_window_set_resizable, VL_SYM_REQUIRED)                     \
  X(gtk_label_new, VL_SYM_REQUIRED)                                \
  X(gtk_label_set_text, VL_SYM_REQUIRED)                           \
  X(gtk_label_set_line_wrap, VL_SYM_REQUIRED)                      \
  X(gtk_misc_set_alignment, VL_SYM_REQUIRED)                       \
  X(gtk_hbox_new, VL_SYM_REQUIRED)                                 \
  X(gtk_vbox_new, VL_SYM_REQUIRED)                                 \
  X(gtk_box_pack_start, VL_SYM_REQUIRED)                           \
  X(gtk_box_set_spacing, VL_SYM_REQUIRED)                          \
  X(gtk_container_set_border_width, VL_SYM_REQUIRED)               \
  X(gtk_widget_destroy, VL_SYM_REQUIRED)                           \
  X(gtk_widget_show_all, VL_SYM_REQUIRED)                          \
  X(gtk_file_filter_new, VL_SYM_REQUIRED)                          \
  X(gtk_file_filter_set_name, VL_SYM_REQUIRED)                     \
  X(gtk_file_filter_add_pattern, VL_SYM_REQUIRED)                  \
  X(gtk_file_chooser_dialog_new, VL_SYM_REQUIRED)                  \
  X(gtk_file_chooser_set_select_multiple, VL_SYM_REQUIRED)         \
  X(gtk_file_chooser_set_do_overwrite_confirmation, VL_SYM_REQUIRED) \
  X(gtk_file_chooser_add_filter, VL_SYM_REQUIRED)                  \
  X(gtk_file_chooser_set_filter, VL_SYM_REQUIRED)                  \
  X(gtk_file_chooser_get_filename, VL_SYM_REQUIRED)                \
  X(gtk_file_chooser_set_filename, VL_SYM_REQUIRED)                \
  X(gtk_file_chooser_get_filenames, VL_SYM_REQUIRED)               \
  X(gtk_file_chooser_set_current_folder, VL_SYM_REQUIRED)          \
  X(gtk_editable_insert_text, VL_SYM_REQUIRED)                     \
  X(gtk_entry_new, VL_SYM_REQUIRED)                                \
  X(gtk_entry_set_visibility, VL_SYM_REQUIRED)                     \
  X(gtk_entry_set_max_length, VL_SYM_REQUIRED)                     \
  X(gtk_entry_set_text, VL_SYM_REQUIRED)                           \
  X(gtk_entry_get_text, VL_SYM_REQUIRED)                           \
  X(gtk_image_new_from_stock, VL_SYM_REQUIRED)                     \
  X(gtk_dialog_get_type, VL_SYM_REQUIRED)                          \
  X(gtk_window_get_type, VL_SYM_REQUIRED)                          \
  X(gtk_label_get_type, VL_SYM_REQUIRED)                           \
  X(gtk_misc_get_type, VL_SYM_REQUIRED)                            \
  X(gtk_entry_get_type, VL_SYM_REQUIRED)                           \
  X(gtk_file_chooser_get_type, VL_SYM_REQUIRED)                    \
  X(gtk_box_get_type, VL_SYM_REQUIRED)                             \
  X(gtk_container_get_type, VL_SYM_REQUIRED)                       \
  X(gtk_editable_get_type, VL_SYM_REQUIRED)                        \
  X(gdk_drawable_get_type, VL_SYM_REQUIRED)                        \
  X(gdk_window_object_get_type, VL_SYM_REQUIRED)                   \
  X(gtk_widget_get_type, VL_SYM_REQUIRED)                          \
  X(gdk_x11_drawable_get_xid, VL_SYM_REQUIRED)                     \
  X(gtk_widget_realize, VL_SYM_REQUIRED)                           \
  X(gtk_window_present, VL_SYM_REQUIRED)                           \
  X(gtk_color_selection_dialog_get_type, VL_SYM_REQUIRED)          \
  X(gtk_color_selection_dialog_new, VL_SYM_REQUIRED)               \
  X(gtk_color_selection_dialog_get_color_selection, VL_SYM_SILENT) \
  X(gtk_color_selection_get_type, VL_SYM_REQUIRED)                 \
  X(gtk_color_selection_set_current_color, VL_SYM_REQUIRED)        \
  X(gtk_color_selection_get_current_color, VL_SYM_REQUIRED)        \
  X(gtk_scrolled_window_get_type, VL_SYM_REQUIRED)                 \
  X(gtk_scrolled_window_new, VL_SYM_REQUIRED)                      \
  X(gtk_scrolled_window_set_policy, VL_SYM_REQUIRED)               \
  X(gtk_tree_view_get_type, VL_SYM_REQUIRED)                       \
  X(gtk_tree_view_column_new_with_attributes, VL_SYM_REQUIRED)     \
  X(gtk_tree_view_new, VL_SYM_REQUIRED)                            \
  X(gtk_cell_renderer_text_new, VL_SYM_REQUIRED)                   \
  X(gtk_tree_view_append_column, VL_SYM_REQUIRED)                  \
  X(gtk_list_store_newv, VL_SYM_REQUIRED)                          \
  X(gtk_tree_view_set_model, VL_SYM_REQUIRED)                      \
  X(gtk_tree_view_get_model, VL_SYM_REQUIRED)                      \
  X(gtk_tree_model_get_type, VL_SYM_REQUIRED)                      \
  X(gtk_widget_set_size_request, VL_SYM_REQUIRED)                  \
  X(gtk_widget_show, VL_SYM_REQUIRED)                              \
  X(gtk_container_add, VL_SYM_REQUIRED)                            \
  X(gtk_list_store_insert, VL_SYM_REQUIRED)                        \
  X(gtk_list_store_set, VL_SYM_REQUIRED)                           \
  X(gtk_tree_view_get_selection, VL_SYM_REQUIRED)                  \
  X(gtk_tree_path_new_from_indices, VL_SYM_REQUIRED)               \
  X(gtk_tree_selection_select_path, VL_SYM_REQUIRED)               \
  X(gtk_tree_path_free, VL_SYM_REQUIRED)                           \
  X(gtk_tree_view_scroll_to_cell, VL_SYM_REQUIRED)                 \
  X(gtk_tree_selection_get_selected, VL_SYM_REQUIRED)              \
  X(gtk_tree_model_get_path, VL_SYM_REQUIRED)                      \
  X(gtk_tree_path_get_indices, VL_SYM_REQUIRED)                    \
  X(gtk_list_store_get_type, VL_SYM_REQUIRED)                      \
  X(gtk_tree_view_set_headers_visible, VL_SYM_REQUIRED)            \
  X(gtk_tree_selection_unselect_all, VL_SYM_REQUIRED)              \
  X(gtk_font_selection_dialog_new, VL_SYM_REQUIRED)                \
  X(gtk_font_selection_dialog_get_font_name, VL_SYM_REQUIRED)      \
  X(gtk_font_selection_dialog_set_font_name, VL_SYM_REQUIRED)      \
  X(gtk_font_selection_dialog_get_type, VL_SYM_REQUIRED)          \
  X(gtk_entry_set_activates_default, VL_SYM_SILENT)                \
  X(gdk_x11_drawable_get_xdisplay, VL_SYM_SILENT)

#define VL_GLIB_SYMBOLS(X)                    \
  X(g_free, VL_SYM_REQUIRED)                  \
  X(g_slist_free, VL_SYM_REQUIRED)            \
  X(g_convert, VL_SYM_REQUIRED)               \
  X(g_main_loop_new, VL_SYM_REQUIRED)         \
  X(g_main_context_iteration, VL_SYM_REQUIRED) \
  X(g_timeout_add, VL_SYM_REQUIRED)            \
  X(g_source_remove, VL_SYM_REQUIRED)          \
  X(g_markup_escape_text, VL_SYM_REQUIRED)

#define VL_GOBJECT_SYMBOLS(X)                          \
  X(g_type_check_instance_cast, VL_SYM_REQUIRED)       \
  X(g_object_unref, VL_SYM_REQUIRED)                   \
  X(g_signal_handlers_block_matched, VL_SYM_REQUIRED)  \
  X(g_signal_handlers_unblock_matched, VL_SYM_REQUIRED) \
  X(g_signal_stop_emission_by_name, VL_SYM_REQUIRED)   \
  X(g_signal_connect_data, VL_SYM_REQUIRED)

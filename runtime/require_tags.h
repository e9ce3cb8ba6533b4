// The require-tags text: per plug-in name a bracketed list of key=value
// pairs handed to the plug-in when start-up opens it, e.g.
//   "myplug [speed=2, title='A B'] other[debug=true]"
#pragma once

struct vlPluginTag;

// Builds the tag list of the entries that name the plug-in (an entry's
// name also matches a longer plug-in name that begins with it; the first
// matching entry ends the walk). 0, 1000, or 1563 on a syntax error (the
// tags built so far are released).
int BuildRequireTags(const char* text, const char* pluginName, vlPluginTag** tags);

// What the player tests of the command libraries share: their fixture, an
// assembler string literal, and applet lines that wait for a video's end.
#pragma once
#include <string>

#include "tests/player/player_harness.h"

namespace vlplayer {

using Libraries = PlayerTest;

// The text as a string literal of the assembler.
inline std::string Lit(const std::string& text) { return "\"" + text + "\""; }

// Applet lines that wait in 20 ms steps, at most the given number, until
// video id has stopped playing; $p is then its IsVideoPlaying. The labels
// start with label.
inline std::string WaitForVideoEnd(const std::string& label, int id, int steps) {
  const std::string v = std::to_string(id);
  return "loadk 5 #0\nloadk 6 #" + std::to_string(steps) + "\nloadk 7 #1\njump " + label + "next\n" + label +
         ":\n.call base=8 wait 1\n.call base=8 isvideoplaying " + v + " -> p\ngetglobal 8 \"p\"\neq 1 8 #0\njump " +
         label + "done\n" + label + "next:\nforloop 5 " + label + "\n" + label + "done:\n";
}

}  // namespace vlplayer

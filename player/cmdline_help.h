// The -HELP output of the player.
#pragma once

// Prints every command-line argument with its help text, grouped under
// the group headings, on the console.
void PrintCmdLineHelp();

// The player's executable: the process entry hands over to start-up.
#include "runtime/os.h"
#include "player/startup.h"

int main(int argc, char** argv) { return ProcessMain(argc, argv, StartUp); }

// The player's executable: the process entry hands over to start-up.
#include "platform/os.h"
#include "runtime/startup.h"

int main(int argc, char** argv) { return ProcessMain(argc, argv, StartUp); }

// The program as users run it, plus the driver of the end-to-end tests: it
// listens for requests when QUORVANE_DRIVER names a socket, and otherwise
// is the plain program. Built under tests/ only; the real program has none
// of it.
#include "Driver.h"
#include "Program.h"

int main(int argc, char** argv)
{
    return RunProgram(argc, argv, [] { Driver::StartFromEnvironment(); });
}

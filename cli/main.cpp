#include "empctl_cli.h"

#ifdef _WIN32
// Read by the mingw-w64 start-up code: 0 keeps the C runtime from globbing
// the command line, where "/?" would match a file named d at the drive root.
extern "C" {
int _dowildcard = 0;
}
#endif

int main(int argc, char** argv) {
    return RunEmpctl(argc, argv);
}

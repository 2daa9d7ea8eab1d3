#include "empctl_cli.h"

int main(int argc, char** argv) {
    return RunEmpctl(argc, argv);
}

// Command-line front end: one option in, one action run, an exit status out.
#pragma once

enum class EmpAction { Show = 0, Disable = 1, Restore = 2 };

#define EMPCTL_EXIT_SUCCESS 0
#define EMPCTL_EXIT_NO_DEVICE (-1)

void PrintUsage(void);
void PrintInvalidOptions(void);

// The program entry's work: ArgumentCount and Arguments as main receives
// them, the program name first. Returns the process exit status.
int RunEmpctl(int ArgumentCount, char** Arguments);

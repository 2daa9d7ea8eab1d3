// The things the tool does with the EMP setting. Each tells its outcome on
// standard output and returns nothing: no outcome changes the exit status.
#pragma once

#include <stdint.h>

void ShowEmpSetting(void);

// Writes Target, then reads the setting back and confirms it only when the
// driver reports success and the byte read is Target.
void ChangeEmpSetting(uint8_t Target);

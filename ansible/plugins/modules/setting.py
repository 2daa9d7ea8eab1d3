# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The empctl developers
# MIT License (see the LICENSE file of the empctl project)

# The documentation of the setting action; the action itself runs on the
# controller (plugins/action/setting.py) and sends no module to the host.

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type


DOCUMENTATION = r'''
---
module: setting
short_description: Show, disable or enable EMP on COM2 with the empctl tool
version_added: 1.0.0
description:
  - Runs the C(empctl) tool on the host through the connection's own shell, as M(ansible.builtin.raw) does. No
    module is copied to the host and no Python is needed there, so it works over WinRM, PSRP or SSH to Windows
    (PowerShell or cmd) and on POSIX hosts alike.
  - It first runs C(empctl /s). If the setting already is the wanted one, nothing more runs. Otherwise it runs
    C(empctl /d) or C(empctl /r) once and reports the host as changed only when the tool confirms the change.
    It runs the tool at most twice per host and never retries.
  - The tool itself ends with exit status 0 after a failed write or a setting that did not verify; this action
    reads the tool's messages instead and reports every such outcome as failed, with the tool's own lines.
  - A change takes effect only after the power has been removed from the server and restored. This action never
    does that; it returns I(power_cycle_required).
options:
  state:
    description:
      - C(enabled) or C(disabled) makes EMP on COM2 so.
      - C(query) only reads the setting and never changes anything; it fails when the setting cannot be read as
        one of the two known values.
    type: str
    required: true
    choices: [ enabled, disabled, query ]
  executable:
    description:
      - The tool on the host, a bare name found on the host's C(PATH) or a full path.
      - A Windows path such as C(C:\Program Files\empctl\empctl.exe) is quoted for the host's shell.
    type: str
    default: empctl
attributes:
  check_mode:
    description: Can run in check mode and return changed status prediction without modifying target.
    support: full
    details:
      - Check mode still runs C(empctl /s) to read the setting; it never sends a write.
  diff_mode:
    description: Will return details on what has changed (or possibly needs changing in check mode), when in diff mode.
    support: full
  platform:
    description: Target OS/families that can be operated against.
    support: full
    platforms: [ posix, windows ]
notes:
  - On Windows hosts the command is run by PowerShell, which is what the WinRM and PSRP connections do and also what
    the SSH connection does for the C(powershell) and C(cmd) shell types.
  - A setting that reads as neither value (a mismatch or a failed read) is C(unknown); C(enabled) and C(disabled)
    then try the change.
seealso:
  - module: ansible.builtin.raw
author:
  - The empctl developers
'''

EXAMPLES = r'''
- name: Disable EMP on COM2
  empctl.emp.setting:
    state: disabled
  register: emp

- name: Tell which servers need a power cycle
  ansible.builtin.debug:
    msg: Remove the power from {{ inventory_hostname }} for 20 seconds
  when: emp.power_cycle_required

- name: Enable EMP on COM2 with the program at a Windows path
  empctl.emp.setting:
    state: enabled
    executable: C:\Program Files\empctl\empctl.exe

- name: Read the setting only
  empctl.emp.setting:
    state: query
'''

RETURN = r'''
before:
  description: The setting before the task, C(enabled), C(disabled) or C(unknown) (a mismatch, a failed read, or no driver).
  returned: always
  type: str
  sample: enabled
after:
  description:
    - The setting after the task, or the one it would have in check mode.
    - C(unknown) when a change was tried and not confirmed.
  returned: always
  type: str
  sample: disabled
power_cycle_required:
  description:
    - Whether the server must have its power removed and restored for the setting to take effect. True when a
      change was made (or would be, in check mode), and when the driver took a write that did not verify.
  returned: always
  type: bool
  sample: true
msg:
  description:
    - The tool's own line for the outcome. On failure, each failure line the tool printed (write failure,
      read-back failure, mismatch), word for word, one per line; or what the shell said when the tool could not
      be run.
  returned: always
  type: str
  sample: EMP on com2 has been disabled!
runs:
  description: Each run of the tool, in order (one or two).
  returned: always
  type: list
  elements: dict
  contains:
    cmd:
      description: The command line sent to the host's shell.
      type: str
      sample: empctl /s
    rc:
      description: The exit status the shell reported.
      type: int
      sample: 0
    stdout:
      description: The tool's output, lines ending in CR LF on Windows and LF elsewhere.
      type: str
      sample: "\n\nEMP on Com2 port is currently enabled!\n\n"
    stderr:
      description: What the shell printed on standard error.
      type: str
      sample: ""
diff:
  description: The setting before and after, in diff mode.
  returned: diff mode
  type: dict
  sample: {"before": "enabled\n", "after": "disabled\n"}
'''

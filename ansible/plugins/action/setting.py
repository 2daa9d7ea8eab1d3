# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The empctl developers
# MIT License (see the LICENSE file of the empctl project)

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import re

from ansible.plugins.action import ActionBase

# The tool's messages as it prints them, one line each. Blank lines are not
# compared: a Windows transport may re-emit the tool's output line by line.
SHOWS_ENABLED = 'EMP on Com2 port is currently enabled!'
SHOWS_DISABLED = 'EMP on Com2 port is currently disabled!'
NO_DEVICE = 'Unable to open handle to IPMI driver!'
WROTE = 'Successfully wrote IPMI setting'
POWER_CYCLE_NOTICE = ('Please shutdown the system, remove both power cords from the system for 20 seconds, '
                      'reinsert line cables and reboot for the settings to take effect.')
CONFIRMATIONS = {
    'disabled': ('EMP on com2 has been disabled!', POWER_CYCLE_NOTICE),
    'enabled': ('EMP on Com2 port has been enabled!', POWER_CYCLE_NOTICE),
}
SHOW_MISMATCH = re.compile(r'IPMI status 0x[0-9a-f]+ read 0x[0-9a-f]+, expected 0x34 or 0xb4\Z')
CHANGE_MISMATCH = re.compile(r'IPMI status 0x[0-9a-f]+ read 0x[0-9a-f]+, expected 0x(34|b4)\Z')
WRITE_FAILURE = re.compile(r'Could not write IPMI setting, status = 0x[0-9a-f]+\Z')
READBACK_FAILURE = re.compile(r'Could not readback IPMI setting, status = 0x[0-9a-f]+\Z')

SHOW_OPTION = '/s'
CHANGE_OPTIONS = {'disabled': '/d', 'enabled': '/r'}
UNKNOWN = 'unknown'

ARGUMENT_SPEC = {
    'state': {'type': 'str', 'required': True, 'choices': ['enabled', 'disabled', 'query']},
    'executable': {'type': 'str', 'default': 'empctl'},
}

# Characters PowerShell reads as a single quote; each is doubled inside a
# single-quoted string.
_POWERSHELL_QUOTES = re.compile(u"(['\u2018\u2019\u201a\u201b])")


def output_lines(output):
    """The non-blank lines of the tool's output, with CR LF or LF endings."""
    return [line for line in (part.rstrip('\r') for part in output.split('\n')) if line]


def has_message(lines, message):
    """Whether the message's lines appear one after another in lines."""
    count = len(message)
    return any(tuple(lines[start:start + count]) == message for start in range(len(lines) - count + 1))


def read_show(output):
    """Reads the output of /s.

    Returns (state, line): state is 'enabled', 'disabled', 'unknown' (a
    mismatch or a failed read), 'no-device', or None when the output holds
    none of the show texts; line is the tool's line that says so.
    """
    lines = output_lines(output)
    if NO_DEVICE in lines:
        return 'no-device', NO_DEVICE
    if SHOWS_ENABLED in lines:
        return 'enabled', SHOWS_ENABLED
    if SHOWS_DISABLED in lines:
        return 'disabled', SHOWS_DISABLED
    for line in lines:
        if SHOW_MISMATCH.match(line) or READBACK_FAILURE.match(line):
            return UNKNOWN, line
    return None, None


def read_change(output, wanted):
    """Reads the output of /d (wanted 'disabled') or /r (wanted 'enabled').

    Returns a dict: confirmed (the target's confirmation is there), wrote
    (the driver took a write), failures (the failure lines in the order the
    tool printed them), no_device, and recognised (any of the tool's texts).
    """
    lines = output_lines(output)
    failures = [line for line in lines
                if WRITE_FAILURE.match(line) or READBACK_FAILURE.match(line) or CHANGE_MISMATCH.match(line)]
    confirmed = has_message(lines, CONFIRMATIONS[wanted])
    wrote = WROTE in lines
    no_device = NO_DEVICE in lines
    return {
        'confirmed': confirmed,
        'wrote': wrote,
        'failures': failures,
        'no_device': no_device,
        'recognised': confirmed or wrote or no_device or bool(failures),
    }


def quote_powershell(value):
    """value as one PowerShell single-quoted string."""
    return u"'%s'" % _POWERSHELL_QUOTES.sub(u'\\1\\1', value)


def build_command(shell, executable, option):
    """The command line that runs the tool with option in the connection's shell."""
    if getattr(shell, '_IS_WINDOWS', False):
        # WinRM and PSRP run a raw command as PowerShell, and so does SSH to
        # Windows with either the powershell or the cmd shell type (the
        # command goes to powershell.exe -EncodedCommand). The call operator
        # takes a quoted path or a bare name found on PATH.
        return u'& %s %s' % (quote_powershell(executable), option)
    return u'%s %s' % (shell.quote(executable), option)


def describe_run(run):
    """What the shell said about a run, on one line."""
    said = output_lines(run['stderr']) + output_lines(run['stdout'])
    return ' '.join(said) if said else '(no output)'


def not_empctl_message(executable, run):
    return "Could not run empctl as '%s' (rc %s): %s" % (executable, run['rc'], describe_run(run))


class ActionModule(ActionBase):

    TRANSFERS_FILES = False

    def _run_tool(self, executable, option, runs):
        command = build_command(self._connection._shell, executable, option)
        # Like ansible.builtin.raw: straight to the connection's shell, no
        # module and no interpreter on the host.
        outcome = self._low_level_execute_command(command, executable=False)
        run = {
            'cmd': command,
            'rc': outcome.get('rc'),
            'stdout': outcome.get('stdout', u''),
            'stderr': outcome.get('stderr', u''),
        }
        runs.append(run)
        return run

    def run(self, tmp=None, task_vars=None):
        self._supports_check_mode = True
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp

        dummy, args = self.validate_argument_spec(argument_spec=ARGUMENT_SPEC)
        state = args['state']
        executable = args['executable']
        if not executable:
            result.update(failed=True, msg='executable must not be empty')
            return result

        runs = []
        result.update(changed=False, power_cycle_required=False, runs=runs)
        show = self._run_tool(executable, SHOW_OPTION, runs)
        before, line = read_show(show['stdout'])
        if before is None:
            result.update(failed=True, before=UNKNOWN, after=UNKNOWN, msg=not_empctl_message(executable, show))
            return self._with_diff(result)
        if before == 'no-device':
            result.update(failed=True, before=UNKNOWN, after=UNKNOWN, msg=line)
            return self._with_diff(result)

        result['before'] = before
        if state == 'query':
            result.update(after=before, msg=line)
            if before == UNKNOWN:
                result['failed'] = True
            return self._with_diff(result)

        if before == state:
            result.update(after=before, msg=line)
            return self._with_diff(result)

        if self._task.check_mode:
            result.update(changed=True, power_cycle_required=True, after=state,
                          msg='EMP on COM2 would change from %s to %s' % (before, state))
            return self._with_diff(result)

        change = self._run_tool(executable, CHANGE_OPTIONS[state], runs)
        outcome = read_change(change['stdout'], state)
        if outcome['confirmed']:
            result.update(changed=True, power_cycle_required=True, after=state, msg=CONFIRMATIONS[state][0])
            if outcome['failures']:
                # A write that failed, yet the setting read back as wanted.
                result['warnings'] = outcome['failures']
            return self._with_diff(result)

        # changed follows the write: a write the driver took may have moved
        # the setting even though it did not verify.
        result.update(failed=True, changed=outcome['wrote'], power_cycle_required=outcome['wrote'], after=UNKNOWN)
        if outcome['no_device']:
            result['msg'] = NO_DEVICE
        elif outcome['failures']:
            result['msg'] = '\n'.join(outcome['failures'])
        elif outcome['recognised']:
            result['msg'] = "'%s %s' did not confirm the change: %s" % (executable, CHANGE_OPTIONS[state], describe_run(change))
        else:
            result['msg'] = not_empctl_message(executable, change)
        return self._with_diff(result)

    def _with_diff(self, result):
        if self._task.diff:
            result['diff'] = {
                'before_header': 'EMP on COM2',
                'after_header': 'EMP on COM2',
                'before': '%s\n' % result['before'],
                'after': '%s\n' % result['after'],
            }
        return result

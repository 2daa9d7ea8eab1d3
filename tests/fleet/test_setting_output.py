# -*- coding: utf-8 -*-
"""The setting action's reading of the tool's output, and its command quoting.

The tool's texts come from the tool's own test suite (print_expected_texts, the one shared list),
so a changed message fails here. Quoting is checked against Ansible's own shell plugins.

Environment: EMPCTL_EXPECTED_TEXTS (the print_expected_texts program), EMPCTL_COLLECTION_SOURCE
(the collection's folder).
"""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import base64
import importlib.util
import os
import stat
import subprocess
import tempfile
import unittest
from unittest import mock

from ansible.playbook.play_context import PlayContext
from ansible.plugins.loader import connection_loader, shell_loader

import fleet


def load_action():
    path = os.path.join(os.environ['EMPCTL_COLLECTION_SOURCE'], 'plugins', 'action', 'setting.py')
    found = importlib.util.spec_from_file_location('empctl_setting_action', path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


TEXTS = fleet.expected_texts()
ACTION = load_action()
LINE_ENDINGS = ('\n', '\r\n')


def ending(text, line_end):
    return text.replace('\n', line_end)


class ReadShowTest(unittest.TestCase):

    def test_outcomes(self):
        mismatch = TEXTS['FORMAT_SHOW_MISMATCH']
        readback = TEXTS['FORMAT_READBACK_FAILURE']
        cases = [
            # output, state, the tool's line
            (TEXTS['SHOWS_ENABLED'], 'enabled', fleet.message_line(TEXTS['SHOWS_ENABLED'])),
            (TEXTS['SHOWS_DISABLED'], 'disabled', fleet.message_line(TEXTS['SHOWS_DISABLED'])),
            (mismatch % (0, 0x35), 'unknown', 'IPMI status 0x0 read 0x35, expected 0x34 or 0xb4'),
            # A non-zero status outweighs a known setting byte.
            (mismatch % (0xc1, 0xb4), 'unknown', 'IPMI status 0xc1 read 0xb4, expected 0x34 or 0xb4'),
            (mismatch % (0, 0), 'unknown', 'IPMI status 0x0 read 0x0, expected 0x34 or 0xb4'),
            (readback % 1, 'unknown', 'Could not readback IPMI setting, status = 0x1'),
            (readback % 0xffffffff, 'unknown', 'Could not readback IPMI setting, status = 0xffffffff'),
            (TEXTS['NO_DEVICE'], 'no-device', fleet.message_line(TEXTS['NO_DEVICE'])),
            # None of the show texts: not the tool, or not its /s.
            (TEXTS['USAGE'], None, None),
            (TEXTS['INVALID_OPTIONS'] + TEXTS['USAGE'], None, None),
            (TEXTS['WROTE'] + TEXTS['DISABLED_CONFIRMATION'], None, None),
            (TEXTS['FORMAT_DISABLE_MISMATCH'] % (0, 0xb4), None, None),
            ('', None, None),
            ('/s\n', None, None),
            ('sh: 1: empctl: not found\n', None, None),
        ]
        for output, state, line in cases:
            for line_end in LINE_ENDINGS:
                with self.subTest(output=output, line_end=line_end):
                    self.assertEqual(ACTION.read_show(ending(output, line_end)), (state, line))


class ReadChangeTest(unittest.TestCase):

    def test_outcomes(self):
        wrote = TEXTS['WROTE']
        write_failure = TEXTS['FORMAT_WRITE_FAILURE'] % 0x45d
        readback_failure = TEXTS['FORMAT_READBACK_FAILURE'] % 0x57
        targets = {
            'disabled': (TEXTS['DISABLED_CONFIRMATION'], TEXTS['FORMAT_DISABLE_MISMATCH'], TEXTS['ENABLED_CONFIRMATION']),
            'enabled': (TEXTS['ENABLED_CONFIRMATION'], TEXTS['FORMAT_RESTORE_MISMATCH'], TEXTS['DISABLED_CONFIRMATION']),
        }
        for wanted, (confirmation, mismatch_format, other_confirmation) in targets.items():
            mismatch = mismatch_format % (0, 0xc3)
            cases = [
                # output, confirmed, wrote, failure lines, no device
                (wrote + confirmation, True, True, [], False),
                # The write failed, yet the setting read back as wanted.
                (write_failure + confirmation, True, False, [write_failure], False),
                (wrote + mismatch, False, True, [mismatch], False),
                (write_failure + mismatch, False, False, [write_failure, mismatch], False),
                (wrote + readback_failure, False, True, [readback_failure], False),
                (write_failure + readback_failure, False, False, [write_failure, readback_failure], False),
                # The other target's confirmation confirms nothing.
                (wrote + other_confirmation, False, True, [], False),
                # The confirmation line without its power-cycle notice is not the tool's message.
                (wrote + confirmation.replace(TEXTS['POWER_CYCLE_NOTICE'], ''), False, True, [], False),
                (TEXTS['NO_DEVICE'], False, False, [], True),
            ]
            for output, confirmed, did_write, failures, no_device in cases:
                for line_end in LINE_ENDINGS:
                    with self.subTest(wanted=wanted, output=output, line_end=line_end):
                        outcome = ACTION.read_change(ending(output, line_end), wanted)
                        self.assertEqual(outcome['confirmed'], confirmed)
                        self.assertEqual(outcome['wrote'], did_write)
                        self.assertEqual(outcome['failures'], [line.rstrip('\n') for line in failures])
                        self.assertEqual(outcome['no_device'], no_device)
                        self.assertTrue(outcome['recognised'])

    def test_output_that_is_not_a_change(self):
        for output in ('', TEXTS['USAGE'], TEXTS['SHOWS_DISABLED'], TEXTS['SHOWS_ENABLED'], 'sh: 1: empctl: not found\n'):
            for wanted in ('disabled', 'enabled'):
                with self.subTest(output=output, wanted=wanted):
                    outcome = ACTION.read_change(output, wanted)
                    self.assertFalse(outcome['recognised'])
                    self.assertFalse(outcome['confirmed'])


def run_action(args, replies, shell_name='sh', check_mode=False):
    """Runs the action with the shell's replies (rc, stdout, stderr) scripted; returns the
    result and the commands sent."""
    task = mock.MagicMock(args=args, check_mode=check_mode, diff=True, async_val=0)
    shell = shell_loader.get(shell_name)
    connection = mock.MagicMock(_shell=shell)
    action = ACTION.ActionModule(task, connection, PlayContext(), None, None, None)
    sent = []

    def execute(command, **dummy):
        rc, stdout, stderr = replies[len(sent)]
        sent.append(command)
        return {'rc': rc, 'stdout': stdout, 'stderr': stderr}

    action._low_level_execute_command = execute
    return action.run(task_vars={}), sent


class ActionRunTest(unittest.TestCase):
    """Outcomes of a whole run that the simulated driver cannot produce."""

    def test_outcomes(self):
        windows_path = r'C:\Program Files\empctl\empctl.exe'
        crlf = '\r\n'
        write_failure = TEXTS['FORMAT_WRITE_FAILURE'] % 0x45d
        cases = [
            # name, args, shell, replies, expected result (a subset), commands sent
            ('windows change with CR LF', {'state': 'disabled', 'executable': windows_path}, 'powershell',
             [(0, ending(TEXTS['SHOWS_ENABLED'], crlf), ''),
              (0, ending(TEXTS['WROTE'] + TEXTS['DISABLED_CONFIRMATION'], crlf), '')],
             {'changed': True, 'before': 'enabled', 'after': 'disabled', 'power_cycle_required': True,
              'msg': fleet.message_line(TEXTS['DISABLED_CONFIRMATION'])},
             ["& '%s' /s" % windows_path, "& '%s' /d" % windows_path]),
            ('failed write, yet the setting reads back as wanted', {'state': 'disabled'}, 'sh',
             [(0, TEXTS['FORMAT_SHOW_MISMATCH'] % (0xc1, 0x34), ''), (0, write_failure + TEXTS['DISABLED_CONFIRMATION'], '')],
             {'changed': True, 'before': 'unknown', 'after': 'disabled', 'warnings': [write_failure.rstrip('\n')],
              'msg': fleet.message_line(TEXTS['DISABLED_CONFIRMATION'])},
             ['empctl /s', 'empctl /d']),
            ('the other target confirmed', {'state': 'disabled'}, 'sh',
             [(0, TEXTS['SHOWS_ENABLED'], ''), (0, TEXTS['WROTE'] + TEXTS['ENABLED_CONFIRMATION'], '')],
             {'failed': True, 'changed': True, 'after': 'unknown',
              'msg': "'empctl /d' did not confirm the change: " + ' '.join(
                  ACTION.output_lines(TEXTS['WROTE'] + TEXTS['ENABLED_CONFIRMATION']))},
             ['empctl /s', 'empctl /d']),
            ('the driver went away between the runs', {'state': 'enabled'}, 'sh',
             [(0, TEXTS['SHOWS_DISABLED'], ''), (255, TEXTS['NO_DEVICE'], '')],
             {'failed': True, 'changed': False, 'after': 'unknown', 'power_cycle_required': False,
              'msg': fleet.message_line(TEXTS['NO_DEVICE'])},
             ['empctl /s', 'empctl /r']),
            ('the program went away between the runs', {'state': 'enabled'}, 'sh',
             [(0, TEXTS['SHOWS_DISABLED'], ''), (127, '', 'sh: 1: empctl: not found\n')],
             {'failed': True, 'changed': False, 'msg': "Could not run empctl as 'empctl' (rc 127): sh: 1: empctl: not found"},
             ['empctl /s', 'empctl /r']),
            ('an empty executable', {'state': 'query', 'executable': ''}, 'sh', [],
             {'failed': True, 'msg': 'executable must not be empty'}, []),
        ]
        for name, args, shell_name, replies, expected, commands in cases:
            with self.subTest(name):
                result, sent = run_action(args, replies, shell_name)
                self.assertEqual({key: result.get(key) for key in expected}, expected)
                self.assertEqual(sent, commands)
                self.assertEqual([run['cmd'] for run in result.get('runs', [])], commands)


WINDOWS_PATHS = [
    # executable, as PowerShell must get it
    ('empctl', "'empctl'"),
    (r'C:\Program Files\empctl\empctl.exe', r"'C:\Program Files\empctl\empctl.exe'"),
    (r'C:\Program Files (x86)\empctl\empctl.exe', r"'C:\Program Files (x86)\empctl\empctl.exe'"),
    (r"C:\Users\o'brien\empctl.exe", r"'C:\Users\o''brien\empctl.exe'"),
    (u'C:\\Tools\u2019s\\empctl.exe', u"'C:\\Tools\u2019\u2019s\\empctl.exe'"),
    (r'C:\$env:TEMP\a&b;c\empctl.exe', r"'C:\$env:TEMP\a&b;c\empctl.exe'"),
    (r'C:\100%\`empctl`.exe', r"'C:\100%\`empctl`.exe'"),
]


def decode_encoded_command(parts):
    """The script of a powershell.exe ... -EncodedCommand BASE64 command line."""
    index = parts.index('-EncodedCommand')
    return base64.b64decode(parts[index + 1]).decode('utf-16-le')


class WindowsCommandTest(unittest.TestCase):
    """The powershell and cmd shell types both hand the command to PowerShell."""

    def test_call_operator_with_single_quotes(self):
        for shell_name in ('powershell', 'cmd'):
            shell = shell_loader.get(shell_name)
            for executable, quoted in WINDOWS_PATHS:
                for option in ('/s', '/d', '/r'):
                    with self.subTest(shell=shell_name, executable=executable, option=option):
                        command = ACTION.build_command(shell, executable, option)
                        self.assertEqual(command, u'& %s %s' % (quoted, option))
                        # The shell plugin's own escaping for single quotes agrees.
                        self.assertEqual(quoted, u"'%s'" % shell._escape(executable))

    def test_connection_sends_it_to_powershell_intact(self):
        # What the WinRM connection does with a raw command for these shells.
        for shell_name in ('powershell', 'cmd'):
            shell = shell_loader.get(shell_name)
            for executable, dummy in WINDOWS_PATHS:
                with self.subTest(shell=shell_name, executable=executable):
                    command = ACTION.build_command(shell, executable, '/s')
                    parts = shell._encode_script(command, as_list=True, strict_mode=False, preserve_rc=False)
                    self.assertEqual(parts[0], 'PowerShell')
                    self.assertEqual(decode_encoded_command(parts), command)


    def test_ssh_connection_runs_it_in_powershell(self):
        # Over SSH to Windows the command line goes to the host's shell, cmd.exe or PowerShell,
        # and either starts powershell.exe with the command as its script.
        for shell_name in ('powershell', 'cmd'):
            shell = shell_loader.get(shell_name)
            connection = connection_loader.get('ssh', PlayContext(), '/dev/null', shell=shell)
            connection.set_options(direct={'host': 'server'})
            sent = []
            connection._run = lambda command, in_data, sudoable=True, checkrc=True: sent.append(command) or (0, b'', b'')
            for executable, dummy in WINDOWS_PATHS:
                with self.subTest(shell=shell_name, executable=executable):
                    del sent[:]
                    command = ACTION.build_command(shell, executable, '/s')
                    connection.exec_command(command)
                    remote = sent[0][-1].decode('utf-8').split(' ')
                    self.assertEqual(remote[:3], ['chcp.com', '65001', '>nul' if shell_name == 'cmd' else '>'])
                    self.assertIn('PowerShell', remote)
                    self.assertEqual(decode_encoded_command(remote), command)


class PosixCommandTest(unittest.TestCase):
    """The sh shell type: the quoted command runs the right program with the one option."""

    def test_sh_runs_the_program_at_any_path(self):
        shell = shell_loader.get('sh')
        names = ['empctl', 'with space', "it's", 'a"b', '$(touch pwned)', '`id`', 'semi;colon', 'star*', 'new\nline']
        with tempfile.TemporaryDirectory() as work:
            for name in names:
                with self.subTest(name=name):
                    folder = os.path.join(work, name)
                    os.makedirs(folder)
                    program = os.path.join(folder, 'empctl')
                    with open(program, 'w') as handle:
                        handle.write('#!/bin/sh\nprintf "%s|" "$0" "$@"\n')
                    os.chmod(program, stat.S_IRWXU)
                    for option in ('/s', '/d', '/r'):
                        command = ACTION.build_command(shell, program, option)
                        ran = subprocess.run(['/bin/sh', '-c', command], cwd=work, stdout=subprocess.PIPE,
                                             stderr=subprocess.PIPE, universal_newlines=True)
                        self.assertEqual((ran.returncode, ran.stdout, ran.stderr), (0, '%s|%s|' % (program, option), ''))
            self.assertFalse(os.path.exists(os.path.join(work, 'pwned')))

    def test_bare_name_found_on_path(self):
        shell = shell_loader.get('sh')
        self.assertEqual(ACTION.build_command(shell, 'empctl', '/s'), 'empctl /s')


if __name__ == '__main__':
    unittest.main()

# -*- coding: utf-8 -*-
"""empctl.emp.setting run by ansible-playbook over a fleet of simulated servers.

Each server is its own network namespace with its own ipmidev-sim; the tool runs inside it. The
expected messages and wire lines come from the tool's own test suite (print_expected_texts).
Needs root; exits 77 (skipped) without it.

Environment: EMPCTL_PATH, EMPCTL_SIM_PATH, EMPCTL_EXPECTED_TEXTS, EMPCTL_FLEET_WORK, and the
collection installed by test_collection under EMPCTL_FLEET_WORK/collection/collections.
"""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import os
import sys
import unittest

import fleet

WORK = os.environ['EMPCTL_FLEET_WORK']
COLLECTIONS = os.path.join(WORK, 'collection', 'collections')
FORKS = 8


TEXTS = fleet.expected_texts()
READ = TEXTS['WIRE_READ']
WRITE_DISABLED = TEXTS['WIRE_WRITE_DISABLED']
WRITE_ENABLED = TEXTS['WIRE_WRITE_ENABLED']
DISABLED = TEXTS['SETTING_DISABLED']
ENABLED = TEXTS['SETTING_ENABLED']


line = fleet.message_line
SHOWS_ENABLED = line(TEXTS['SHOWS_ENABLED'])
SHOWS_DISABLED = line(TEXTS['SHOWS_DISABLED'])
CONFIRMED_DISABLED = line(TEXTS['DISABLED_CONFIRMATION'])
CONFIRMED_ENABLED = line(TEXTS['ENABLED_CONFIRMATION'])
NO_DEVICE = line(TEXTS['NO_DEVICE'])
MISSING = '/nonexistent/empctl'

# name, server (sim flags, or None for no driver; other Fleet.add arguments), state,
# then the result: status (ok, changed or failed, as ansible-playbook counts it), changed, before,
# after, msg, power_cycle_required, runs,
# and what the server saw: wire lines, setting byte at the end (None: no driver).
RULES = [
    ('already-enabled', (['--setting', 'b4'], {}), 'enabled',
     'ok', False, 'enabled', 'enabled', SHOWS_ENABLED, False, 1, [READ], ENABLED),
    ('already-disabled', (['--setting', '34'], {}), 'disabled',
     'ok', False, 'disabled', 'disabled', SHOWS_DISABLED, False, 1, [READ], DISABLED),
    ('query-enabled', (['--setting', 'b4'], {}), 'query',
     'ok', False, 'enabled', 'enabled', SHOWS_ENABLED, False, 1, [READ], ENABLED),
    ('disable', (['--setting', 'b4'], {}), 'disabled',
     'changed', True, 'enabled', 'disabled', CONFIRMED_DISABLED, True, 2, [READ, WRITE_DISABLED, READ], DISABLED),
    # CR LF output and a program path with a space and a quote.
    ('enable-crlf', (['--setting', '34'], {'crlf': True, 'folder_name': "EMP tool's bin"}), 'enabled',
     'changed', True, 'disabled', 'enabled', CONFIRMED_ENABLED, True, 2, [READ, WRITE_ENABLED, READ], ENABLED),
    ('unknown-byte-enable', (['--setting', '35'], {}), 'enabled',
     'changed', True, 'unknown', 'enabled', CONFIRMED_ENABLED, True, 2, [READ, WRITE_ENABLED, READ], ENABLED),
    ('unknown-byte-query', (['--setting', '35'], {}), 'query',
     'failed', False, 'unknown', 'unknown', line(TEXTS['FORMAT_SHOW_MISMATCH'], 0, 0x35), False, 1, [READ], 0x35),
    ('missing-driver', (None, {}), 'disabled',
     'failed', False, 'unknown', 'unknown', NO_DEVICE, False, 1, [], None),
    ('write-fails-crlf', (['--setting', '34', '--fail-write', '1f'], {'crlf': True}), 'enabled',
     'failed', False, 'disabled', 'unknown',
     line(TEXTS['FORMAT_WRITE_FAILURE'], 0x1f) + '\n' + line(TEXTS['FORMAT_RESTORE_MISMATCH'], 0, DISABLED),
     False, 2, [READ, WRITE_ENABLED, READ], DISABLED),
    ('not-verified', (['--setting', 'b4', '--keep-setting'], {}), 'disabled',
     'failed', True, 'enabled', 'unknown', line(TEXTS['FORMAT_DISABLE_MISMATCH'], 0, ENABLED),
     True, 2, [READ, WRITE_DISABLED, READ], ENABLED),
    ('bad-status-query', (['--setting', 'b4', '--status', 'c1'], {}), 'query',
     'failed', False, 'unknown', 'unknown', line(TEXTS['FORMAT_SHOW_MISMATCH'], 0xc1, ENABLED), False, 1, [READ], ENABLED),
    ('bad-status-disable', (['--setting', 'b4', '--status', 'c1'], {}), 'disabled',
     'failed', True, 'unknown', 'unknown', line(TEXTS['FORMAT_DISABLE_MISMATCH'], 0xc1, DISABLED),
     True, 2, [READ, WRITE_DISABLED, READ], DISABLED),
    ('short-reply-query', (['--setting', '34', '--read-bytes', '2'], {}), 'query',
     'failed', False, 'unknown', 'unknown', line(TEXTS['FORMAT_SHOW_MISMATCH'], 0, 0), False, 1, [READ], DISABLED),
    ('short-reply-enable', (['--setting', '34', '--read-bytes', '2'], {}), 'enabled',
     'failed', True, 'unknown', 'unknown', line(TEXTS['FORMAT_RESTORE_MISMATCH'], 0, 0),
     True, 2, [READ, WRITE_ENABLED, READ], ENABLED),
    ('read-fails-enable', (['--setting', 'b4', '--fail-read', '1f'], {}), 'enabled',
     'failed', True, 'unknown', 'unknown', line(TEXTS['FORMAT_READBACK_FAILURE'], 0x1f),
     True, 2, [READ, WRITE_ENABLED, READ], ENABLED),
    ('missing-executable', (['--setting', 'b4'], {'executable': MISSING}), 'disabled',
     'failed', False, 'unknown', 'unknown', "Could not run empctl as '%s' (rc 127): /bin/sh: 1: %s: not found" % (MISSING, MISSING),
     False, 1, [], ENABLED),
    ('not-empctl', (['--setting', 'b4'], {'executable': '/bin/echo'}), 'disabled',
     'failed', False, 'unknown', 'unknown', "Could not run empctl as '/bin/echo' (rc 0): /s", False, 1, [], ENABLED),
]

# Servers of RULES whose setting is converged after the first run.
CONVERGED = [rule[0] for rule in RULES if rule[3] != 'failed']


def add_servers(test, rules):
    servers = fleet.Fleet(os.environ['EMPCTL_PATH'], os.environ['EMPCTL_SIM_PATH'], WORK)
    test.addCleanup(servers.close)
    for rule in rules:
        name, (sim_args, options), state = rule[:3]
        servers.add(name, sim_args or (), driver=sim_args is not None, emp_state=state, **options)
    return servers


class FleetTest(unittest.TestCase):
    maxDiff = None

    def assert_all_hosts(self, run, names):
        self.assertEqual(sorted(run.results), sorted(names), run.output)

    def test_every_rule_then_a_second_run(self):
        servers = add_servers(self, RULES)
        first = servers.run_playbook(fleet.SETTING_PLAYBOOK, COLLECTIONS, forks=FORKS, diff=True, verbose=True)
        self.assertEqual(first.returncode, 2, first.output)
        self.assert_all_hosts(first, [rule[0] for rule in RULES])
        for (name, dummy, dummy, status, changed, before, after, msg, power_cycle, runs, wire, setting) in RULES:
            with self.subTest(host=name):
                result = first.results[name]
                self.assertEqual(
                    (first.status(name), result['changed'], result['before'], result['after'], result['msg'],
                     result['power_cycle_required'], len(result['runs'])),
                    (status, changed, before, after, msg, power_cycle, runs))
                self.assertEqual(result['diff'], {'before_header': 'EMP on COM2', 'after_header': 'EMP on COM2',
                                                  'before': before + '\n', 'after': after + '\n'})
                server = servers.server(name)
                self.assertEqual(server.wire(), wire)
                if setting is not None:
                    self.assertEqual(server.setting(), setting)

        second = servers.run_playbook(fleet.SETTING_PLAYBOOK, COLLECTIONS, forks=FORKS, verbose=True)
        for name in CONVERGED:
            with self.subTest(second_run=name):
                result = second.results[name]
                self.assertEqual((second.status(name), result['changed'], len(result['runs'])), ('ok', False, 1))
                self.assertNotIn('diff', result)
                wire = servers.server(name).wire()
                first_wire = next(rule[10] for rule in RULES if rule[0] == name)
                self.assertEqual(wire, first_wire + [READ])

    def test_check_mode_predicts_and_writes_nothing(self):
        rules = [
            # name, server, state, status, before, after
            ('would-disable', ['--setting', 'b4'], 'disabled', 'changed', 'enabled', 'disabled'),
            ('would-enable', ['--setting', '34'], 'enabled', 'changed', 'disabled', 'enabled'),
            ('would-enable-unknown', ['--setting', '35'], 'enabled', 'changed', 'unknown', 'enabled'),
            ('would-disable-bad-status', ['--setting', 'b4', '--status', 'c1'], 'disabled', 'changed', 'unknown', 'disabled'),
            ('already-enabled', ['--setting', 'b4'], 'enabled', 'ok', 'enabled', 'enabled'),
            ('query', ['--setting', '34'], 'query', 'ok', 'disabled', 'disabled'),
            ('query-read-fails', ['--setting', '34', '--fail-read', '1'], 'query', 'failed', 'unknown', 'unknown'),
        ]
        servers = add_servers(self, [(name, (sim_args, {}), state) for name, sim_args, state, *dummy in rules])
        settings = {server.name: server.setting() for server in servers.servers}
        run = servers.run_playbook(fleet.SETTING_PLAYBOOK, COLLECTIONS, forks=FORKS, check=True, diff=True, verbose=True)
        self.assert_all_hosts(run, [rule[0] for rule in rules])
        for name, dummy, dummy, status, before, after in rules:
            with self.subTest(host=name):
                result = run.results[name]
                changed = status == 'changed'
                self.assertEqual(
                    (run.status(name), result['changed'], result['power_cycle_required'], result['before'],
                     result['after'], len(result['runs'])),
                    (status, changed, changed, before, after, 1))
                self.assertEqual((result['diff']['before'], result['diff']['after']), (before + '\n', after + '\n'))
                server = servers.server(name)
                self.assertEqual(server.wire(), [READ])
                self.assertEqual(server.setting(), settings[name])

    def test_bad_options_fail_before_any_run(self):
        servers = add_servers(self, [('server', (['--setting', 'b4'], {}), 'sideways')])
        run = servers.run_playbook(fleet.SETTING_PLAYBOOK, COLLECTIONS, forks=FORKS, verbose=True)
        result = run.results['server']
        self.assertEqual(run.status('server'), 'failed')
        self.assertIn('value of state must be one of: enabled, disabled, query, got: sideways', result['msg'])
        self.assertEqual(servers.server('server').wire(), [])


if __name__ == '__main__':
    if not fleet.can_make_namespaces():
        print('fleet tests need root, ip and nsenter to make network namespaces; skipped')
        sys.exit(77)
    unittest.main()

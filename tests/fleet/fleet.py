# -*- coding: utf-8 -*-
"""A fleet of simulated servers on this machine, for the collection's tests and bench/fleet.

Each server is a network namespace with its own ipmidev-sim, so each has its own \\\\.\\IPMIDEV.
Its `executable` is a wrapper that runs empctl inside that namespace, and the inventory reaches
every server with the local connection. Needs root (ip netns).
"""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import json
import os
import re
import select
import shlex
import shutil
import subprocess
import tempfile
import time

ANSIBLE_PLAYBOOK = '/usr/bin/ansible-playbook'
ANSIBLE_GALAXY = '/usr/bin/ansible-galaxy'
SIM_READY_LINE = b'ipmidev-sim: serving \\\\.\\IPMIDEV\n'
SIM_START_SECONDS = 10
PLAYBOOK_SECONDS = 300

SETTING_PLAYBOOK = '''\
- hosts: all
  gather_facts: false
  tasks:
    - name: EMP on COM2
      empctl.emp.setting:
        state: "{{ emp_state }}"
        executable: "{{ emp_executable }}"
'''

RAW_SHOW_PLAYBOOK = '''\
- hosts: all
  gather_facts: false
  tasks:
    - name: EMP on COM2, shown
      ansible.builtin.raw: "{{ emp_executable }} /s"
'''


def expected_texts():
    """The tool's texts and wire lines from its own test suite (print_expected_texts)."""
    output = subprocess.run([os.environ['EMPCTL_EXPECTED_TEXTS']], stdout=subprocess.PIPE, check=True).stdout
    return json.loads(output.decode('utf-8'))


def message_line(text, *values):
    """The first non-blank line of one of the tool's messages, its placeholders filled."""
    return (text % values if values else text).strip('\n').split('\n')[0]


def can_make_namespaces():
    return os.geteuid() == 0 and shutil.which('ip') is not None and shutil.which('nsenter') is not None


def ansible_environment(work, collections_path=None):
    """An environment for ansible-* that touches nothing outside work."""
    env = dict(os.environ)
    for key in list(env):
        if key.startswith('ANSIBLE_'):
            del env[key]
    config = os.path.join(work, 'ansible.cfg')
    if not os.path.exists(config):
        with open(config, 'w') as handle:
            handle.write('[defaults]\n')
    env.update({
        'ANSIBLE_CONFIG': config,
        'ANSIBLE_HOME': os.path.join(work, 'ansible-home'),
        'ANSIBLE_LOCAL_TEMP': os.path.join(work, 'ansible-tmp'),
        'ANSIBLE_NOCOLOR': '1',
        'ANSIBLE_PYTHON_INTERPRETER': '/usr/bin/python3',
        'ANSIBLE_RETRY_FILES_ENABLED': 'false',
    })
    if collections_path:
        env['ANSIBLE_COLLECTIONS_PATH'] = collections_path
    return env


def build_collection(source, work):
    """Builds and installs the collection; returns (tarball, collections path, build output)."""
    dist = os.path.join(work, 'dist')
    collections = os.path.join(work, 'collections')
    for path in (dist, collections):
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
    env = ansible_environment(work, collections)
    built = subprocess.run([ANSIBLE_GALAXY, 'collection', 'build', source, '--output-path', dist],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True, check=True)
    tarballs = [name for name in os.listdir(dist) if name.endswith('.tar.gz')]
    if len(tarballs) != 1:
        raise RuntimeError('ansible-galaxy built %r' % tarballs)
    tarball = os.path.join(dist, tarballs[0])
    subprocess.run([ANSIBLE_GALAXY, 'collection', 'install', tarball, '-p', collections],
                   env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True, check=True)
    return tarball, collections, built.stdout


RECAP_LINE = re.compile(r'^(\S+)\s+: ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+)\s+'
                        r'skipped=(\d+)\s+rescued=(\d+)\s+ignored=(\d+)', re.MULTILINE)
RECAP_COUNTS = ('ok', 'changed', 'unreachable', 'failed', 'skipped', 'rescued', 'ignored')


class PlaybookRun:
    """results: each host's last task result (the tree callback's); recap: each host's counts."""

    def __init__(self, returncode, output, results, seconds):
        self.returncode = returncode
        self.output = output
        self.results = results
        self.seconds = seconds
        self.recap = {}
        for match in RECAP_LINE.finditer(output):
            self.recap[match.group(1)] = dict(zip(RECAP_COUNTS, (int(count) for count in match.groups()[1:])))

    def status(self, host):
        """'ok', 'changed' or 'failed', as ansible-playbook counted the host's one task."""
        counts = self.recap[host]
        if counts['failed'] or counts['unreachable']:
            return 'failed'
        return 'changed' if counts['changed'] else 'ok'


class Server:
    def __init__(self, name, namespace, folder):
        self.name = name
        self.namespace = namespace
        self.log_path = os.path.join(folder, 'wire.log')
        self.state_path = os.path.join(folder, 'setting')
        self.executable = None
        self.process = None
        self.hostvars = {}

    def wire(self):
        """Requests the simulated driver received, one line each."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path) as handle:
            return handle.read().splitlines()

    def setting(self):
        """The setting byte the simulated driver holds."""
        with open(self.state_path) as handle:
            return int(handle.read().strip(), 16)


class Fleet:
    """Simulated servers; close() tears every one down."""

    def __init__(self, empctl, sim, work=None):
        self.empctl = empctl
        self.sim = sim
        self.work = tempfile.mkdtemp(prefix='empctl-fleet-', dir=work)
        self.servers = []
        self._runs = 0

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def add(self, name, sim_args=(), driver=True, executable=None, folder_name=None, crlf=False, **hostvars):
        """A server with its own namespace and, with driver, an ipmidev-sim started with sim_args.

        executable replaces the wrapper (e.g. a missing program); folder_name names the folder
        that holds the wrapper, to put spaces or quotes in its path; crlf ends the tool's lines in
        CR LF as a Windows host's are. hostvars become the host's inventory variables.
        """
        folder = os.path.join(self.work, name)
        os.makedirs(folder)
        server = Server(name, 'empctl-fleet-%d-%d' % (os.getpid(), len(self.servers)), folder)
        subprocess.run(['ip', 'netns', 'add', server.namespace], check=True)
        self.servers.append(server)
        if driver:
            self._start_sim(server, list(sim_args))
        wrapper_folder = os.path.join(folder, folder_name or 'bin')
        os.makedirs(wrapper_folder)
        wrapper = os.path.join(wrapper_folder, 'empctl')
        run = 'nsenter --net=%s %s "$@"' % (shlex.quote('/run/netns/' + server.namespace), shlex.quote(self.empctl))
        with open(wrapper, 'w') as handle:
            if crlf:
                handle.write("#!/bin/sh\n%s | sed 's/$/\\r/'\n" % run)
            else:
                handle.write('#!/bin/sh\nexec %s\n' % run)
        os.chmod(wrapper, 0o755)
        server.executable = executable if executable is not None else wrapper
        server.hostvars = dict(hostvars, emp_executable=server.executable)
        return server

    def _start_sim(self, server, sim_args):
        command = ['nsenter', '--net=/run/netns/' + server.namespace, self.sim,
                   '--log', server.log_path, '--state', server.state_path] + sim_args
        server.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready = b''
        deadline = time.monotonic() + SIM_START_SECONDS
        while not ready.endswith(b'\n') and time.monotonic() < deadline:
            readable, dummy, dummy = select.select([server.process.stdout], [], [], deadline - time.monotonic())
            if not readable:
                break
            piece = os.read(server.process.stdout.fileno(), 256)
            if not piece:
                break
            ready += piece
        if ready != SIM_READY_LINE:
            server.process.kill()
            error = server.process.communicate()[1]
            raise RuntimeError('ipmidev-sim for %s did not start: %r %r' % (server.name, ready, error))

    def server(self, name):
        return next(server for server in self.servers if server.name == name)

    def close(self):
        for server in self.servers:
            if server.process is not None and server.process.poll() is None:
                server.process.terminate()
                try:
                    server.process.communicate(timeout=10)
                except subprocess.TimeoutExpired:
                    server.process.kill()
                    server.process.communicate()
        for server in self.servers:
            subprocess.run(['ip', 'netns', 'del', server.namespace], stderr=subprocess.DEVNULL)
        self.servers = []
        shutil.rmtree(self.work, ignore_errors=True)

    def write_inventory(self):
        path = os.path.join(self.work, 'inventory.yml')
        hosts = {}
        for server in self.servers:
            hosts[server.name] = dict(server.hostvars, ansible_connection='local')
        with open(path, 'w') as handle:
            json.dump({'all': {'hosts': hosts}}, handle, indent=1)
        return path

    def run_playbook(self, playbook, collections_path, forks=8, check=False, diff=False, verbose=False):
        """Runs playbook over every server; results holds each host's last task result."""
        self._runs += 1
        run_folder = os.path.join(self.work, 'run-%d' % self._runs)
        tree = os.path.join(run_folder, 'tree')
        os.makedirs(tree)
        playbook_path = os.path.join(run_folder, 'playbook.yml')
        with open(playbook_path, 'w') as handle:
            handle.write(playbook)
        env = ansible_environment(self.work, collections_path)
        env.update({'ANSIBLE_CALLBACKS_ENABLED': 'tree', 'ANSIBLE_CALLBACK_TREE_DIR': tree})
        command = [ANSIBLE_PLAYBOOK, '-i', self.write_inventory(), '--forks', str(forks), playbook_path]
        if check:
            command.append('--check')
        if diff:
            command.append('--diff')
        if verbose:
            # The tree callback keeps a result's diff only from -vvv on.
            command.append('-vvv')
        started = time.monotonic()
        finished = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  universal_newlines=True, timeout=PLAYBOOK_SECONDS)
        seconds = time.monotonic() - started
        results = {}
        for host in os.listdir(tree):
            with open(os.path.join(tree, host)) as handle:
                results[host] = json.load(handle)
        return PlaybookRun(finished.returncode, finished.stdout, results, seconds)

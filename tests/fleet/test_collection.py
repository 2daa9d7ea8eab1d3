# -*- coding: utf-8 -*-
"""Builds the collection, checks the artifact and its documentation, and installs it for the
playbook tests (the fleet_collection fixture).

Environment: EMPCTL_COLLECTION_SOURCE, EMPCTL_PROJECT_VERSION, EMPCTL_FLEET_WORK.
"""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import json
import os
import subprocess
import tarfile
import unittest

import yaml

import fleet

SOURCE = os.environ['EMPCTL_COLLECTION_SOURCE']
VERSION = os.environ['EMPCTL_PROJECT_VERSION']
WORK = os.path.join(os.environ['EMPCTL_FLEET_WORK'], 'collection')


class CollectionTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        cls.tarball, cls.collections, cls.build_output = fleet.build_collection(SOURCE, WORK)

    def test_galaxy_metadata_is_the_project_s(self):
        with open(os.path.join(SOURCE, 'galaxy.yml')) as handle:
            galaxy = yaml.safe_load(handle)
        self.assertEqual((galaxy['namespace'], galaxy['name'], galaxy['version']), ('empctl', 'emp', VERSION))

    def test_build_is_clean(self):
        self.assertEqual(os.path.basename(self.tarball), 'empctl-emp-%s.tar.gz' % VERSION)
        self.assertNotIn('WARNING', self.build_output)
        with tarfile.open(self.tarball) as archive:
            names = set(archive.getnames())
        self.assertLessEqual({'MANIFEST.json', 'README.md', 'meta/runtime.yml',
                              'plugins/action/setting.py', 'plugins/modules/setting.py'}, names)
        self.assertEqual([name for name in names if '__pycache__' in name or name.endswith('.pyc')], [])

    def test_ansible_doc_shows_the_action(self):
        env = fleet.ansible_environment(WORK, self.collections)
        shown = subprocess.run(['/usr/bin/ansible-doc', 'empctl.emp.setting'], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
        self.assertEqual((shown.returncode, shown.stderr), (0, ''))
        self.assertIn('EMPCTL.EMP.SETTING', shown.stdout)
        self.assertIn('This module has a corresponding action plugin.', shown.stdout)

        listed = subprocess.run(['/usr/bin/ansible-doc', '--json', 'empctl.emp.setting'], env=env,
                                stdout=subprocess.PIPE, universal_newlines=True, check=True)
        entry = json.loads(listed.stdout)['empctl.emp.setting']
        options = entry['doc']['options']
        self.assertEqual(options['state']['choices'], ['enabled', 'disabled', 'query'])
        self.assertTrue(options['state']['required'])
        self.assertEqual(options['executable']['default'], 'empctl')
        self.assertEqual(entry['doc']['attributes']['check_mode']['support'], 'full')
        self.assertEqual(entry['doc']['attributes']['diff_mode']['support'], 'full')
        self.assertLessEqual({'before', 'after', 'power_cycle_required', 'msg', 'runs', 'diff'}, set(entry['return']))
        self.assertIn('empctl.emp.setting:', entry['examples'])


if __name__ == '__main__':
    unittest.main()

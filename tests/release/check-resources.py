#!/usr/bin/python3
"""Reads back what Windows shows about a built program.

    check-resources.py PROGRAM MACHINE VERSION LICENSE

MACHINE is i386 or amd64. Checks the PE machine and console subsystem, the
VERSIONINFO strings and fixed file version against VERSION (major.minor.patch)
and the licence's copyright line, and the embedded manifest: asInvoker and
every supportedOS from Windows Vista to Windows 10/11. Needs python3-pefile,
so run it with Debian's /usr/bin/python3.
"""

import sys
import xml.etree.ElementTree as ElementTree

import pefile

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
RT_MANIFEST = 24


def version_strings(pe):
    strings = {}
    for file_info in getattr(pe, "FileInfo", []):
        for entry in file_info:
            for table in getattr(entry, "StringTable", []):
                for key, value in table.entries.items():
                    strings[key.decode()] = value.decode()
    return strings


def manifests(pe):
    found = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for resource_type in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if resource_type.id != RT_MANIFEST:
            continue
        for resource_id in resource_type.directory.entries:
            for language in resource_id.directory.entries:
                data = language.data.struct
                found.append((resource_id.id, pe.get_data(data.OffsetToData, data.Size)))
    return found


def check(program, machine, version, licence):
    failures = []
    pe = pefile.PE(program)
    if pe.FILE_HEADER.Machine != MACHINES[machine]:
        failures.append("machine 0x%x, expected %s" % (pe.FILE_HEADER.Machine, machine))
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]:
        failures.append("subsystem %d is not the console" % pe.OPTIONAL_HEADER.Subsystem)

    with open(licence, encoding="utf-8") as f:
        copyright_line = next(line.strip() for line in f if line.startswith("Copyright "))
    expected = {
        "FileVersion": version,
        "ProductVersion": version,
        "ProductName": "empctl",
        "OriginalFilename": "empctl.exe",
        "InternalName": "empctl",
        "LegalCopyright": copyright_line,
    }
    strings = version_strings(pe)
    for key, value in expected.items():
        if strings.get(key) != value:
            failures.append("VERSIONINFO %s is %r, expected %r" % (key, strings.get(key), value))
    if not strings.get("FileDescription"):
        failures.append("VERSIONINFO has no FileDescription")
    parts = [int(part) for part in version.split(".")] + [0]
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    expected_ms = (parts[0] << 16) | parts[1]
    expected_ls = (parts[2] << 16) | parts[3]
    if fixed is None or (fixed.FileVersionMS, fixed.FileVersionLS) != (expected_ms, expected_ls):
        failures.append("fixed FILEVERSION does not say %s.0" % version)

    found = manifests(pe)
    if [resource_id for resource_id, _ in found] != [1]:
        failures.append("expected one manifest with id 1, found ids %r" % [i for i, _ in found])
    else:
        root = ElementTree.fromstring(found[0][1])
        levels = [(e.get("level"), e.get("uiAccess")) for e in root.iter(ASM_V3 + "requestedExecutionLevel")]
        if levels != [("asInvoker", "false")]:
            failures.append("requestedExecutionLevel is %r, expected asInvoker" % levels)
        ids = sorted(e.get("Id") for e in root.iter(COMPATIBILITY + "supportedOS"))
        if ids != sorted(SUPPORTED_OS):
            missing = [SUPPORTED_OS[i] for i in SUPPORTED_OS if i not in ids]
            failures.append("supportedOS %r; missing: %r" % (ids, missing))
    return failures


def main(argv):
    if len(argv) != 5 or argv[2] not in MACHINES:
        sys.stderr.write("usage: check-resources.py PROGRAM {i386|amd64} VERSION LICENSE\n")
        return 2
    failures = check(*argv[1:])
    for failure in failures:
        sys.stderr.write("check-resources.py: %s: %s\n" % (argv[1], failure))
    if failures:
        return 1
    print("version resource and manifest as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

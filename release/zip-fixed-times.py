#!/usr/bin/env python3
"""Gives every entry of a zip the same times, whatever the build machine.

    zip-fixed-times.py ZIP...

CPack's zip writer stores each file's inode change time (which no tool can
set) beside its modification time, and the DOS time in the builder's time
zone. This sets the change and access times to the modification time and
the DOS time to that time in UTC, in the local headers and the central
directory. Only header bytes change; the file data and its CRCs do not.
"""

import struct
import sys
import time

EOCD_SIGNATURE = b"PK\x05\x06"
CENTRAL_SIGNATURE = b"PK\x01\x02"
LOCAL_SIGNATURE = b"PK\x03\x04"
UT_FIELD_ID = 0x5455


def dos_time(seconds):
    """Returns the (time, date) words of a DOS timestamp in UTC."""
    t = time.gmtime(seconds)
    if t.tm_year < 1980:
        t = time.gmtime(315532800)
    return ((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2),
            ((t.tm_year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday)


def fix_extra(data, start, length):
    """Sets the UT field's times to its modification time; returns it."""
    mtime = None
    pos = start
    end = start + length
    while pos + 4 <= end:
        field_id, size = struct.unpack_from("<HH", data, pos)
        body = pos + 4
        if field_id == UT_FIELD_ID and size >= 5:
            flags = data[body]
            mtime = struct.unpack_from("<I", data, body + 1)[0] if flags & 1 else None
            for offset in range(body + 5, body + size, 4):
                if mtime is not None:
                    struct.pack_into("<I", data, offset, mtime)
        pos = body + size
    return mtime


def fix_header(data, pos, time_offset, name_length_offset, fixed_size):
    name_length, extra_length = struct.unpack_from("<HH", data, pos + name_length_offset)
    mtime = fix_extra(data, pos + fixed_size + name_length, extra_length)
    if mtime is None:
        raise ValueError("entry at %d has no UT modification time" % pos)
    struct.pack_into("<HH", data, pos + time_offset, *dos_time(mtime))


def fix_zip(path):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    eocd = data.rfind(EOCD_SIGNATURE)
    if eocd < 0:
        raise ValueError("%s: not a zip file" % path)
    entries, _, directory = struct.unpack_from("<HII", data, eocd + 10)
    pos = directory
    for _ in range(entries):
        if data[pos:pos + 4] != CENTRAL_SIGNATURE:
            raise ValueError("%s: bad central directory at %d" % (path, pos))
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, pos + 28)
        local = struct.unpack_from("<I", data, pos + 42)[0]
        if data[local:local + 4] != LOCAL_SIGNATURE:
            raise ValueError("%s: bad local header at %d" % (path, local))
        fix_header(data, pos, 12, 28, 46)
        fix_header(data, local, 10, 26, 30)
        pos += 46 + name_length + extra_length + comment_length
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) < 2:
        sys.stderr.write("usage: zip-fixed-times.py ZIP...\n")
        return 2
    for path in argv[1:]:
        fix_zip(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

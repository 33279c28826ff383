#!/usr/bin/python3
"""Writes tar archives that the tar program itself would not make from a
directory tree: members of any type and name, link targets that lead
anywhere, and path names carried in pax extended headers.

Usage: forge_archive.py [-a] ARCHIVE MEMBER...

With -a the members are appended to an existing uncompressed archive.

Each MEMBER is TYPE:NAME or TYPE:NAME:TARGET, where TYPE is one of
  file     a regular file holding NAME itself as its content
  dir      a directory
  symlink  a symbolic link to TARGET
  hardlink a hard link to TARGET
  char     a character device (1, 3)
  block    a block device (7, 0)
  fifo     a named pipe
  pax      a regular file named NAME whose pax header names it TARGET
NAME and TARGET may hold the escapes \\n and \\t. The archive is written in
the GNU format (long names allowed), or in the pax format when a pax member
is among them.
"""

import io
import sys
import tarfile

TYPES = {
    "file": tarfile.REGTYPE,
    "dir": tarfile.DIRTYPE,
    "symlink": tarfile.SYMTYPE,
    "hardlink": tarfile.LNKTYPE,
    "char": tarfile.CHRTYPE,
    "block": tarfile.BLKTYPE,
    "fifo": tarfile.FIFOTYPE,
    "pax": tarfile.REGTYPE,
}


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def main():
    args = sys.argv[1:]
    mode = "w"
    if args and args[0] == "-a":
        mode, args = "a", args[1:]
    archive, members = args[0], args[1:]
    pax = any(member.startswith("pax:") for member in members)
    with tarfile.open(archive, mode, format=tarfile.PAX_FORMAT if pax else tarfile.GNU_FORMAT) as out:
        for member in members:
            kind, _, rest = member.partition(":")
            name, _, target = rest.partition(":")
            name, target = unescape(name), unescape(target)
            info = tarfile.TarInfo(name)
            info.type = TYPES[kind]
            info.mode = 0o755 if kind == "dir" else 0o644
            info.mtime = 1000000000
            if kind in ("symlink", "hardlink"):
                info.linkname = target
            if kind == "char":
                info.devmajor, info.devminor = 1, 3
            if kind == "block":
                info.devmajor, info.devminor = 7, 0
            if kind == "pax":
                info.pax_headers = {"path": target}
            if info.type == tarfile.REGTYPE:
                data = name.encode("utf-8", "surrogateescape")
                info.size = len(data)
                out.addfile(info, io.BytesIO(data))
            else:
                out.addfile(info)


if __name__ == "__main__":
    sys.exit(main())

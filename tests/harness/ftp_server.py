#!/usr/bin/python3
"""Loopback FTP server misbehaving as the tests ask: serves --root on a free port, printed once up.

Modes: normal; throttle (THROTTLE bytes/s each way); drop-download, drop-upload (the process dies
once CUT bytes of a RETR or STOR have moved); stall-download, stall-upload (it falls silent there);
stall (never answers); hang-up (closes each connection after a second); hostile-list (LIST adds
FORGED_LISTING). --log receives each command line."""

import argparse
import logging
import os
import socket
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import ThreadedFTPServer

CUT = 65536
THROTTLE = 2097152

FORGED_NAMES = [b"..", b".", b"../up_1001011200.tar", b"sub/side_1001011200.tar", b"/abs_1001011200.tar",
                b"back\\slash_1001011200.tar", b"amp&<b>\"q'_1001011200.tar", b"ctl\x01\x1b_1001011200.tar",
                b"bad\xff\xfe_1001011200.tar", b"cr_1001011200.tar\rforged_1001011200.tar"]
FORGED_LISTING = b"".join(b"-rw-r--r--   1 owner    group         100 Dec 07 12:00 " + name + b"\r\n"
                          for name in FORGED_NAMES) + (
    b"-rw-r--r--   1 owner    group    99999999999999999999999999 Dec 07 12:00 huge_1001011200.tar\r\n"
    b"-rw-r--r--   1 owner    group         100 Dec 07 12:00 long_" + b"x" * 100000 + b"_1001011200.tar\r\n"
    b"total 12\r\nnot a listing line\r\n\r\n")


def serve_silently(hang_up):
    listener = socket.create_server(("127.0.0.1", 0), backlog=16)
    print(listener.getsockname()[1], flush=True)
    held = []
    while True:
        held.append(listener.accept()[0])
        if hang_up:
            time.sleep(1.0)
            held.pop().close()


class CutFile:
    """Moves CUT bytes, then ends the process or (stall) keeps it silent.
    No fileno(), so that the server calls read()."""

    def __init__(self, fd, stall):
        self.fd, self.name, self.stall, self.moved, self.seek, self.close = fd, fd.name, stall, 0, fd.seek, fd.close

    closed = property(lambda self: self.fd.closed)

    def move(self, data):
        if self.moved >= CUT:
            while self.stall:
                time.sleep(3600)
            os._exit(0)
        self.moved += len(data)
        return data

    def read(self, size=-1):
        return self.move(self.fd.read(CUT if size < 0 else min(size, CUT)))

    def write(self, data):
        self.fd.write(self.move(data))
        self.fd.flush()
        return len(data)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--root", "--mode", "--log"):
        parser.add_argument(option)
    for option in ("--user", "--password"):
        parser.add_argument(option, action="append", default=[])
    parser.add_argument("--anonymous", action="store_true")
    args = parser.parse_args()
    if args.mode in ("stall", "hang-up"):
        return serve_silently(args.mode == "hang-up")

    logging.basicConfig(level=logging.CRITICAL)
    command_log = open(args.log, "a", buffering=1)
    users = DummyAuthorizer()
    for login, password in zip(args.user, args.password):
        users.add_user(login, password, args.root, perm="elradfmwMT")
    if args.anonymous:
        users.add_anonymous(args.root, perm="elradfmwMT")

    class FS(AbstractedFS):
        def open(self, filename, mode):
            fd = AbstractedFS.open(self, filename, mode)
            if args.mode.endswith("-download" if "r" in mode else "-upload"):
                return CutFile(fd, args.mode.startswith("stall-"))
            return fd

        def format_list(self, basedir, listing, ignore_err=True):
            yield from AbstractedFS.format_list(self, basedir, listing, ignore_err)
            if args.mode == "hostile-list":
                yield FORGED_LISTING

    class Handler(FTPHandler):
        authorizer, banner, abstracted_fs = users, "test server ready", FS
        auth_failed_timeout = 0  # answer a wrong password at once

        def pre_process_command(self, line, cmd, arg):
            command_log.write(line + "\n")
            return FTPHandler.pre_process_command(self, line, cmd, arg)

    class Throttled(ThrottledDTPHandler):
        read_limit = write_limit = THROTTLE

        def __init__(self, sock, cmd_channel):
            # A small window keeps the unread part of an upload short, as on a slow link.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
            super().__init__(sock, cmd_channel)

    if args.mode == "throttle":
        Handler.dtp_handler = Throttled
    # A loop per connection: with one for all, a data channel closed on one
    # connection can leave another's commands unread (one storage to another).
    server = ThreadedFTPServer(("127.0.0.1", 0), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()

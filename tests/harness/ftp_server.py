#!/usr/bin/python3
"""Loopback FTP server for the tests that need a server to misbehave.

Serves ROOT on 127.0.0.1 at a free port, prints the port on a line of its own
once it accepts connections, and runs until killed. --user LOGIN --password
PASSWORD pairs (any characters) and --anonymous give the users full rights;
--log FILE receives every command line as it arrives. Modes (--mode):
  normal, throttle (data moves at THROTTLE bytes per second each way),
  drop-download / drop-upload (the process dies once CUT bytes of a RETR or
  STOR have moved), stall-download / stall-upload (the server goes silent
  there instead, data connection open), stall (a socket that never answers),
  hang-up (a socket that closes each connection after a silent second),
  hostile-list (LIST adds forged lines: names holding "..", "/", a backslash,
  control bytes, bytes that are no UTF-8, a carriage return or XML markup, a
  size no counter holds, a line of 100 000 characters, lines that are no
  listing at all).
"""

import argparse
import os
import socket
import sys
import time

CUT = 65536
THROTTLE = 2097152

FORGED_NAMES = [b"..", b".", b"../up_1001011200.tar", b"sub/side_1001011200.tar", b"/abs_1001011200.tar",
                b"back\\slash_1001011200.tar", b"amp&<b>\"q'_1001011200.tar", b"ctl\x01\x1b_1001011200.tar",
                b"bad\xff\xfe_1001011200.tar", b"cr_1001011200.tar\rforged_1001011200.tar"]


def forged_listing():
    for name in FORGED_NAMES:
        yield b"-rw-r--r--   1 owner    group         100 Dec 07 12:00 " + name + b"\r\n"
    yield b"-rw-r--r--   1 owner    group    99999999999999999999999999 Dec 07 12:00 huge_1001011200.tar\r\n"
    yield b"-rw-r--r--   1 owner    group         100 Dec 07 12:00 long_" + b"x" * 100000 + b"_1001011200.tar\r\n"
    yield b"total 12\r\nnot a listing line\r\n\r\n"


def serve_silently(hang_up):
    """Accepts connections and never answers; with hang_up closes each after a second."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = listener.accept()
        if hang_up:
            time.sleep(1.0)
            conn.close()
        else:
            held.append(conn)


class CutFile:
    """A file that moves CUT bytes, then ends the server or (stall) keeps it
    silent. No fileno(), so that the server calls read()."""

    def __init__(self, fd, stall):
        self.fd, self.name, self.stall, self.moved, self.seek, self.close = fd, fd.name, stall, 0, fd.seek, fd.close

    closed = property(lambda self: self.fd.closed)

    def cut(self):
        if self.moved >= CUT:
            while self.stall:
                time.sleep(3600)
            os._exit(0)

    def read(self, size=-1):
        self.cut()
        data = self.fd.read(CUT if size < 0 else min(size, CUT))
        self.moved += len(data)
        return data

    def write(self, data):
        self.fd.write(data)
        self.fd.flush()
        self.moved += len(data)
        self.cut()
        return len(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--mode", default="normal")
    parser.add_argument("--user", action="append", default=[])
    parser.add_argument("--password", action="append", default=[])
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    if args.mode in ("stall", "hang-up"):
        serve_silently(args.mode == "hang-up")
        return

    import logging
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.filesystems import AbstractedFS
    from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
    from pyftpdlib.servers import ThreadedFTPServer

    logging.basicConfig(level=logging.CRITICAL)
    command_log = open(args.log, "a", buffering=1)

    authorizer = DummyAuthorizer()
    for login, password in zip(args.user, args.password):
        authorizer.add_user(login, password, args.root, perm="elradfmwMT")
    if args.anonymous:
        import warnings
        warnings.simplefilter("ignore")
        authorizer.add_anonymous(args.root, perm="elradfmwMT")

    class FS(AbstractedFS):
        def open(self, filename, mode):
            fd = AbstractedFS.open(self, filename, mode)
            if args.mode.endswith("-download" if "r" in mode else "-upload"):
                return CutFile(fd, args.mode.startswith("stall-"))
            return fd

        def format_list(self, basedir, listing, ignore_err=True):
            yield from AbstractedFS.format_list(self, basedir, listing, ignore_err)
            if args.mode == "hostile-list":
                yield from forged_listing()

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            command_log.write(line + "\n")
            return FTPHandler.pre_process_command(self, line, cmd, arg)

    class Throttled(ThrottledDTPHandler):
        read_limit = THROTTLE
        write_limit = THROTTLE

        def __init__(self, sock, cmd_channel):
            # A small window keeps what the client has sent but the server
            # not yet read short, as on a slow link.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
            super().__init__(sock, cmd_channel)

    Handler.authorizer = authorizer
    Handler.banner = "test server ready"
    Handler.auth_failed_timeout = 0  # answer a wrong password at once
    Handler.abstracted_fs = FS
    if args.mode == "throttle":
        Handler.dtp_handler = Throttled

    # Each connection gets a thread and an event loop of its own: with one
    # loop for all, a data channel closed on one connection can leave another
    # connection's commands unread, and a client that keeps two connections
    # (one storage to another) then waits for an answer that never comes.
    server = ThreadedFTPServer(("127.0.0.1", 0), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    sys.exit(main())

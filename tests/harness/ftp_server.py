#!/usr/bin/python3
"""Loopback FTP server for the transport tests.

Serves ROOT on 127.0.0.1 at a free port and prints that port, alone on one
line, on standard output once it accepts connections. Runs until killed.

Modes:
  normal         an ordinary server
  windows        LIST answers in the style of a Windows server
  refuse-login   every USER is answered with 530
  drop-download  the server process dies after sending the first part of a RETR
  drop-upload    the server process dies after storing the first part of a STOR
  stall          a plain socket that accepts connections and never answers
  hang-up        a plain socket that keeps each connection silent for a
                 second, then closes it (a stalled server that gives up)
  stall-download the server sends the first part of a RETR, then goes silent
                 with the data connection open
  stall-upload   the server stores the first part of a STOR, then stops
                 reading with the data connection open
  throttle       data moves at THROTTLE bytes per second each way
  hostile-list   LIST answers with the real entries followed by forged
                 lines: names holding "..", "/", a backslash, control bytes,
                 bytes that are not UTF-8, a carriage return or XML markup,
                 a size too large for any counter, a line of 100 000
                 characters and lines that are no listing at all

Users come as pairs of --user LOGIN --password PASSWORD (any characters);
--anonymous adds an anonymous user with full rights. With --log FILE every
command line a client sends is appended to FILE as it arrives.
"""

import argparse
import os
import socket
import sys
import time

STALL = False

DROP_AFTER = 65536
THROTTLE = 2097152
HANG_UP_AFTER = 1.0

FORGED_NAMES = [
    b"..",
    b".",
    b"../up_1001011200.tar",
    b"sub/side_1001011200.tar",
    b"/abs_1001011200.tar",
    b"back\\slash_1001011200.tar",
    b"amp&<b>\"q'_1001011200.tar",
    b"ctl\x01\x1b_1001011200.tar",
    b"bad\xff\xfe_1001011200.tar",
    b"cr_1001011200.tar\rforged_1001011200.tar",
]


def forged_listing():
    for name in FORGED_NAMES:
        yield b"-rw-r--r--   1 owner    group         100 Dec 07 12:00 " + name + b"\r\n"
    yield b"-rw-r--r--   1 owner    group    99999999999999999999999999 Dec 07 12:00 huge_1001011200.tar\r\n"
    yield b"-rw-r--r--   1 owner    group         100 Dec 07 12:00 long_" + b"x" * 100000 + b"_1001011200.tar\r\n"
    yield b"total 12\r\n"
    yield b"not a listing line\r\n"
    yield b"\r\n"


def serve_hang_up():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        time.sleep(HANG_UP_AFTER)
        conn.close()


def serve_stall():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = listener.accept()
        held.append(conn)  # keep it open and silent


class DroppingReader:
    """Hands out the first block of a file, then ends the whole server."""

    def __init__(self, fd):
        self.fd = fd
        self.name = fd.name
        self.served = 0

    def read(self, size=-1):
        if self.served >= DROP_AFTER:
            if STALL:
                while True:
                    time.sleep(3600)
            os._exit(0)
        data = self.fd.read(DROP_AFTER if size < 0 else min(size, DROP_AFTER))
        self.served += len(data)
        return data

    def seek(self, *args):
        return self.fd.seek(*args)

    @property
    def closed(self):
        return self.fd.closed

    def close(self):
        self.fd.close()


class DroppingWriter:
    """Stores the first block of an upload, then ends the whole server."""

    def __init__(self, fd):
        self.fd = fd
        self.name = fd.name
        self.stored = 0

    def write(self, data):
        self.fd.write(data)
        self.fd.flush()
        self.stored += len(data)
        if self.stored >= DROP_AFTER:
            if STALL:
                while True:
                    time.sleep(3600)
            os._exit(0)
        return len(data)

    def seek(self, *args):
        return self.fd.seek(*args)

    @property
    def closed(self):
        return self.fd.closed

    def close(self):
        self.fd.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--mode", default="normal")
    parser.add_argument("--user", action="append", default=[])
    parser.add_argument("--password", action="append", default=[])
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--log", default="")
    args = parser.parse_args()
    global STALL
    STALL = args.mode.startswith("stall-")

    if args.mode == "stall":
        serve_stall()
        return
    if args.mode == "hang-up":
        serve_hang_up()
        return

    import logging
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.filesystems import AbstractedFS
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import ThreadedFTPServer

    logging.basicConfig(level=logging.CRITICAL)
    command_log = open(args.log, "a", buffering=1) if args.log else None

    authorizer = DummyAuthorizer()
    for login, password in zip(args.user, args.password):
        authorizer.add_user(login, password, args.root, perm="elradfmwMT")
    if args.anonymous:
        import warnings
        warnings.simplefilter("ignore")
        authorizer.add_anonymous(args.root, perm="elradfmwMT")

    class WindowsFS(AbstractedFS):
        def format_list(self, basedir, listing, ignore_err=True):
            for name in listing:
                path = os.path.join(basedir, name)
                try:
                    st = os.stat(path)
                except OSError:
                    if ignore_err:
                        continue
                    raise
                stamp = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
                if os.path.isdir(path):
                    middle = "%-14s" % "<DIR>"
                else:
                    middle = "%14s" % "{:,}".format(st.st_size)
                yield ("%s    %s %s\r\n" % (stamp, middle, name)).encode("utf8", "replace")

    class DroppingFS(AbstractedFS):
        def open(self, filename, mode):
            fd = AbstractedFS.open(self, filename, mode)
            if args.mode in ("drop-download", "stall-download") and "r" in mode:
                return DroppingReader(fd)
            if args.mode in ("drop-upload", "stall-upload") and ("w" in mode or "a" in mode):
                return DroppingWriter(fd)
            return fd

    class HostileListFS(AbstractedFS):
        def format_list(self, basedir, listing, ignore_err=True):
            for line in AbstractedFS.format_list(self, basedir, listing, ignore_err):
                yield line
            for line in forged_listing():
                yield line

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            if command_log:
                command_log.write(line + "\n")
            if args.mode == "refuse-login" and cmd == "USER":
                self.respond("530 Logins are not accepted here.")
                return
            return FTPHandler.pre_process_command(self, line, cmd, arg)

    Handler.authorizer = authorizer
    Handler.banner = "test server ready"
    Handler.auth_failed_timeout = 0  # answer a wrong password at once
    if args.mode == "windows":
        Handler.abstracted_fs = WindowsFS
    elif args.mode in ("drop-download", "drop-upload", "stall-download", "stall-upload"):
        Handler.abstracted_fs = DroppingFS
    elif args.mode == "throttle":
        from pyftpdlib.handlers import ThrottledDTPHandler

        class Throttled(ThrottledDTPHandler):
            read_limit = THROTTLE
            write_limit = THROTTLE

            def __init__(self, sock, cmd_channel):
                # A small window keeps what the client has sent but the
                # server not yet read short, as on a slow link.
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
                super().__init__(sock, cmd_channel)

        Handler.dtp_handler = Throttled
    elif args.mode == "hostile-list":
        Handler.abstracted_fs = HostileListFS

    # Each connection gets a thread and an event loop of its own: with one
    # loop for all, a data channel closed on one connection can leave another
    # connection's commands unread, and a client that keeps two connections
    # (one storage to another) then waits for an answer that never comes.
    server = ThreadedFTPServer(("127.0.0.1", 0), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    sys.exit(main())

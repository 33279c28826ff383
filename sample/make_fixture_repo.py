#!/usr/bin/python3
"""Builds a structured dump repository (and exported dump archives) for the
tests, the demo and the benchmarks.

Usage: make_fixture_repo.py [options] DIR

DIR is created when missing; files already in it stay unless overwritten.
What to build comes from a JSON document (--layout FILE, "-" for standard
input) and/or from --scale. Nothing is printed on standard output unless
--list is given; errors go to standard error with exit status 2.

JSON document (every key optional):

  {
    "dumps":   [DUMP, ...],     structured dumps in the repository tree
    "exports": [EXPORT, ...],   exported single-file dumps
    "index":   ["raw", ...],    extra raw entries of the root index .discovered/
    "files":   {"rel/path": "text", ...}   extra plain files
  }

DUMP:
  type         "server" | "reseller" | "client" | "domain"  (default "client")
  id           object id, the name of the object directory (default "c1";
               ignored for the server)
  guid         object GUID (default: derived from type and id)
  under        directory the object's group directory lies in, for nesting
               (e.g. "resellers/r1" puts client c1 at resellers/r1/clients/c1)
  dir          the object directory itself; overrides type/id/under
  prefix       dump name prefix, no "_" (default "backup")
  label        ten-digit stamp YYMMDDHHMM (default "1001011200")
  stem         descriptor name without ".xml"; overrides prefix/label
               (default PREFIX_info_LABEL)
  description  description markup (default "Dump of TYPE ID")
  contents     [{"path": ".", "files": [FILE, ...]}, ...] content locations
               relative to the object directory; FILE is a name or
               {"name": N, "size": BYTES, "missing": true}; size 0 makes an
               empty file (default: one location "." with PREFIX_ID_LABEL.tgz)
  descriptor   "valid" (default) | "invalid" (breaks the schema, still
               readable) | "malformed" (not well-formed XML) | "missing"
  sign         true: sign the descriptor with the panel's signing utility
  tamper       true (with sign): alter the signed descriptor afterwards so
               that its signature no longer verifies
  sidecar      false: no .discovered/STEM/ directory (default true)
  size         size item value (int or raw string); null omits the item
               (default: the byte count of the content files)
  owner, ownertype, objectid
               item values (defaults: a fixed server GUID, "server", id);
               null omits the item
  status       ["OK", ...] status items to record
  items        ["raw_item", ...] extra raw sidecar item names
  index        false: no root index entry GUID_OBJECTID (default true)

EXPORT (written as DIR/dir/name, tar members relative to the object dir):
  name         archive name (default PREFIX_LABEL.tar, .tgz with gzip)
  dir          directory inside DIR (default "")
  dump         DUMP whose files go into the archive (dir/under ignored)
  gzip         true: gzip-compress the archive
  parts        N: store as base file plus parts NAME1 .. NAME(N-1)
  raw          text: write this instead of an archive (a file of wrong format)

--scale N adds N valid dumps of --scale-type objects spread over
--scale-objects objects (ids PREFIX1.., GUIDs derived), each object's dumps
labelled one minute apart; it is meant for benchmarks and is fast enough for
tens of thousands of dumps.

Signing runs PRODUCT_ROOT_D/admin/sbin/backup_sign sign FILE, with the
product root from --product-root or else from PRODUCT_ROOT_D in
$OVR_CONF_DIR/ovr.conf (/etc/ovr/ovr.conf when OVR_CONF_DIR is unset).
"""

import argparse
import base64
import datetime
import gzip
import io
import json
import os
import re
import subprocess
import sys
import tarfile
import uuid
from xml.sax.saxutils import escape, quoteattr

GROUP_DIRS = {"server": "", "reseller": "resellers", "client": "clients", "domain": "domains"}
SERVER_GUID = "00000000-0000-4000-8000-000000000000"
GUID_NAMESPACE = uuid.UUID("6a1f0c52-3f0e-4c1b-9d6e-2b6f3e0d9a10")


class FixtureError(Exception):
    pass


def default_guid(obj_type, obj_id):
    return str(uuid.uuid5(GUID_NAMESPACE, obj_type + ":" + obj_id))


def product_root(args):
    if args.product_root:
        return args.product_root
    conf_dir = os.environ.get("OVR_CONF_DIR") or "/etc/ovr"
    try:
        with open(os.path.join(conf_dir, "ovr.conf")) as conf:
            for line in conf:
                parts = line.split(None, 1)
                if len(parts) == 2 and parts[0] == "PRODUCT_ROOT_D":
                    return parts[1].strip()
    except OSError as e:
        raise FixtureError("cannot read the panel configuration: %s" % e)
    raise FixtureError("PRODUCT_ROOT_D not found in %s/ovr.conf" % conf_dir)


class Dump:
    """One structured dump: its names and the bytes of every file it has."""

    def __init__(self, layout, for_archive=False):
        unknown = set(layout) - {
            "type", "id", "guid", "under", "dir", "prefix", "label", "stem", "description",
            "contents", "descriptor", "sign", "tamper", "sidecar", "size", "owner", "ownertype",
            "objectid", "status", "items", "index"}
        if unknown:
            raise FixtureError("unknown dump keys: %s" % ", ".join(sorted(unknown)))
        self.type = layout.get("type", "client")
        if self.type not in GROUP_DIRS:
            raise FixtureError("unknown object type %r" % self.type)
        self.id = "" if self.type == "server" else str(layout.get("id", "c1"))
        self.guid = layout.get("guid") or default_guid(self.type, self.id)
        if for_archive:
            self.dir = ""
        elif "dir" in layout:
            self.dir = layout["dir"].strip("/")
        elif self.type == "server":
            self.dir = ""
        else:
            self.dir = "/".join(p for p in (layout.get("under", "").strip("/"), GROUP_DIRS[self.type], self.id) if p)
        self.prefix = layout.get("prefix", "backup")
        self.label = layout.get("label", "1001011200")
        self.stem = layout.get("stem", "%s_info_%s" % (self.prefix, self.label))
        self.description = layout.get("description", "Dump of %s %s" % (self.type, self.id or "server"))
        self.descriptor = layout.get("descriptor", "valid")
        if self.descriptor not in ("valid", "invalid", "malformed", "missing"):
            raise FixtureError("unknown descriptor kind %r" % self.descriptor)
        self.sign = bool(layout.get("sign", False))
        self.tamper = bool(layout.get("tamper", False))
        self.sidecar = layout.get("sidecar", True)
        self.index = layout.get("index", True)
        self.status = list(layout.get("status", []))
        self.extra_items = list(layout.get("items", []))
        default_file = "%s_%s_%s.tgz" % (self.prefix, self.id or "server", self.label)
        self.contents = []  # [(location path, [(name, size or None when missing)])]
        for loc in layout.get("contents", [{"path": ".", "files": [default_file]}]):
            files = []
            for f in loc.get("files", []):
                if isinstance(f, str):
                    files.append((f, 64))
                else:
                    files.append((f["name"], None if f.get("missing") else int(f.get("size", 64))))
            self.contents.append((loc.get("path", "."), files))
        content_bytes = sum(size or 0 for _, files in self.contents for _, size in files)
        self.items = {}
        for item, default in (("size", content_bytes), ("owner", SERVER_GUID), ("ownertype", "server"),
                              ("GUID", self.guid), ("objectid", self.id or "0")):
            value = layout.get(item, default)
            if value is not None:
                self.items[item] = str(value)

    def descriptor_xml(self):
        root = self.type
        out = ['<?xml version="1.0" encoding="UTF-8"?>\n',
               "<%s guid=%s name=%s>\n" % (root, quoteattr(self.guid), quoteattr(self.id or "server")),
               "  <description>%s</description>\n" % self.description]
        for path, files in self.contents:
            out.append("  <cid path=%s>\n" % quoteattr(path))
            for name, _ in files:
                out.append("    <content-file>%s</content-file>\n" % escape(name))
            out.append("  </cid>\n")
        if self.descriptor == "invalid":
            out.append("  <unexpected-element/>\n")
        if self.descriptor == "malformed":
            out.append("  <cid path='.'>\n")  # never closed
        else:
            out.append("</%s>\n" % root)
        return "".join(out).encode()

    def files(self, signer):
        """(relative path, bytes) of every file of the dump; a directory ends with '/'."""
        result = []
        if self.descriptor != "missing":
            data = self.descriptor_xml()
            if self.sign:
                data = signer(data, self.tamper)
            result.append((self.stem + ".xml", data))
        for path, files in self.contents:
            for name, size in files:
                if size is not None:
                    result.append((norm_join(path, name), content_bytes(name, size)))
        if self.sidecar:
            side = ".discovered/" + self.stem + "/"
            result.append((side, None))
            names = ["%s_%s" % kv for kv in self.items.items()]
            names += ["status_" + s for s in self.status] + self.extra_items
            for name in names:
                result.append((side + name, b""))
        return result


def norm_join(path, name):
    parts = [p for p in (path + "/" + name).split("/") if p not in ("", ".")]
    return "/".join(parts)


def content_bytes(name, size):
    if size == 0:
        return b""
    seed = ("content of %s\n" % name).encode()
    return (seed * (size // len(seed) + 1))[:size]


class Signer:
    def __init__(self, args):
        self.args = args
        self.utility = None

    def __call__(self, data, tamper):
        if self.utility is None:
            self.utility = os.path.join(product_root(self.args), "admin", "sbin", "backup_sign")
        tmp = os.path.join(self.args.dir, ".fixture_unsigned.xml")
        with open(tmp, "wb") as f:
            f.write(data)
        try:
            run = subprocess.run([self.utility, "sign", tmp], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        except OSError as e:
            raise FixtureError("cannot run %s: %s" % (self.utility, e))
        finally:
            os.unlink(tmp)
        if run.returncode != 0:
            raise FixtureError("signing failed: %s" % run.stderr.decode(errors="replace"))
        signed = run.stdout
        if tamper:
            signed = tamper_with(signed)
        return signed


def tamper_with(signed):
    # Alter the signed payload so that it stays a valid descriptor whose bytes
    # no longer match the signature: inside a base64 body when the envelope
    # carries one, else in the plain text of the description.
    body = re.search(rb'(<Body[^>]*>)([^<]*)(</Body>)', signed)
    if body:
        try:
            payload = base64.b64decode(body.group(2), validate=False)
        except ValueError as e:
            raise FixtureError("cannot decode the signed body: %s" % e)
        altered = alter_description(payload)
        return signed[:body.start(2)] + base64.b64encode(altered) + signed[body.end(2):]
    return alter_description(signed)


def alter_description(document):
    pos = document.find(b"</description>")
    if pos < 0:
        raise FixtureError("nothing to alter in the signed descriptor")
    return document[:pos] + b" (altered)" + document[pos:]


def write_file(path, data):
    try:
        f = open(path, "wb")
    except FileNotFoundError:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        f = open(path, "wb")
    with f:
        if data:
            f.write(data)


def write_dump(root, dump, signer, listed):
    base = os.path.join(root, dump.dir) if dump.dir else root
    for rel, data in dump.files(signer):
        full = os.path.join(base, rel)
        if rel.endswith("/"):
            os.makedirs(full, exist_ok=True)
        else:
            write_file(full, data)
    if dump.index and "objectid" in dump.items:
        write_file(os.path.join(root, ".discovered", "%s_%s" % (dump.guid, dump.items["objectid"])), b"")
    if dump.descriptor != "missing":
        listed.append((dump.dir + "/" if dump.dir else "") + dump.stem + ".xml")


def write_export(root, layout, signer, listed):
    unknown = set(layout) - {"name", "dir", "dump", "gzip", "parts", "raw"}
    if unknown:
        raise FixtureError("unknown export keys: %s" % ", ".join(sorted(unknown)))
    dump = Dump(layout.get("dump", {}), for_archive=True)
    compress = bool(layout.get("gzip", False))
    name = layout.get("name", "%s_%s.%s" % (dump.prefix, dump.label, "tgz" if compress else "tar"))
    directory = os.path.join(root, layout.get("dir", "").strip("/"))
    os.makedirs(directory, exist_ok=True)
    if "raw" in layout:
        data = layout["raw"].encode()
    else:
        buffer = io.BytesIO()
        with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as tar:
            for rel, content in dump.files(signer):
                info = tarfile.TarInfo(rel.rstrip("/"))
                info.mtime = 1262347200
                if rel.endswith("/"):
                    info.type = tarfile.DIRTYPE
                    info.mode = 0o755
                    tar.addfile(info)
                else:
                    info.size = len(content)
                    info.mode = 0o644
                    tar.addfile(info, io.BytesIO(content))
        data = buffer.getvalue()
        if compress:
            data = gzip.compress(data, mtime=0)
    parts = max(1, int(layout.get("parts", 1)))
    chunk = -(-len(data) // parts)
    for n in range(parts):
        part_name = name if n == 0 else name + str(n)
        write_file(os.path.join(directory, part_name), data[n * chunk:(n + 1) * chunk])
    listed.append("/".join(p for p in (layout.get("dir", "").strip("/"), name) if p))


def write_scale(root, args, listed):
    """Many small valid dumps with as few system calls as possible."""
    obj_type = args.scale_type
    group = GROUP_DIRS[obj_type]
    objects = max(1, args.scale_objects)
    index_dir = os.path.join(root, ".discovered")
    os.makedirs(index_dir, exist_ok=True)
    start = datetime.datetime(2010, 1, 1, 0, 0)
    per_object = [args.scale // objects + (1 if i < args.scale % objects else 0) for i in range(objects)]
    for i in range(objects):
        if per_object[i] == 0:
            continue
        obj_id = "" if obj_type == "server" else "%s%d" % (args.scale_id_prefix, i + 1)
        guid = default_guid(obj_type, obj_id)
        obj_dir = os.path.join(root, group, obj_id) if group else root
        side_root = os.path.join(obj_dir, ".discovered")
        os.makedirs(side_root, exist_ok=True)
        write_file(os.path.join(index_dir, "%s_%s" % (guid, obj_id or "0")), b"")
        for k in range(per_object[i]):
            label = (start + datetime.timedelta(minutes=k)).strftime("%y%m%d%H%M")
            stem = "backup_info_" + label
            content = "backup_%s_%s.tgz" % (obj_id or "server", label)
            xml = ('<?xml version="1.0" encoding="UTF-8"?>\n<%s guid="%s" name="%s">\n'
                   "  <description>Dump %d of %s %s</description>\n"
                   '  <cid path=".">\n    <content-file>%s</content-file>\n  </cid>\n</%s>\n'
                   % (obj_type, guid, obj_id or "server", k + 1, obj_type, obj_id or "server", content, obj_type))
            with open(os.path.join(obj_dir, stem + ".xml"), "w") as f:
                f.write(xml)
            with open(os.path.join(obj_dir, content), "wb") as f:
                f.write(b"x" * 64)
            side = os.path.join(side_root, stem)
            os.mkdir(side)
            for item in ("size_64", "owner_" + SERVER_GUID, "ownertype_server", "GUID_" + guid,
                         "objectid_" + (obj_id or "0")):
                open(os.path.join(side, item), "wb").close()
            listed.append(os.path.relpath(os.path.join(obj_dir, stem + ".xml"), root))


def main(argv):
    parser = argparse.ArgumentParser(
        prog="make_fixture_repo.py", description=__doc__.split("\n\n", 1)[0],
        epilog=__doc__.split("\n\n", 1)[1], formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("dir", help="repository root to build (created when missing)")
    parser.add_argument("--layout", help="JSON document describing the repository ('-': standard input)")
    parser.add_argument("--scale", type=int, default=0, metavar="N", help="add N generated dumps")
    parser.add_argument("--scale-type", default="client", choices=sorted(GROUP_DIRS),
                        help="object type of the generated dumps (default client)")
    parser.add_argument("--scale-objects", type=int, default=1, metavar="K",
                        help="spread the generated dumps over K objects (default 1)")
    parser.add_argument("--scale-id-prefix", default="obj", help="object id prefix of the generated objects")
    parser.add_argument("--product-root", help="product root holding admin/sbin/backup_sign")
    parser.add_argument("--list", action="store_true",
                        help="print the path of every descriptor and archive written, one a line")
    args = parser.parse_args(argv)

    try:
        layout = {}
        if args.layout:
            text = sys.stdin.read() if args.layout == "-" else open(args.layout).read()
            layout = json.loads(text)
            unknown = set(layout) - {"dumps", "exports", "index", "files"}
            if unknown:
                raise FixtureError("unknown keys: %s" % ", ".join(sorted(unknown)))
        os.makedirs(args.dir, exist_ok=True)
        signer = Signer(args)
        listed = []
        for d in layout.get("dumps", []):
            write_dump(args.dir, Dump(d), signer, listed)
        for entry in layout.get("index", []):
            write_file(os.path.join(args.dir, ".discovered", entry), b"")
        for rel, text in layout.get("files", {}).items():
            write_file(os.path.join(args.dir, rel), text.encode())
        for e in layout.get("exports", []):
            write_export(args.dir, e, signer, listed)
        if args.scale > 0:
            write_scale(args.dir, args, listed)
    except (FixtureError, OSError, ValueError, KeyError, TypeError) as e:
        sys.stderr.write("make_fixture_repo.py: %s\n" % e)
        return 2
    if args.list:
        sys.stdout.write("".join(p + "\n" for p in listed))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

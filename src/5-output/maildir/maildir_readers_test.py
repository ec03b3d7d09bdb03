#!/usr/bin/env python3
"""Reads korvane's Maildir and .eml output back and holds them against its
mbox output.

Every message file must hold the bytes of the same message's mbox entry
without its envelope line, its ">From " quoting and the empty line that ends
the entry; its size must be the S= of its name, its modification time the
message's envelope time; Python's mailbox.Maildir must read every message.
With --dovecot, Dovecot's doveadm must read the same messages with the same
received dates (run as an unprivileged user: it refuses root). Every .eml
file must be the same message's Maildir file with the line ends as stored,
with the same time, and its SHA-256 the inventory's (-l), whose rows Python's
csv module reads, one per message the console reported.

usage: maildir_readers_test.py KORVANE KORVANE_MKBASE EXAMPLES_DIR [--dovecot]
"""

import calendar
import csv
import hashlib
import mailbox
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

if len(sys.argv) < 4:
    sys.exit(__doc__)
KORVANE, MKBASE, EXAMPLES = (os.path.abspath(a) for a in sys.argv[1:4])
DOVECOT = "--dovecot" in sys.argv[4:]

ENVELOPE = re.compile(
    rb"From \S+  (Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
    rb"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) (\d{1,2}) "
    rb"(\d\d):(\d\d):(\d\d) (\d{4})$")
MONTHS = [b"Jan", b"Feb", b"Mar", b"Apr", b"May", b"Jun", b"Jul", b"Aug",
          b"Sep", b"Oct", b"Nov", b"Dec"]
FILE_NAME = re.compile(r"(\d+)\.M(\d+)P(\d+)Q(\d+)\.([^,/]+),S=(\d+):2,$")

# Messages that bring a "From " line of their own at the top: one with the
# envelope form, one without.
OWN_ENVELOPES = {
    "own-envelope.eml":
        b"From MAILER-DAEMON Fri Apr 06 16:46:09 2001\r\n"
        b"Return-Path: <daemon@example.org>\r\nSubject: own\r\n\r\n"
        b"From the desk\r\n",
    "from-line.eml":
        b"From dave@example.org Fri, 16 Mar 2007 19:46:14 +0000\r\n"
        b"Subject: not an envelope\r\n\r\nbody\r\n",
}


def run(args, cwd, tz="UTC"):
    return subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False,
                          env=dict(os.environ, TZ=tz))


def record_times(base):
    """The time stamp of every record of a sound base, along its chain."""
    times, offset = [], 3080
    while offset + 48 <= len(base):
        magic, size = struct.unpack_from("<II", base, offset)
        if magic != 0x19700921 or size != 48:
            break
        (stamp,) = struct.unpack_from("<I", base, offset + 12)
        (length,) = struct.unpack_from("<I", base, offset + 36)
        times.append(stamp)
        offset += 48 + length
    return times


def mbox_entries(data):
    """The entries of korvane's mbox as lists of lines: each begins at a
    "From " line at the start or after an empty line (every other "From "
    line is quoted)."""
    lines = data.split(b"\n")
    assert lines.pop() == b""
    entries = []
    for i, line in enumerate(lines):
        if line.startswith(b"From ") and (i == 0 or lines[i - 1] == b""):
            entries.append([])
        entries[-1].append(line)
    return entries


def maildir_files(folder):
    """(path, name match) of the message files in delivery order."""
    files = []
    for name in os.listdir(os.path.join(folder, "cur")):
        match = FILE_NAME.match(name)
        assert match, name
        files.append((os.path.join(folder, "cur", name), match))
    assert os.listdir(os.path.join(folder, "new")) == []
    assert os.listdir(os.path.join(folder, "tmp")) == []
    return sorted(files, key=lambda f: int(f[1].group(4)))


def envelope_time(line):
    m = ENVELOPE.match(line)
    if not m:
        return None
    return calendar.timegm((int(m.group(7)), MONTHS.index(m.group(2)) + 1,
                            int(m.group(3)), int(m.group(4)),
                            int(m.group(5)), int(m.group(6))))


class MaildirTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="korvane-maildir-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def make_base(self, name, args):
        made = run([MKBASE, "--quiet", self.path(name)] + args, self.dir)
        self.assertEqual(0, made.returncode, made.stderr)
        with open(self.path(name), "rb") as f:
            return f.read()

    def korvane(self, args, status=0, tz="UTC"):
        done = run([KORVANE] + args, self.dir, tz)
        self.assertEqual(status, done.returncode, done.stdout)
        return done.stdout

    def check_against_mbox(self, base, switches=(), tz="UTC"):
        """Converts base both ways; returns the Maildir's path and its
        files with their envelope lines."""
        out = self.korvane([base, "out.mbx"] + list(switches), tz=tz)
        count = int(re.search(rb"found (\d+) messages", out).group(1))
        maildir = self.path(base + "-maildir")
        out = self.korvane([base, maildir, "-m"] + list(switches), tz=tz)
        self.assertIn(b"found %d messages" % count, out)
        files = self.check_folder(maildir, self.path("out.mbx"), count)
        if DOVECOT:
            self.check_dovecot(maildir, {"INBOX": files})
        emls = self.path(base + "-eml")
        out = self.korvane([base, emls, "-e", "-l"] + list(switches), tz=tz)
        self.assertIn(b"found %d messages" % count, out)
        rows = self.read_inventory(emls + ".csv", count)
        self.check_eml_folder(emls, files, [r for r in rows if r["output"]])
        return maildir, files

    def read_inventory(self, path, count):
        """The rows of an inventory: one per message written, besides the
        empty records passed over."""
        with open(path, encoding="utf-8-sig", newline="") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual(count, sum(1 for r in rows if not r["problem"]))
        return rows

    def check_eml_folder(self, folder, files, rows):
        """The .eml files of one folder against the Maildir files of the same
        messages, and their digests against the inventory's rows."""
        names = sorted(n for n in os.listdir(folder) if n.endswith(".eml"))
        self.assertEqual(len(files), len(names))
        self.assertEqual(len(files), len(rows))
        for name, (path, _), row in zip(names, files, rows):
            eml = os.path.join(folder, name)
            with open(eml, "rb") as f:
                data = f.read()
            with open(path, "rb") as f:
                maildir = f.read()
            lines = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n")
            if lines and not lines.endswith(b"\n"):
                lines += b"\n"
            self.assertEqual(maildir, lines, name)
            self.assertEqual(os.stat(path).st_mtime, os.stat(eml).st_mtime)
            self.assertEqual(hashlib.sha256(data).hexdigest(), row["sha256"])
            self.assertTrue(row["output"].endswith(name), row["output"])

    def check_folder(self, maildir, mbox, count):
        """The files of one Maildir folder against the mbox entries of the
        same messages, and as Python's mailbox module reads them."""
        entries = []
        if count:
            with open(mbox, "rb") as f:
                entries = mbox_entries(f.read())
        files = maildir_files(maildir)
        self.assertEqual(count, len(files))
        self.assertEqual(count, len(entries))
        for (path, name), entry in zip(files, entries):
            with open(path, "rb") as f:
                data = f.read()
            self.assertEqual(int(name.group(6)), len(data), path)
            self.assertEqual(b"", entry.pop(), "an entry ends empty")
            lines = data.split(b"\n")
            self.assertEqual(b"", lines.pop(), "a file ends with LF")
            self.assertEqual(len(entry) - 1, len(lines), path)
            for mine, theirs in zip(lines, entry[1:]):
                if mine.startswith(b"From "):
                    mine = b">" + mine
                self.assertEqual(theirs, mine, path)
            stamp = envelope_time(entry[0])
            if stamp is not None:
                self.assertEqual(stamp, os.stat(path).st_mtime, path)
        box = mailbox.Maildir(maildir, factory=None, create=False)
        self.assertEqual(count, len(box))
        read = {key: box.get_bytes(key) for key in box.keys()}
        for path, _ in files:
            with open(path, "rb") as f:
                key = os.path.basename(path).split(":")[0]
                self.assertEqual(f.read(), read[key], path)
        return files

    def check_dovecot(self, maildir, folders):
        """Dovecot lists exactly these folders with these files, and takes
        each file's time for the date the message arrived."""
        home = tempfile.mkdtemp(prefix="korvane-dovecot-")
        try:
            mail = os.path.join(home, "mail")
            shutil.copytree(maildir, mail)  # with the files' times
            with open(os.path.join(home, "dovecot.conf"), "w") as conf:
                conf.write("mail_location = maildir:%s\n"
                           "mail_plugins = listescape\n"
                           "namespace inbox {\n  inbox = yes\n"
                           "  separator = /\n}\n" % mail)
            prefix = []
            if os.geteuid() == 0:
                subprocess.run(["chown", "-R", "nobody", home], check=True)
                prefix = ["runuser", "-u", "nobody", "--"]
            env = ["env", "-i", "HOME=" + home, "USER=nobody", "TZ=UTC",
                   "PATH=/usr/bin:/bin:/usr/sbin:/sbin"]
            doveadm = prefix + env + ["doveadm", "-c",
                                      os.path.join(home, "dovecot.conf"),
                                      "-f", "tab"]
            listed = subprocess.run(doveadm + ["fetch",
                                               "mailbox guid date.received",
                                               "ALL"],
                                    stdout=subprocess.PIPE, check=True)
            got = {}
            for row in listed.stdout.decode("utf-8").splitlines()[1:]:
                box, guid, received = row.split("\t")
                got.setdefault(box, {})[guid] = calendar.timegm(
                    time.strptime(received, "%Y-%m-%d %H:%M:%S"))
            status = subprocess.run(doveadm + ["mailbox", "status",
                                               "messages", "*"],
                                    stdout=subprocess.PIPE, check=True)
            counts = dict(row.split("\t") for row in
                          status.stdout.decode("utf-8").splitlines()[1:])
            self.assertEqual(sorted(folders), sorted(counts))
            for box, files in folders.items():
                self.assertEqual(str(len(files)), counts[box], box)
                expected = {os.path.basename(p).split(":")[0]:
                            int(os.stat(p).st_mtime) for p, _ in files}
                self.assertEqual(expected, got.get(box, {}), box)
        finally:
            shutil.rmtree(home)

    def test_sound_bases_carry_the_record_times(self):
        for name, content in OWN_ENVELOPES.items():
            with open(self.path(name), "wb") as f:
                f.write(content)
        cases = [
            ("crlf.tbb", [EXAMPLES, self.path("own-envelope.eml"),
                          self.path("from-line.eml"), "--synthetic", "300"],
             "UTC", 0),
            ("lf.tbb", ["--synthetic", "100", "--lf", "--seed", "4"],
             "EST5EDT", 5 * 3600),
        ]
        for base, args, tz, bias in cases:
            with self.subTest(base):
                stamps = record_times(self.make_base(base, args))
                _, files = self.check_against_mbox(base, tz=tz)
                self.assertEqual([s + bias for s in stamps],
                                 [os.stat(p).st_mtime for p, _ in files])

    def test_recovery_scan_with_header_blocks(self):
        blank = self.path("blank-first.eml")
        with open(blank, "wb") as f:
            f.write(b"\r\nno header at all\r\nFrom here on\r\n")
        self.make_base("damaged.tbb", [blank, EXAMPLES, blank, "--synthetic",
                                       "40", "--bad-magic", "12",
                                       "--garbage-before", "20=300",
                                       "--zeros-before", "30=16"])
        _, files = self.check_against_mbox("damaged.tbb", ["-a"])
        with open(files[0][0], "rb") as f:
            self.assertIn(b"\nSubject: recovered message\n", f.read())

    def test_tree_as_maildir_plus_plus(self):
        # Folder below ROOT: base, switches of the same base's single run,
        # its Maildir++ folder, and its name in Dovecot.
        tree = {
            "": (["--synthetic", "4"], [], ".Mail", "Mail"),
            "Inbox": (["--synthetic", "6", "--seed", "2"], [], "", "INBOX"),
            "Inbox/Sub": ([EXAMPLES], [], ".INBOX.Sub", "INBOX/Sub"),
            "Mail.old": (["--synthetic", "3", "--lf"], [], ".Mail\\2eold",
                         "Mail.old"),
            "K\u00f6ln": (["--synthetic", "2"], [], ".K&APY-ln", "K\u00f6ln"),
            "Archive/2001": (["--synthetic", "5", "--seed", "9"], [],
                             ".Archive.2001", "Archive/2001"),
            "Damaged": (["--synthetic", "8", "--bad-file-header"], ["-a"],
                        ".Damaged", "Damaged"),
            "Empty": (None, [], ".Empty", "Empty"),
            "Archive": (None, None, ".Archive", "Archive"),
        }
        for folder, (args, _, _, _) in tree.items():
            os.makedirs(self.path(os.path.join("Mail", folder)), exist_ok=True)
            base = os.path.join("Mail", folder, "messages.tbb")
            if args is not None:
                self.make_base(base, args)
            elif tree[folder][1] is not None:
                open(self.path(base), "wb").close()
        out = self.korvane(["Mail", "-r", "-m", "-j2"])
        self.assertIn(b"1 recovered, 1 empty, 0 failed", out)
        top = self.path("Mail-maildir")
        box = mailbox.Maildir(top, factory=None, create=False)
        self.assertEqual(sorted(f[1:] for _, _, f, _ in tree.values() if f),
                         sorted(box.list_folders()))
        dovecot = {}
        for folder, (args, switches, plus, name) in tree.items():
            count = 0
            if args is not None:
                base = os.path.join("Mail", folder, "messages.tbb")
                single = self.korvane([base, "single.mbx"] + switches)
                count = int(re.search(rb"found (\d+) messages",
                                      single).group(1))
            with self.subTest(folder):
                dovecot[name] = self.check_folder(
                    os.path.join(top, plus), self.path("single.mbx"), count)
                if plus:
                    self.assertTrue(os.path.isfile(
                        os.path.join(top, plus, "maildirfolder")))
        if DOVECOT:
            self.check_dovecot(top, dovecot)
        # The same tree as .eml folders, with its inventory.
        self.korvane(["Mail", "-r", "-e", "-l"])
        rows = self.read_inventory(self.path("Mail-eml/inventory.csv"),
                                   sum(len(f) for f in dovecot.values()))
        for folder, (args, _, _, name) in tree.items():
            if args is None:
                continue
            with self.subTest(folder + " as .eml"):
                self.check_eml_folder(
                    self.path(os.path.join("Mail-eml", folder)),
                    dovecot[name],
                    [r for r in rows if r["folder"] == folder and
                     r["output"]])

    def test_what_may_become_a_maildir(self):
        self.make_base("m.tbb", ["--synthetic", "3"])
        with open(self.path("m.tbb"), "wb") as f:
            f.write(b"\0" * 100)
        # A base the normal scan rejects leaves an empty Maildir.
        self.korvane(["m.tbb", "-m"], status=1)
        self.assertEqual([], os.listdir(self.path("m.maildir/cur")))
        self.make_base("m.tbb", ["--synthetic", "3"])
        self.korvane(["m.tbb", "-m"])  # into that empty Maildir
        self.assertEqual(3, len(os.listdir(self.path("m.maildir/cur"))))
        os.mkdir(self.path("empty"))
        self.korvane(["m.tbb", "empty", "-m"])
        os.mkdir(self.path("busy"))
        open(self.path("busy/notes"), "w").close()
        open(self.path("file"), "w").close()
        for target in ["m.maildir", "busy", "file"]:
            before = sorted(os.walk(self.path(target)))
            out = self.korvane(["m.tbb", target, "-m"], status=2)
            self.assertTrue(out.splitlines()[1].startswith(
                b"error: can't create Maildir " + target.encode()), out)
            self.assertEqual(before, sorted(os.walk(self.path(target))))
        # A folder of .eml files is made new or into an empty folder only.
        self.korvane(["m.tbb", "empty2", "-e"])
        for target, why in [("empty2", b"it is not an empty folder"),
                            ("busy", b"it is not an empty folder"),
                            ("file", b"it is not a folder")]:
            before = sorted(os.walk(self.path(target)))
            out = self.korvane(["m.tbb", target, "-e"], status=2)
            self.assertEqual(b"error: can't create .eml folder %s: %s" %
                             (target.encode(), why), out.splitlines()[1])
            self.assertEqual(before, sorted(os.walk(self.path(target))))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

#!/usr/bin/env python3
"""Reads korvane's mailboxes back with independent mbox readers.

Python's mailbox module, iterating every message, must find each one with
its envelope sender, its header lines and its body as the suite's model of
mailbox entries (korvane-model) has them; a strict reader that starts a
message only at an envelope line at the start or after an empty line, and
formail and git mailsplit where installed, must count the same messages.

usage: mbox_readers_test.py KORVANE KORVANE_MKBASE KORVANE_MODEL EXAMPLES_DIR
"""

import email
import email.policy
import mailbox
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

if len(sys.argv) < 5:
    sys.exit(__doc__)
KORVANE, MKBASE, MODEL, EXAMPLES = (os.path.abspath(a) for a in sys.argv[1:5])


def record_offsets(base):
    """(offset, text) of every record of a sound base, along its chain."""
    found = []
    offset = 3080
    while offset + 48 <= len(base):
        magic, size = struct.unpack_from("<II", base, offset)
        if magic != 0x19700921 or size != 48:
            break
        (length,) = struct.unpack_from("<I", base, offset + 36)
        found.append((offset, base[offset + 48:offset + 48 + length]))
        offset += 48 + length
    return found


def records(base):
    """The message texts of a sound base."""
    return [text for _, text in record_offsets(base)]


def model_entries(texts, alternative_scan=False):
    """The model's entry of each text: (own envelope, header block, sender,
    lines as written)."""
    data = b"".join(b"%d\n" % len(t) + t for t in texts)
    args = [MODEL, "entries"] + (["-a"] if alternative_scan else [])
    out = subprocess.run(args, input=data, stdout=subprocess.PIPE,
                         check=True).stdout
    entries = []
    while out:
        head, out = out.split(b"\n", 1)
        own, block, sender_size, lines_size = (int(x) for x in head.split())
        sender = out[:sender_size]
        lines = out[sender_size:sender_size + lines_size]
        out = out[sender_size + lines_size:]
        entries.append((bool(own), bool(block), sender, lines))
    return entries


def entry_body(entry):
    """What a reader gives as the message: the lines after the envelope."""
    own, _, _, lines = entry
    return lines.split(b"\n", 1)[1] if own else lines


def run(args, cwd):
    return subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False)


class ReaderTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="korvane-readers-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def make_base(self, name, mkbase_args):
        base = os.path.join(self.dir, name)
        made = run([MKBASE, "--quiet", base] + mkbase_args, self.dir)
        self.assertEqual(0, made.returncode, made.stderr)
        with open(base, "rb") as f:
            return f.read()

    def run_korvane(self, args, base_name, base_bytes):
        """Runs korvane and returns the count of its summary line."""
        converted = run([KORVANE] + args, self.dir)
        self.assertEqual(0, converted.returncode, converted.stdout)
        with open(os.path.join(self.dir, base_name), "rb") as f:
            self.assertEqual(base_bytes, f.read(), "the base changed")
        found = re.search(rb"found (\d+) messages", converted.stdout)
        self.assertIsNotNone(found, converted.stdout)
        return int(found.group(1))

    def convert(self, mkbase_args):
        base_bytes = self.make_base("messages.tbb", mkbase_args)
        count = self.run_korvane(["messages.tbb"], "messages.tbb", base_bytes)
        texts = records(base_bytes)
        self.assertEqual(len(texts), count)
        return os.path.join(self.dir, "messages.mbx"), texts

    def check_python_reader(self, path, texts):
        entries = model_entries(texts)
        box = mailbox.mbox(path, create=False)
        read = 0
        for (key, message), entry in zip(box.iteritems(), entries):
            read += 1
            own, _, sender, lines = entry
            if own:
                self.assertEqual(lines.split(b"\n", 1)[0],
                                 b"From " + message.get_from().encode("ascii"))
            else:
                self.assertEqual(
                    sender, message.get_from().split(" ", 1)[0].encode("ascii"))
            raw = box.get_bytes(key)
            self.assertEqual(entry_body(entry), raw)
            parsed = email.message_from_bytes(raw, policy=email.policy.compat32)
            self.assertEqual(parsed.items(), message.items())
        self.assertEqual(len(texts), read)
        self.assertEqual(len(texts), len(box))
        box.close()
        return entries

    def check_counting_readers(self, path, count):
        strict = subprocess.run([MODEL, "count", path], stdout=subprocess.PIPE,
                                check=True)
        self.assertEqual(count, int(strict.stdout))
        if shutil.which("formail"):
            with open(path, "rb") as f:
                split = subprocess.run(
                    ["formail", "-s", "sh", "-c", "cat >/dev/null; echo m"],
                    stdin=f, stdout=subprocess.PIPE, check=True)
            self.assertEqual(count, split.stdout.count(b"m"))
        else:
            print("formail not installed: count by formail skipped")
        if shutil.which("git"):
            out = tempfile.mkdtemp(prefix="split-", dir=self.dir)
            split = run(["git", "mailsplit", "-o" + out, path], self.dir)
            self.assertEqual(0, split.returncode, split.stderr)
            self.assertEqual(count, int(split.stdout.strip()))
            self.assertEqual(count, len(os.listdir(out)))

    def test_examples(self):
        path, texts = self.convert([EXAMPLES])
        self.assertEqual(9, len(texts))
        self.check_python_reader(path, texts)
        self.check_counting_readers(path, len(texts))

    def test_synthetic_crlf(self):
        path, texts = self.convert(["--synthetic", "400", "--seed", "7"])
        self.assertEqual(400, len(texts))
        quoted = sum(e[3].count(b"\n>From ") for e in model_entries(texts))
        self.assertGreater(quoted, 0, "no body line to quote")
        self.check_python_reader(path, texts)
        self.check_counting_readers(path, len(texts))

    def test_synthetic_lf(self):
        path, texts = self.convert(["--synthetic", "150", "--seed", "11",
                                    "--lf"])
        self.check_python_reader(path, texts)
        self.check_counting_readers(path, len(texts))

    def test_own_from_lines_and_8bit_senders(self):
        for args in (["--seed", "13"], ["--seed", "14", "--lf"]):
            with self.subTest(" ".join(args)):
                path, texts = self.convert(["--synthetic", "300", "--rough"] +
                                           args)
                entries = self.check_python_reader(path, texts)
                self.check_counting_readers(path, len(texts))
                # Both kinds of first "From " line, "From " lines later in
                # the header block, and senders with 8-bit bytes are there.
                first = [t.split(b"\n", 1)[0] for t in texts]
                self.assertGreater(sum(e[0] for e in entries), 10)
                self.assertGreater(sum(not e[0] and f.startswith(b"From ")
                                       for e, f in zip(entries, first)), 10)
                self.assertGreater(sum(re.search(rb"\n>From ", e[3]
                                                 .split(b"\n\n", 1)[0]) is not None
                                       for e in entries), 10)
                self.assertGreater(sum(re.search(rb"\nFrom: \S+ \([^)]*[\x80-\xff]",
                                                 t) is not None
                                       for t in texts), 10)

    def test_recovery_scan_of_a_damaged_base(self):
        synthetic = ["--synthetic", "12", "--seed", "5"]
        sound = record_offsets(self.make_base("sound.tbb", synthetic))
        texts = [text for _, text in sound]
        # Message 3 gets a zeroed stretch, message 11 (the last) is cut
        # short; garbage lies before message 8 and the file header is gone.
        zero_at = sound[3][0] + 48 + 100
        damaged = self.make_base("damaged.tbb", synthetic + [
            "--bad-file-header", "--garbage-before", "8=300",
            "--zero", "%d:400" % zero_at, "--truncate", "-200"])
        normal = run([KORVANE, "damaged.tbb", "normal.mbx"], self.dir)
        self.assertEqual(1, normal.returncode, normal.stdout)

        count = self.run_korvane(["damaged.tbb", "out.mbx", "-a"],
                                 "damaged.tbb", damaged)
        path = os.path.join(self.dir, "out.mbx")
        box = mailbox.mbox(path, create=False)
        entries = [box.get_bytes(key) for key in box.keys()]
        box.close()
        self.assertEqual(count, len(entries))
        for i, entry in enumerate(model_entries(texts, True)):
            if i not in (3, 11):
                self.assertIn(entry_body(entry), entries, "message %d" % i)
        self.check_counting_readers(path, count)

    def test_recovery_scan_of_a_sound_base_matches_the_normal_scan(self):
        bases = {
            "crlf.tbb": ["--synthetic", "200", "--seed", "3"],
            "lf.tbb": ["--synthetic", "200", "--seed", "4", "--lf"],
            "rough.tbb": ["--synthetic", "200", "--seed", "5", "--rough"],
            "examples.tbb": [EXAMPLES],
        }
        for name, args in bases.items():
            with self.subTest(name):
                base = self.make_base(name, args)
                normal = self.run_korvane([name, "normal.mbx"], name, base)
                recovered = self.run_korvane([name, "recovered.mbx", "-a"],
                                             name, base)
                self.assertEqual(len(records(base)), normal)
                self.assertEqual(normal, recovered)
                with open(os.path.join(self.dir, "normal.mbx"), "rb") as f:
                    normal_box = f.read()
                with open(os.path.join(self.dir, "recovered.mbx"), "rb") as f:
                    self.assertEqual(normal_box, f.read())

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)

#!/usr/bin/env python3
"""Reads korvane's mailboxes back with independent mbox readers.

Python's mailbox module must find every message with its envelope sender,
its header lines and its body as stored in the base (line ends as LF, body
lines that begin "From " quoted with ">"); formail and git mailsplit, where
installed, must count the same messages.

usage: mbox_readers_test.py KORVANE KORVANE_MKBASE EXAMPLES_DIR
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

if len(sys.argv) < 4:
    sys.exit(__doc__)
KORVANE, MKBASE, EXAMPLES = (os.path.abspath(a) for a in sys.argv[1:4])


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


def lines_of(text):
    """Lines as a mail reader sees them: CR LF, CR and LF each end one."""
    text = text.split(b"\0", 1)[0]
    parts = re.split(rb"\r\n|\r|\n", text)
    if parts and parts[-1] == b"" and len(parts) > 1:
        parts.pop()
    return parts


def first_block(lines):
    block = []
    for line in lines:
        if line == b"":
            break
        block.append(line)
    return block


def expected_sender(text):
    for line in first_block(lines_of(text)):
        if line.lower().startswith(b"return-path: ") and len(line) > 13:
            value = line[13:]
            if value.startswith(b"<"):
                value = value[1:]
            if value.endswith(b">"):
                value = value[:-1]
            break
        if line.lower().startswith(b"from: ") and len(line) > 6:
            value = line[6:]
            if b"<" in value:
                value = value.split(b"<", 1)[1]
            if value.endswith(b">"):
                value = value[:-1]
            break
    else:
        value = b""
    value = value[:255] or b"korvane"
    return bytes(b if 0x20 < b != 0x7F else ord("-") for b in value)


def expected_body(text):
    """The entry as written after its envelope line, without the final
    empty line that separates entries."""
    out = []
    for line in lines_of(text):
        out.append(b">" + line if line.startswith(b"From ") else line)
    return b"\n".join(out) + b"\n"


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
        box = mailbox.mbox(path, create=False)
        keys = box.keys()
        self.assertEqual(len(texts), len(keys))
        for key, text in zip(keys, texts):
            message = box[key]
            sender = message.get_from().split(" ", 1)[0].encode("latin-1")
            self.assertEqual(expected_sender(text), sender)
            raw = box.get_bytes(key)
            self.assertEqual(expected_body(text), raw)
            parsed = email.message_from_bytes(raw, policy=email.policy.compat32)
            source = email.message_from_bytes(
                b"\n".join(lines_of(text)) + b"\n",
                policy=email.policy.compat32)
            self.assertEqual(source.items(), parsed.items())
        box.close()

    def check_counting_readers(self, path, count):
        if shutil.which("formail"):
            with open(path, "rb") as f:
                split = subprocess.run(
                    ["formail", "-s", "sh", "-c", "cat >/dev/null; echo m"],
                    stdin=f, stdout=subprocess.PIPE, check=True)
            self.assertEqual(count, split.stdout.count(b"m"))
        else:
            print("formail not installed: count by formail skipped")
        if shutil.which("git"):
            out = os.path.join(self.dir, "split")
            os.mkdir(out)
            split = run(["git", "mailsplit", "-o" + out, path], self.dir)
            self.assertEqual(0, split.returncode, split.stderr)
            self.assertEqual(count, int(split.stdout.strip()))
            self.assertEqual(count, len(os.listdir(out)))

    def test_examples(self):
        path, texts = self.convert([EXAMPLES])
        self.assertEqual(8, len(texts))
        self.check_python_reader(path, texts)
        self.check_counting_readers(path, len(texts))

    def test_synthetic_crlf(self):
        path, texts = self.convert(["--synthetic", "400", "--seed", "7"])
        self.assertEqual(400, len(texts))
        quoted = sum(1 for t in texts for line in lines_of(t)
                     if line.startswith(b"From "))
        self.assertGreater(quoted, 0, "no body line to quote")
        self.check_python_reader(path, texts)
        self.check_counting_readers(path, len(texts))

    def test_synthetic_lf(self):
        path, texts = self.convert(["--synthetic", "150", "--seed", "11",
                                    "--lf"])
        self.check_python_reader(path, texts)
        self.check_counting_readers(path, len(texts))

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
        for i, text in enumerate(texts):
            if i not in (3, 11):
                self.assertIn(expected_body(text), entries, "message %d" % i)
        self.check_counting_readers(path, count)

    def test_recovery_scan_of_a_sound_base_matches_the_normal_scan(self):
        bases = {
            "crlf.tbb": ["--synthetic", "200", "--seed", "3"],
            "lf.tbb": ["--synthetic", "200", "--seed", "4", "--lf"],
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
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)

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


def records(base):
    """The message texts of a sound base, read from its record chain."""
    texts = []
    offset = 3080
    while offset + 48 <= len(base):
        magic, size = struct.unpack_from("<II", base, offset)
        if magic != 0x19700921 or size != 48:
            break
        (length,) = struct.unpack_from("<I", base, offset + 36)
        texts.append(base[offset + 48:offset + 48 + length])
        offset += 48 + length
    return texts


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

    def convert(self, mkbase_args):
        base = os.path.join(self.dir, "messages.tbb")
        made = run([MKBASE, "--quiet", base] + mkbase_args, self.dir)
        self.assertEqual(0, made.returncode, made.stderr)
        with open(base, "rb") as f:
            base_bytes = f.read()
        converted = run([KORVANE, "messages.tbb"], self.dir)
        self.assertEqual(0, converted.returncode, converted.stdout)
        with open(base, "rb") as f:
            self.assertEqual(base_bytes, f.read(), "the base changed")
        found = re.search(rb"found (\d+) messages", converted.stdout)
        self.assertIsNotNone(found, converted.stdout)
        texts = records(base_bytes)
        self.assertEqual(len(texts), int(found.group(1)))
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


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)

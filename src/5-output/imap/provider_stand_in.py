#!/usr/bin/env python3
"""Stand-ins for the two big mail providers, on loopback, for the tests.

usage: provider_stand_in.py DOVECOT_DIR CONTROL_PORT

A test asks the control port (plain text, one line each way) for a stand-in
of its own:

    open provider=google|microsoft [setting=value ...]
        -> ok imap=PORT oauth=PORT id=ID
    stats ID      -> ok name=value ...  (what the stand-in saw)
    nextday ID    -> ok                 (the daily count starts again)
    close ID      -> ok

Each stand-in is an OAuth2 server over HTTPS (authorize, token with PKCE
checked, device code, refresh) and an IMAP server over TLS that behaves as
the provider documents and hands every other command to the test Dovecot
(DOVECOT_DIR/server.env), logged in as its user "korvane". Both use
Dovecot's test certificate (made out for 127.0.0.1 by the test CA).

Settings (0 or "" for none):
    client_id, client_secret   the registration the stub knows
    consent=deny               the user refuses at the authorization page
    device_pending=N           polls answered authorization_pending first
    slow_down=1                the first poll answered slow_down
    expire_after=N             an access token is good for N messages
    throttle_every=N           every Nth APPEND answered "throttled"
    backoff_ms=N               the backoff that answer suggests
    daily_bytes=N              bytes a day, then Google's OVERQUOTA
    cap=N                      connections at once (Gmail's "Too many
                               simultaneous connections")
    appendlimit=N              APPENDLIMIT announced
    refresh_token=T            a refresh token the stub takes
Time is scaled down: Microsoft suggests about 300000 ms, the tests 300.
"""
import base64
import hashlib
import http.server
import json
import os
import re
import secrets
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

DOVECOT_DIR = sys.argv[1]
ENV = dict(line.strip().split("=", 1)
           for line in open(os.path.join(DOVECOT_DIR, "server.env"))
           if "=" in line)
TLS_DIR = os.path.join(DOVECOT_DIR, "tls")
SCOPES = {
    "google": "https://mail.google.com/",
    "microsoft":
        "https://outlook.office.com/IMAP.AccessAsUser.All offline_access",
}


def server_context():
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(TLS_DIR, "server.crt"),
                            os.path.join(TLS_DIR, "server.key"))
    return context


class StandIn:
    """One provider's OAuth2 server and IMAP server, with what they saw."""

    def __init__(self, settings):
        self.provider = settings.get("provider", "google")
        self.settings = settings
        self.lock = threading.Lock()
        self.codes = {}      # code -> (challenge, redirect_uri)
        self.devices = {}    # device code -> polls so far
        self.access = {}     # access token -> messages appended with it
        # A refresh token a script hands in (KORVANE_OAUTH2_REFRESH_TOKEN).
        self.refresh = {settings["refresh_token"]} \
            if settings.get("refresh_token") else set()
        self.stats = dict(authorizations=0, refused_consent=0, pkce_failures=0,
                          code_exchanges=0, device_polls=0, slow_downs=0,
                          refreshes=0, logins=0, refused_logins=0,
                          expired_sessions=0, appends=0, appended_bytes=0,
                          throttled=0, over_daily=0, over_appendlimit=0,
                          connections=0, most_at_once=0, over_cap=0,
                          upstream_refusals=0)
        self.at_once = 0
        self.today = 0
        self.throttled_until = 0.0
        self.closed = False
        self.oauth = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), self.oauth_handler())
        self.oauth.socket = server_context().wrap_socket(
            self.oauth.socket, server_side=True)
        self.imap = socket.socket()
        self.imap.bind(("127.0.0.1", 0))
        self.imap.listen(64)
        for target in (self.oauth.serve_forever, self.accept):
            threading.Thread(target=target, daemon=True).start()

    def number(self, name):
        return int(self.settings.get(name, "0") or 0)

    def count(self, name, by=1):
        with self.lock:
            self.stats[name] += by

    def close(self):
        self.closed = True
        self.oauth.shutdown()
        self.imap.close()

    # The OAuth2 server.

    def new_tokens(self):
        access = "tok-acc-" + secrets.token_urlsafe(16)
        refresh = "tok-ref-" + secrets.token_urlsafe(16)
        with self.lock:
            self.access[access] = 0
            self.refresh.add(refresh)
        return {"access_token": access, "refresh_token": refresh,
                "token_type": "Bearer", "expires_in": 3599,
                "scope": SCOPES[self.provider]}

    def oauth_handler(stand_in):
        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, status, body, location=None):
                data = json.dumps(body).encode()
                self.send_response(status)
                if location:
                    self.send_header("Location", location)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                query = dict(urllib.parse.parse_qsl(url.query))
                if url.path != "/authorize":
                    return self.answer(404, {"error": "not_found"})
                redirect = query.get("redirect_uri", "")
                wanted = [("response_type", "code"),
                          ("client_id", stand_in.settings.get("client_id")),
                          ("scope", SCOPES[stand_in.provider]),
                          ("code_challenge_method", "S256")]
                if (any(query.get(k) != v for k, v in wanted) or
                        not query.get("code_challenge") or
                        not query.get("state") or
                        not redirect.startswith("http://127.0.0.1:")):
                    return self.answer(400, {"error": "invalid_request",
                                             "got": query})
                stand_in.count("authorizations")
                state = urllib.parse.quote(query["state"], safe="")
                if stand_in.settings.get("consent") == "deny":
                    stand_in.count("refused_consent")
                    return self.answer(302, {}, redirect +
                                       "?error=access_denied&error_description="
                                       "The+user+declined&state=" + state)
                code = "tok-code-" + secrets.token_urlsafe(16)
                with stand_in.lock:
                    stand_in.codes[code] = (query["code_challenge"], redirect)
                self.answer(302, {}, redirect + "?code=" + code +
                            "&state=" + state)

            def do_POST(self):
                length = int(self.headers.get("Content-Length", 0))
                form = dict(urllib.parse.parse_qsl(
                    self.rfile.read(length).decode()))
                settings = stand_in.settings
                if form.get("client_id") != settings.get("client_id") or (
                        settings.get("client_secret") and
                        form.get("client_secret") !=
                        settings.get("client_secret")):
                    return self.answer(401, {"error": "invalid_client"})
                if self.path == "/devicecode":
                    device = "tok-dev-" + secrets.token_urlsafe(16)
                    with stand_in.lock:
                        stand_in.devices[device] = 0
                    return self.answer(200, {
                        "device_code": device, "user_code": "KRV-7391",
                        "verification_uri": "https://127.0.0.1:%d/device" %
                        stand_in.oauth.server_address[1],
                        "expires_in": 900, "interval": 1})
                if self.path != "/token":
                    return self.answer(404, {"error": "not_found"})
                grant = form.get("grant_type")
                if grant == "authorization_code":
                    with stand_in.lock:
                        found = stand_in.codes.pop(form.get("code"), None)
                    verifier = form.get("code_verifier", "").encode()
                    challenge = base64.urlsafe_b64encode(
                        hashlib.sha256(verifier).digest()).rstrip(b"=")
                    if (not found or found[1] != form.get("redirect_uri") or
                            challenge.decode() != found[0]):
                        stand_in.count("pkce_failures")
                        return self.answer(400, {"error": "invalid_grant"})
                    stand_in.count("code_exchanges")
                    return self.answer(200, stand_in.new_tokens())
                if grant == "refresh_token":
                    if form.get("refresh_token") not in stand_in.refresh:
                        return self.answer(400, {"error": "invalid_grant"})
                    stand_in.count("refreshes")
                    return self.answer(200, stand_in.new_tokens())
                if grant == "urn:ietf:params:oauth:grant-type:device_code":
                    device = form.get("device_code")
                    with stand_in.lock:
                        polls = stand_in.devices.get(device)
                        if polls is not None:
                            stand_in.devices[device] = polls + 1
                            stand_in.stats["device_polls"] += 1
                    if polls is None:
                        return self.answer(400, {"error": "invalid_grant"})
                    if polls == 0 and settings.get("slow_down") == "1":
                        stand_in.count("slow_downs")
                        return self.answer(400, {"error": "slow_down"})
                    if polls < stand_in.number("device_pending"):
                        return self.answer(400,
                                           {"error": "authorization_pending"})
                    with stand_in.lock:
                        del stand_in.devices[device]
                    return self.answer(200, stand_in.new_tokens())
                return self.answer(400, {"error": "unsupported_grant_type"})
        return Handler

    # The IMAP server.

    def accept(self):
        while not self.closed:
            try:
                client, _ = self.imap.accept()
            except OSError:
                return
            threading.Thread(target=self.session, args=(client,),
                             daemon=True).start()

    def session(self, raw):
        try:
            client = server_context().wrap_socket(raw, server_side=True)
        except (OSError, ssl.SSLError):
            raw.close()
            return
        self.count("connections")
        session = ImapSession(self, client)
        try:
            session.run()
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            session.end()


def mailbox_name(raw):
    """A mailbox name as sent, quoted or not, in modified UTF-7 (RFC 3501
    5.1.3), as text."""
    raw = raw.strip()
    if raw.startswith(b'"'):
        raw = re.sub(rb'\\(.)', rb'\1', raw[1:-1])
    text = raw.decode("ascii", "replace")

    def decode(m):
        if not m.group(1):
            return "&"
        data = m.group(1).replace(",", "/")
        return base64.b64decode(data + "=" * (-len(data) % 4)).decode(
            "utf-16-be", "replace")
    return re.sub(r"&([^-]*)-", decode, text)


class Lines:
    """A socket read by lines and literals."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""

    def line(self):
        while b"\r\n" not in self.buffer:
            data = self.sock.recv(65536)
            if not data:
                raise ValueError("closed")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line

    def take(self, size):
        while len(self.buffer) < size:
            data = self.sock.recv(max(65536, size - len(self.buffer)))
            if not data:
                raise ValueError("closed")
            self.buffer += data
        data, self.buffer = self.buffer[:size], self.buffer[size:]
        return data


def literal_size(line):
    """The size of the literal a command line ends with, and whether it is
    synchronizing; (None, False) for none."""
    if not line.endswith(b"}") or b"{" not in line:
        return None, False
    inside = line[line.rindex(b"{") + 1:-1]
    sync = not inside.endswith(b"+") and not inside.endswith(b"-")
    digits = inside.rstrip(b"+-")
    return (int(digits), sync) if digits.isdigit() else (None, False)


class ImapSession:
    def __init__(self, stand_in, client):
        self.s = stand_in
        self.google = stand_in.provider == "google"
        self.client = client
        self.input = Lines(client)
        self.upstream = None
        self.token = None
        self.counted = False

    def send(self, text):
        self.client.sendall(text if isinstance(text, bytes) else
                            text.encode())

    def capabilities(self):
        if self.google:
            words = ("IMAP4rev1 UNSELECT IDLE NAMESPACE QUOTA ID XLIST "
                     "CHILDREN X-GM-EXT-1 UIDPLUS COMPRESS=DEFLATE ENABLE "
                     "MOVE CONDSTORE ESEARCH UTF8=ACCEPT LIST-EXTENDED "
                     "LIST-STATUS LITERAL- SPECIAL-USE")
            limit = self.s.number("appendlimit")
            if limit:
                words += " APPENDLIMIT=%d" % limit
            if not self.upstream:
                words += " SASL-IR AUTH=XOAUTH2"
            return words
        return ("IMAP4 IMAP4rev1 AUTH=PLAIN AUTH=XOAUTH2 SASL-IR UIDPLUS "
                "MOVE ID UNSELECT CHILDREN IDLE NAMESPACE LITERAL+")

    def read_command(self):
        """A whole command: its line(s) with the literals, the sizes of
        the literals, and whether an APPEND's was judged before it came."""
        parts, sizes, judged = [], [], False
        line = self.input.line()
        while True:
            size, sync = literal_size(line)
            parts.append(line)
            if size is None:
                return parts, sizes, judged
            if sync and not sizes:
                refusal = self.before_literal(parts[0], size)
                judged = True
                if refusal:
                    self.send(refusal)
                    return None, sizes, judged
                self.send("+ go ahead\r\n" if self.google else
                          "+ Ready for additional command text.\r\n")
            sizes.append(size)
            parts.append(self.input.take(size))
            line = self.input.line()

    def before_literal(self, first, size):
        """The tagged refusal of an APPEND the server turns down before its
        literal comes (as Gmail does), or None."""
        words = first.split(b" ")
        if len(words) < 2 or words[1].upper() != b"APPEND":
            return None
        refusal = self.append_refusal(size)
        return words[0].decode() + refusal + "\r\n" if refusal else None

    def append_refusal(self, size):
        limit = self.s.number("appendlimit")
        if limit and size > limit:
            self.s.count("over_appendlimit")
            return " NO [TOOBIG] Message too large. (Failure)"
        daily = self.s.number("daily_bytes")
        if daily and self.s.today + size > daily:
            self.s.count("over_daily")
            return (" NO [OVERQUOTA] Account exceeded command or bandwidth "
                    "limits. (Failure)")
        every = self.s.number("throttle_every")
        if every:
            with self.s.lock:
                now = time.monotonic()
                backoff = self.s.number("backoff_ms")
                # Every Nth APPEND outside a pause starts one; what comes
                # during it is turned down too.
                throttle = now < self.s.throttled_until
                if not throttle:
                    self.s.stats["appends_asked"] = \
                        self.s.stats.get("appends_asked", 0) + 1
                    if self.s.stats["appends_asked"] % every == 0:
                        self.s.throttled_until = now + backoff / 1000.0
                        throttle = True
                if throttle:
                    self.s.stats["throttled"] += 1
            if throttle:
                return (" BAD Request is throttled. Suggested Backoff Time: "
                        "%d milliseconds" % backoff)
        return None

    def token_good(self, token):
        with self.s.lock:
            used = self.s.access.get(token)
        expire = self.s.number("expire_after")
        return used is not None and (not expire or used < expire)

    def authenticate(self, tag, words):
        if len(words) < 3 or words[2].upper() != b"XOAUTH2":
            self.s.count("refused_logins")
            return self.send(tag + (" NO [AUTHENTICATIONFAILED] Invalid "
                                    "credentials (Failure)\r\n"
                                    if self.google else
                                    " NO AUTHENTICATE failed.\r\n"))
        initial = words[3] if len(words) > 3 else None
        if initial is None:
            self.send("+ \r\n")
            initial = self.input.line()
        try:
            fields = base64.b64decode(initial).split(b"\x01")
            token = [f[12:] for f in fields
                     if f.startswith(b"auth=Bearer ")][0].decode()
        except (ValueError, IndexError, UnicodeDecodeError):
            token = ""
        with self.s.lock:
            full = (self.s.number("cap") and
                    self.s.at_once >= self.s.number("cap"))
            if full:
                self.s.stats["over_cap"] += 1
        if full:
            return self.send(tag + " NO [ALERT] Too many simultaneous "
                             "connections. (Failure)\r\n")
        if not self.token_good(token):
            self.s.count("refused_logins")
            if self.google:
                self.send("+ " + base64.b64encode(json.dumps(
                    {"status": "400", "schemes": "Bearer",
                     "scope": SCOPES["google"]}).encode()).decode() + "\r\n")
                self.input.line()
                return self.send(tag + " NO [AUTHENTICATIONFAILED] Invalid "
                                 "credentials (Failure)\r\n")
            return self.send(tag + " NO AUTHENTICATE failed.\r\n")
        context = ssl.create_default_context(cafile=ENV["ca_file"])
        upstream = context.wrap_socket(socket.create_connection(
            ("127.0.0.1", int(ENV["imaps_port"]))),
            server_hostname="127.0.0.1")
        up = Lines(upstream)
        up.line()  # the greeting
        upstream.sendall(b"u1 LOGIN korvane test-password-1\r\n")
        answer = up.line()
        while not answer.startswith(b"u1 "):
            answer = up.line()
        if not answer.startswith(b"u1 OK"):
            # Dovecot turned the login down (its connections from one
            # address, say): the client is told so with Dovecot's words,
            # never "authenticated" on a connection that serves nothing.
            upstream.close()
            self.s.count("upstream_refusals")
            return self.send(tag + answer[2:].decode("ascii", "replace") +
                             "\r\n")
        self.upstream, self.up = upstream, up
        self.token = token
        with self.s.lock:
            self.s.at_once += 1
            self.s.stats["most_at_once"] = max(self.s.stats["most_at_once"],
                                               self.s.at_once)
            self.s.stats["logins"] += 1
        self.counted = True
        self.send(tag + (" OK korvane@example.com authenticated (Success)\r\n"
                         if self.google else " OK AUTHENTICATE completed.\r\n"))

    def relay(self, tag, parts):
        """Hands the command to Dovecot (literals as LITERAL+) and its
        answers back, the capabilities as the provider's; the tagged one is
        returned."""
        out = b""
        for i, part in enumerate(parts):
            if i % 2 == 0 and i + 1 < len(parts):
                out += part[:part.rindex(b"{")] + b"{%d+}\r\n" % len(
                    parts[i + 1])
            else:
                out += part + (b"\r\n" if i % 2 == 0 else b"")
        self.upstream.sendall(out)
        while True:
            line = self.up.line()
            size, _ = literal_size(line)
            data = self.up.take(size) if size is not None else b""
            if line.startswith(b"* CAPABILITY"):
                continue
            if line.startswith(tag.encode() + b" "):
                if b"[CAPABILITY " in line:
                    line = line[:line.index(b"[CAPABILITY ")] + b"OK"
                self.send(line + b"\r\n")
                return line
            self.send(line + b"\r\n" + data)
            while size is not None:
                line = self.up.line()
                size, _ = literal_size(line)
                data = self.up.take(size) if size is not None else b""
                self.send(line + b"\r\n" + data)

    def run(self):
        self.send("* OK Gimap ready for requests from 127.0.0.1\r\n"
                  if self.google else
                  "* OK The Microsoft Exchange IMAP4 service is ready.\r\n")
        while True:
            parts, sizes, judged = self.read_command()
            if parts is None:
                continue
            words = parts[0].split(b" ")
            tag = words[0].decode()
            name = words[1].upper() if len(words) > 1 else b""
            if name == b"CAPABILITY":
                self.send("* CAPABILITY " + self.capabilities() + "\r\n" +
                          tag + " OK Success\r\n")
            elif name == b"LOGOUT":
                self.send("* BYE LOGOUT Requested\r\n" + tag + " OK 73\r\n")
                return
            elif name == b"NOOP":
                self.send(tag + " OK Success\r\n")
            elif not self.upstream:
                if name == b"AUTHENTICATE":
                    self.authenticate(tag, words)
                else:
                    self.s.count("refused_logins")
                    self.send(tag + " NO LOGIN failed.\r\n")
            elif name == b"APPEND":
                self.append(tag, parts, sizes, judged)
            else:
                if name == b"CREATE" and self.taken_folder(tag, parts[0]):
                    self.send(tag + " NO [ALREADYEXISTS] Duplicate folder "
                              "name (Failure)\r\n")
                    continue
                self.relay(tag, parts)

    def taken_folder(self, tag, line):
        """Whether the provider has the folder CREATE names already: Gmail
        its own [Gmail] tree, Exchange any name that differs only in
        case."""
        name = mailbox_name(line.split(b" ", 2)[2])
        if self.google:
            return name.lower().split("/")[0].split(".")[0] == "[gmail]"
        self.upstream.sendall(b'%s-list LIST "" "*"\r\n' % tag.encode())
        names = []
        while True:
            answer = self.up.line()
            if answer.startswith(tag.encode() + b"-list "):
                break
            listed = re.match(rb'\* LIST \([^)]*\) (?:"[^"]*"|NIL) (.*)$',
                              answer)
            if listed:
                names.append(mailbox_name(listed.group(1)))
        return any(n != name and n.casefold() == name.casefold()
                   for n in names)

    def append(self, tag, parts, sizes, judged):
        size = sizes[0] if sizes else 0
        expire = self.s.number("expire_after")
        with self.s.lock:
            used = self.s.access.get(self.token, 0)
        if expire and used >= expire:
            self.s.count("expired_sessions")
            if not self.google:
                self.send("* BYE Session invalidated - AccessTokenExpired\r\n")
                raise ValueError("expired")
        refusal = None if judged else self.append_refusal(size)
        if refusal:
            return self.send(tag + refusal + "\r\n")
        answer = self.relay(tag, parts)
        if answer.split(b" ")[1:2] == [b"OK"]:
            with self.s.lock:
                self.s.access[self.token] = self.s.access.get(
                    self.token, 0) + len(sizes)
                self.s.today += sum(sizes)
                self.s.stats["appends"] += len(sizes)
                self.s.stats["appended_bytes"] += sum(sizes)

    def end(self):
        if self.counted:
            with self.s.lock:
                self.s.at_once -= 1
        for sock in (self.upstream, self.client):
            try:
                if sock:
                    sock.close()
            except OSError:
                pass


class Control(socketserver.StreamRequestHandler):
    stand_ins = {}
    lock = threading.Lock()

    def handle(self):
        for raw in self.rfile:
            words = raw.decode().split()
            if not words:
                continue
            command, rest = words[0], words[1:]
            with Control.lock:
                if command == "open":
                    stand_in = StandIn(dict(w.split("=", 1) for w in rest))
                    key = str(stand_in.imap.getsockname()[1])
                    Control.stand_ins[key] = stand_in
                    reply = "ok imap=%s oauth=%d id=%s" % (
                        key, stand_in.oauth.server_address[1], key)
                elif rest and rest[0] in Control.stand_ins:
                    stand_in = Control.stand_ins[rest[0]]
                    if command == "stats":
                        with stand_in.lock:
                            reply = "ok " + " ".join(
                                "%s=%s" % kv for kv in
                                sorted(stand_in.stats.items()))
                    elif command == "nextday":
                        with stand_in.lock:
                            stand_in.today = 0
                        reply = "ok"
                    elif command == "close":
                        del Control.stand_ins[rest[0]]
                        stand_in.close()
                        reply = "ok"
                    else:
                        reply = "error unknown command"
                else:
                    reply = "error no such stand-in"
            self.wfile.write((reply + "\n").encode())
            self.wfile.flush()


class ControlServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


ControlServer(("127.0.0.1", int(sys.argv[2])), Control).serve_forever()

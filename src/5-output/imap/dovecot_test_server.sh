#!/bin/sh
# A throwaway Dovecot for the IMAP tests, everything under DIR:
#   dovecot_test_server.sh start DIR   writes DIR/server.env and starts it
#   dovecot_test_server.sh stop DIR    stops it and removes DIR
# Loopback only: IMAPS and IMAP with STARTTLS on free high ports, a CA of
# its own and a server certificate for localhost and 127.0.0.1, users in a
# passwd file with Maildir storage (owned by nobody, as whom Dovecot stores
# the mail), an OAuth2 passdb asking a small token stub on loopback, and the
# control port of the providers' stand-ins (provider_stand_in.py). The
# user "small" may store no message over 1 MB (the quota plugin); the
# user "tree" is for tests that write into the account's INBOX; on
# 127.0.0.3 a user may have 4 connections at once (the user "limited" is
# for that test alone).
set -eu
action=$1
dir=$2

stop() {
  if [ -f "$dir/run/master.pid" ]; then
    kill "$(cat "$dir/run/master.pid")" 2>/dev/null || true
  fi
  for pid in stub.pid stand_in.pid; do
    if [ -f "$dir/$pid" ]; then
      kill "$(cat "$dir/$pid")" 2>/dev/null || true
    fi
  done
  # The master takes its children along; give it a moment.
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    [ -f "$dir/run/master.pid" ] && kill -0 "$(cat "$dir/run/master.pid")" \
      2>/dev/null || break
    sleep 0.2
  done
  # The sockets' folder lives under /tmp, where its names stay short.
  if [ -L "$dir/run" ]; then
    rm -rf "$(readlink "$dir/run")"
  fi
  rm -rf "$dir"
}

if [ "$action" = stop ]; then
  stop
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "dovecot_test_server.sh: Dovecot's master process needs root" >&2
  exit 1
fi
[ -d "$dir" ] && stop
mkdir -p "$dir/state" "$dir/home" "$dir/tls"
# Socket names are limited to about 100 bytes: they go below /tmp.
ln -s "$(mktemp -d /tmp/korvane-dovecot.XXXXXX)" "$dir/run"
chmod 755 "$dir" "$(readlink "$dir/run")"
# Everything written is readable by the login and mail processes.
umask 022

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
imaps_port=$(free_port)
imap_port=$(free_port)
stub_port=$(free_port)
stand_in_port=$(free_port)

tls=$dir/tls
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=korvane test CA" \
  -keyout "$tls/ca.key" -out "$tls/ca.pem" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
  -keyout "$tls/server.key" -out "$tls/server.csr" >/dev/null 2>&1
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:127.0.0.3\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
  >"$tls/server.ext"
openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" \
  -CAcreateserial -days 2 -extfile "$tls/server.ext" -out "$tls/server.crt" \
  >/dev/null 2>&1

cat >"$dir/passwd" <<USERS
korvane:{PLAIN}test-password-1::::$dir/home/korvane
small:{PLAIN}test-password-2::::$dir/home/small::userdb_quota_max_mail_size=1M
oauthuser:{PLAIN}not-used-oauth-only-$$::::$dir/home/oauthuser
tree:{PLAIN}test-password-3::::$dir/home/tree
limited:{PLAIN}test-password-4::::$dir/home/limited
USERS

cat >"$dir/oauth2.conf.ext" <<OAUTH
introspection_mode = post
introspection_url = http://127.0.0.1:$stub_port/introspect
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
OAUTH

cat >"$dir/dovecot.conf" <<CONF
base_dir = $(readlink "$dir/run")
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = imap
# 127.0.0.2 is not in the certificate: a host it was not made out for.
listen = 127.0.0.1, 127.0.0.2, 127.0.0.3
ssl = required
ssl_cert = <$tls/server.crt
ssl_key = <$tls/server.key
ssl_min_protocol = TLSv1.2
auth_mechanisms = plain login xoauth2 oauthbearer
# The wrong-password tests need no brute-force brakes.
auth_failure_delay = 0
login_trusted_networks = 127.0.0.0/8
# Every test logs in from 127.0.0.1, mostly as korvane, two suites at once,
# and the providers' stand-ins pass each of their connections on as
# korvane (Gmail's cap alone is 15): Dovecot's 10 per user and address
# would refuse some, while the stand-ins' own cap stands for the
# provider's.
mail_max_userip_connections = 200
mail_location = maildir:~/Maildir
mail_plugins = quota
plugin {
  quota = count:User quota
  quota_vsizes = yes
}
passdb {
  driver = passwd-file
  mechanisms = plain login
  args = $dir/passwd
}
passdb {
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = $dir/oauth2.conf.ext
}
userdb {
  driver = passwd-file
  args = $dir/passwd
  default_fields = uid=nobody gid=nogroup home=$dir/home/%u
}
service imap-login {
  inet_listener imap {
    port = $imap_port
  }
  inet_listener imaps {
    port = $imaps_port
    ssl = yes
  }
}
service anvil {
  chroot =
}
local 127.0.0.3 {
  protocol imap {
    mail_max_userip_connections = 4
  }
}
service imap-login {
  chroot =
}
CONF

for user in korvane small oauthuser tree limited; do
  mkdir -p "$dir/home/$user"
done
chown -R nobody:nogroup "$dir/home"

# The token stub: "good-token" belongs to oauthuser, anything else is no
# token at all.
cat >"$dir/stub.py" <<'STUB'
import http.server, json, sys, urllib.parse
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        token = urllib.parse.parse_qs(body.decode()).get("token", [""])[0]
        answer = {"active": "true", "username": "oauthuser"} \
            if token == "good-token" else {"active": "false"}
        data = json.dumps(answer).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
    def log_message(self, *args):
        pass
http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
STUB
python3 "$dir/stub.py" "$stub_port" </dev/null >/dev/null 2>&1 &
echo $! >"$dir/stub.pid"

# Its own output goes to the log; ours is closed, or ctest would wait for it.
dovecot -c "$dir/dovecot.conf" </dev/null >/dev/null 2>&1

cat >"$dir/server.env" <<ENV
imaps_port=$imaps_port
imap_port=$imap_port
ca_file=$tls/ca.pem
config=$dir/dovecot.conf
ENV
# The providers' stand-ins read the file above; tests find them below.
python3 "$(dirname "$0")/provider_stand_in.py" "$dir" "$stand_in_port" \
  </dev/null >"$dir/stand_in.log" 2>&1 &
echo $! >"$dir/stand_in.pid"
echo "stand_in_port=$stand_in_port" >>"$dir/server.env"

# Ready once both ports answer.
for _ in $(seq 1 50); do
  if python3 -c "import socket,sys; [socket.create_connection(('127.0.0.1', p), 1).close() for p in ($imaps_port, $imap_port, $stub_port, $stand_in_port)]" 2>/dev/null; then
    exit 0
  fi
  sleep 0.1
done
echo "dovecot did not start; its log:" >&2
cat "$dir/dovecot.log" >&2 || true
exit 1

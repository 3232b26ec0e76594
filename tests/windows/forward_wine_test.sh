#!/usr/bin/env bash
# vardlix.exe forward under Wine, to a real rsyslogd of this machine: one
# record written through Vardlix.dll reaches it over RELP, TCP and UDP, each
# field as sent, and the summary says what each transport knows. Started by
# CTest: forward_wine_test.sh TOOL_FOLDER PREFIX ARCH (TOOL_FOLDER holds
# vardlix.exe and Vardlix.dll; ARCH as for wine-env.sh).
set -euo pipefail
tool_folder=$1
source "$(dirname "$0")/../../scripts/wine-env.sh" "$2" "$3"
wine_prefix_ensure

work=$(mktemp -d)
rsyslog_pid=""
forward_pid=""
service=""
# Nothing may outlive the test: a program left running keeps CTest waiting.
cleanup() {
  set +e
  [[ -n "$forward_pid" ]] && kill -KILL "$forward_pid" 2>/dev/null
  if [[ -n "$service" ]]; then
    "$VARDLIX_WINE" sc stop "$service" >/dev/null 2>&1
    "$VARDLIX_WINE" sc delete "$service" >/dev/null 2>&1
  fi
  [[ -n "$rsyslog_pid" ]] && kill "$rsyslog_pid" 2>/dev/null
  wait
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "forward_wine_test: $*" >&2; exit 1; }

# Waits up to 60 s for a command to succeed.
wait_for() {
  for _ in $(seq 600); do "$@" && return 0; sleep 0.1; done
  return 1
}

# The TCP port is the system's choice; the UDP port takes the same number,
# which no UDP socket of this machine is likely to hold; the RELP port is one
# that was free a moment ago.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
relp_port=$(free_port)
relps_port=$(free_port)
tls_port=$(free_port)
# A CA, a server certificate for localhost (SChannel matches DNS names
# only), and a second CA that signed nothing of the collector's.
openssl_quiet() { openssl "$@" >/dev/null 2>&1 || fail "openssl $1 failed"; }
openssl_quiet req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/ca.key" -out "$work/ca.pem" -subj "/CN=Test CA"
openssl_quiet req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/other-ca.key" -out "$work/other-ca.pem" \
  -subj "/CN=Other CA"
openssl_quiet req -newkey rsa:2048 -nodes -keyout "$work/server.key" -out "$work/server.csr" -subj "/CN=localhost"
printf 'subjectAltName=DNS:localhost\n' > "$work/server.ext"
openssl_quiet x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
  -out "$work/server.pem" -extfile "$work/server.ext"
cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work")
module(load="imrelp" tls.tlslib="openssl")
input(type="imrelp" address="127.0.0.1" port="$relp_port")
input(type="imrelp" address="127.0.0.1" port="$relps_port" tls="on" tls.caCert="$work/ca.pem"
      tls.myCert="$work/server.pem" tls.myPrivKey="$work/server.key")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="$tls_port" streamDriver.name="ossl" streamDriver.mode="1"
      streamDriver.authMode="anon" streamDriver.CAFile="$work/ca.pem" streamDriver.CertFile="$work/server.pem"
      streamDriver.KeyFile="$work/server.key")
module(load="imudp")
input(type="imtcp" address="127.0.0.1" port="0" listenPortFileName="$work/port")
template(name="fields" type="list" option.jsonf="on") {
  property(outname="pri" name="pri" format="jsonf")
  property(outname="app" name="app-name" format="jsonf")
  property(outname="msgid" name="msgid" format="jsonf")
  property(outname="sd" name="structured-data" format="jsonf")
  property(outname="msg" name="msg" format="jsonf")
}
if \$inputname == "imtcp" or \$inputname == "imudp" or \$inputname == "imrelp" then {
  action(type="omfile" file="$work/messages.jsonl" template="fields")
}
CONF
PATH="$PATH:/usr/sbin:/sbin" rsyslogd -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" </dev/null >"$work/rsyslogd.log" 2>&1 &
rsyslog_pid=$!
wait_for test -s "$work/port" || fail "rsyslogd opened no port: $(cat "$work/rsyslogd.log")"
port=$(cat "$work/port")
# imudp takes its port from the configuration only: a second start adds it.
kill "$rsyslog_pid"; wait "$rsyslog_pid" 2>/dev/null || true
sed -i "s|port=\"0\"|port=\"$port\"|; s|^module(load=\"imudp\")|&\ninput(type=\"imudp\" address=\"127.0.0.1\" port=\"$port\")|" \
  "$work/rsyslog.conf"
PATH="$PATH:/usr/sbin:/sbin" rsyslogd -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" </dev/null >"$work/rsyslogd.log" 2>&1 &
rsyslog_pid=$!
wait_for bash -c "echo -n > /dev/tcp/127.0.0.1/$port && echo -n > /dev/tcp/127.0.0.1/$relp_port &&
  echo -n > /dev/tcp/127.0.0.1/$relps_port && echo -n > /dev/tcp/127.0.0.1/$tls_port" 2>/dev/null ||
  fail "rsyslogd did not come back: $(cat "$work/rsyslogd.log")"

cp "$tool_folder/vardlix.exe" "$tool_folder/Vardlix.dll" "$work/"
cd "$work"
"$VARDLIX_WINE" vardlix.exe write -- Error Network Connect 'host=example.org "port"=443]' 'Connection refused' ||
  fail "vardlix.exe write failed"
day_file=$(cd vardlixLog && ls Vardlix*.xml)
day_stamp=${day_file#Vardlix}
day_stamp=${day_stamp%.xml}

count_lines() { [[ -f messages.jsonl ]] && wc -l < messages.jsonl || echo 0; }
more_than() { [[ $(count_lines) -gt $1 ]]; }
windows_path() { "$VARDLIX_WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
ca=$(windows_path "$work/ca.pem")
# Over TLS through SChannel, the collector verified against the test's CA.
for row in "relp 127.0.0.1 $relp_port delivered" "tcp 127.0.0.1 $port sent" "udp 127.0.0.1 $port sent" \
  "relps localhost $relps_port delivered" "tls localhost $tls_port sent"; do
  read -r scheme host scheme_port words <<<"$row"
  before=$(count_lines)
  tls_options=()
  [[ $scheme == relps || $scheme == tls ]] && tls_options=(--ca "$ca")
  "$VARDLIX_WINE" vardlix.exe forward --folder vardlixLog --to "$scheme://$host:$scheme_port" --from-start \
    --state "$scheme.json" "${tls_options[@]}" </dev/null >/dev/null 2>"forward-$scheme.err" &
  forward_pid=$!
  wait_for more_than "$before" || fail "nothing arrived over $scheme: $(cat "forward-$scheme.err")"
  # A second forwarder on the same checkpoint finds its lock taken.
  if [[ $scheme == relp ]]; then
    second=0
    "$VARDLIX_WINE" vardlix.exe forward --folder vardlixLog --to "$scheme://$host:$scheme_port" --state "$scheme.json" \
      </dev/null >/dev/null 2>second.err || second=$?
    (( second == 1 )) && grep -q "another vardlix forward is using the checkpoint" second.err ||
      fail "a second forwarder on one checkpoint ended with $second: $(cat second.err)"
  fi
  kill -INT "$forward_pid"
  status=0
  wait "$forward_pid" || status=$?
  forward_pid=""
  (( status == 0 )) || fail "forward over $scheme ended with $status: $(cat "forward-$scheme.err")"
  grep -q "^forward: 1 records to $scheme://$host:$scheme_port $words, 0 behind" "forward-$scheme.err" ||
    fail "no summary over $scheme: $(cat "forward-$scheme.err")"
done

# A collector whose certificate another CA signed is refused in one line,
# tried again, and sent nothing.
before=$(count_lines)
"$VARDLIX_WINE" vardlix.exe forward --folder vardlixLog --to "relps://localhost:$relps_port" --from-start \
  --state refused.json --ca "$(windows_path "$work/other-ca.pem")" </dev/null >/dev/null 2>forward-refused.err &
forward_pid=$!
wait_for grep -q "unknown CA" forward-refused.err || fail "no unknown CA said: $(cat forward-refused.err)"
kill -INT "$forward_pid"
wait "$forward_pid" || true
forward_pid=""
[[ $(count_lines) -eq $before ]] || fail "records went to a collector that was not verified"

# As a Windows service, installed by the tool for a configuration file: the
# service manager starts vardlix.exe with the command line the tool
# registered, and a stop request ends it as Ctrl-C does, with its checkpoint
# written and exit code 0; --remove-service stops it and removes it.
service="VardlixForwardTest$$"
json_path() { windows_path "$1" | sed 's/\\/\\\\/g'; }
cat > service-config.json <<JSON
{"to": "tcp://127.0.0.1:$port", "from-start": true,
 "folders": [{"folder": "$(json_path "$work/vardlixLog")", "state": "$(json_path "$work/service.json")"}]}
JSON
before=$(count_lines)
"$VARDLIX_WINE" vardlix.exe forward --install-service "$service" --config service-config.json >sc.out 2>&1 ||
  fail "--install-service failed: $(cat sc.out)"
"$VARDLIX_WINE" sc start "$service" >sc.out 2>&1 || fail "sc start failed: $(cat sc.out)"
wait_for more_than "$before" || fail "nothing arrived from the service"
"$VARDLIX_WINE" sc stop "$service" >sc.out 2>&1 || fail "sc stop failed: $(cat sc.out)"
stopped() { "$VARDLIX_WINE" sc query "$service" >sc.out 2>&1 && grep -q "STOPPED" sc.out; }
wait_for stopped || fail "the service did not stop: $(cat sc.out)"
grep -Eq "WIN32_EXIT_CODE +: 0 " sc.out || fail "the service stopped with an error: $(cat sc.out)"
grep -q '"records": *1' service.json || fail "the service wrote no checkpoint: $(cat service.json 2>&1)"
"$VARDLIX_WINE" vardlix.exe forward --remove-service "$service" >sc.out 2>&1 ||
  fail "--remove-service failed: $(cat sc.out)"
! "$VARDLIX_WINE" sc query "$service" >/dev/null 2>&1 || fail "the service is still there"
service=""

expected='{"pri":"11", "app":"vardlix", "msgid":"Error", "sd":"[vardlix@32473 type=\"Error\" location=\"Network\" operation=\"Connect\" parameters=\"host=example.org \\\"port\\\"=443\\]\" file=\"'"$day_file"'\" record=\"'"$day_stamp"'-1\"]", "msg":"Connection refused"}'
while read -r line; do
  [[ "$line" == "$expected" ]] || fail "$(printf 'got      %s\nexpected %s' "$line" "$expected")"
done < messages.jsonl
[[ $(count_lines) -eq 6 ]] || fail "$(count_lines) messages instead of 6"
echo "forward_wine_test: vardlix.exe delivered over relp, tcp, udp, relps and tls, and as a service"

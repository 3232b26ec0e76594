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
relp_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work")
module(load="imrelp")
input(type="imrelp" address="127.0.0.1" port="$relp_port")
module(load="imtcp")
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
wait_for bash -c "echo -n > /dev/tcp/127.0.0.1/$port && echo -n > /dev/tcp/127.0.0.1/$relp_port" 2>/dev/null ||
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
for row in "relp $relp_port delivered" "tcp $port sent" "udp $port sent"; do
  read -r scheme scheme_port words <<<"$row"
  before=$(count_lines)
  "$VARDLIX_WINE" vardlix.exe forward --folder vardlixLog --to "$scheme://127.0.0.1:$scheme_port" --from-start \
    --state "$scheme.json" </dev/null >/dev/null 2>"forward-$scheme.err" &
  forward_pid=$!
  wait_for more_than "$before" || fail "nothing arrived over $scheme: $(cat "forward-$scheme.err")"
  # A second forwarder on the same checkpoint finds its lock taken.
  if [[ $scheme == relp ]]; then
    second=0
    "$VARDLIX_WINE" vardlix.exe forward --folder vardlixLog --to "$scheme://127.0.0.1:$scheme_port" --state "$scheme.json" \
      </dev/null >/dev/null 2>second.err || second=$?
    (( second == 1 )) && grep -q "another vardlix forward is using the checkpoint" second.err ||
      fail "a second forwarder on one checkpoint ended with $second: $(cat second.err)"
  fi
  kill -INT "$forward_pid"
  status=0
  wait "$forward_pid" || status=$?
  forward_pid=""
  (( status == 0 )) || fail "forward over $scheme ended with $status: $(cat "forward-$scheme.err")"
  grep -q "^forward: 1 records to $scheme://127.0.0.1:$scheme_port $words, 0 behind" "forward-$scheme.err" ||
    fail "no summary over $scheme: $(cat "forward-$scheme.err")"
done

# As a Windows service: the service manager starts vardlix.exe with the
# command line the service was created with, and a stop request ends it as
# Ctrl-C does, with its checkpoint written and exit code 0.
windows_path() { "$VARDLIX_WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
service="VardlixForwardTest$$"
before=$(count_lines)
"$VARDLIX_WINE" sc create "$service" binPath= "\"$(windows_path "$work/vardlix.exe")\" forward --service $service \
--folder \"$(windows_path "$work/vardlixLog")\" --to tcp://127.0.0.1:$port --from-start \
--state \"$(windows_path "$work/service.json")\"" >sc.out 2>&1 || fail "sc create failed: $(cat sc.out)"
"$VARDLIX_WINE" sc start "$service" >sc.out 2>&1 || fail "sc start failed: $(cat sc.out)"
wait_for more_than "$before" || fail "nothing arrived from the service"
"$VARDLIX_WINE" sc stop "$service" >sc.out 2>&1 || fail "sc stop failed: $(cat sc.out)"
stopped() { "$VARDLIX_WINE" sc query "$service" >sc.out 2>&1 && grep -q "STOPPED" sc.out; }
wait_for stopped || fail "the service did not stop: $(cat sc.out)"
grep -Eq "WIN32_EXIT_CODE +: 0 " sc.out || fail "the service stopped with an error: $(cat sc.out)"
grep -q '"records": *1' service.json || fail "the service wrote no checkpoint: $(cat service.json 2>&1)"
"$VARDLIX_WINE" sc delete "$service" >/dev/null 2>&1
service=""

expected='{"pri":"11", "app":"vardlix", "msgid":"Error", "sd":"[vardlix@32473 type=\"Error\" location=\"Network\" operation=\"Connect\" parameters=\"host=example.org \\\"port\\\"=443\\]\" file=\"'"$day_file"'\" record=\"'"$day_stamp"'-1\"]", "msg":"Connection refused"}'
while read -r line; do
  [[ "$line" == "$expected" ]] || fail "$(printf 'got      %s\nexpected %s' "$line" "$expected")"
done < messages.jsonl
[[ $(count_lines) -eq 4 ]] || fail "$(count_lines) messages instead of 4"
echo "forward_wine_test: vardlix.exe delivered over relp, tcp and udp, and as a service"

#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, when it is missing.
# Safe to run again: it only calls apt-get for packages that are not there.
#   scripts/setup.sh            Linux build, tests, benchmarks, tool
#   scripts/setup.sh --windows  also the MinGW cross compilers and Wine, 32- and 64-bit
set -euo pipefail

# python3: its XML, JSON and CSV modules read what the crash test and the
# tool's exports leave. rsyslog (with rsyslog-relp, its RELP input) and lnav:
# the tests of vardlix forward and of the lnav format start them (their
# services are never started). chromium, chromium-driver and python3-selenium:
# the test of vardlix report opens its page in a headless Chromium;
# fonts-wqy-zenhei gives it Chinese glyphs. tzdata: the zone names of --tz.
# clang-format: the code's style, .clang-format at the top of the tree.
# libxml2-utils: xmllint, a second standard XML reader of a day's file.
# systemd: systemd-analyze verify checks the forwarder's unit file. The
# libraries of syslog-ng-core, whose package is unpacked (below), not
# installed: it conflicts with rsyslog.
# libssl-dev: OpenSSL, the TLS of vardlix forward's relps:// and tls:// on
# Linux; rsyslog-openssl and rsyslog-gnutls: imtcp's TLS drivers, which the
# tests of syslog over TLS start (imrelp's TLS comes with rsyslog-relp).
packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev
          libpugixml-dev libcli11-dev nlohmann-json3-dev clang libclang-rt-dev clang-format attr file python3
          rsyslog rsyslog-relp lnav chromium chromium-driver python3-selenium fonts-wqy-zenhei tzdata
          libxml2-utils systemd libivykis0 libnet1 libwrap0 libglib2.0-0 libcap2 libjson-c5 libpcre3
          libssl-dev rsyslog-openssl rsyslog-gnutls)
# mono-mcs and mono-runtime: the test of the .NET binding compiles it and
# runs it against libvardlix.so; nuget installs its package from a folder
# feed. python3-venv: the test of the Python wheel installs it with pip
# into a fresh virtual environment.
packages+=(mono-mcs mono-runtime nuget python3-venv)
windows=0
[[ "${1:-}" == "--windows" ]] && windows=1
if (( windows )); then
  # llvm (llvm-dlltool), lld (lld-link) and clang-tools-14 (clang-cl) make
  # the Microsoft-format import library and a host in that ABI.
  packages+=(g++-mingw-w64-i686 wine wine32:i386 llvm lld clang-tools-14 locales)
  # The 64-bit DLL: the x86-64 cross compiler (its posix variant) and Wine's
  # 64-bit loader.
  packages+=(g++-mingw-w64-x86-64-posix wine64)
  # Wine's SChannel (the TLS of vardlix.exe) loads GnuTLS of the program's
  # bitness, which is only a Recommends of libwine and libwine:i386, and so
  # left out by --no-install-recommends: without it every handshake fails.
  # Named with their architectures, since dpkg -s cannot tell which of the
  # two a bare name means. openssl: the TLS test's certificates and server.
  packages+=(libgnutls30:amd64 libgnutls30:i386 openssl)
fi

# Wine takes the ANSI code page from the Linux locale, which must exist:
# the Windows stage runs under zh_CN.UTF-8 (code page 936) as well.
ensure_chinese_locale() {
  (( windows )) || return 0
  locale -a 2>/dev/null | grep -qix 'zh_CN.utf8' && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: the locale zh_CN.UTF-8 is missing (run as root to make it)" >&2
    exit 1
  fi
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
}

# syslog-ng, for the forward tests that run it: unpacked from Debian's
# package in /opt/syslog-ng, since installing it would remove rsyslog.
syslog_ng_root=/opt/syslog-ng
ensure_syslog_ng() {
  [[ -x "$syslog_ng_root/usr/sbin/syslog-ng" ]] && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: syslog-ng is not unpacked in $syslog_ng_root (run as root to do it; its tests skip meanwhile)" >&2
    return 0
  fi
  local download
  download=$(mktemp -d)
  (cd "$download" && apt-get download -q syslog-ng-core >/dev/null)
  mkdir -p "$syslog_ng_root"
  dpkg -x "$download"/syslog-ng-core_*.deb "$syslog_ng_root"
  rm -rf "$download"
}

missing=()
for p in "${packages[@]}"; do
  # A library installed for both architectures answers to its name only
  # with the native architecture added.
  dpkg -s "$p" >/dev/null 2>&1 || dpkg -s "$p:$(dpkg --print-architecture)" >/dev/null 2>&1 || missing+=("$p")
done
if (( ${#missing[@]} == 0 )); then
  ensure_chinese_locale
  ensure_syslog_ng
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
if (( windows )) && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
ensure_chinese_locale
ensure_syslog_ng

#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing.
# Usage: deps.sh run|test|bench
set -euo pipefail
common="g++ cmake make pkg-config libpq-dev libssl-dev libcurl4-openssl-dev zlib1g-dev postgresql libboost1.81-dev"
case "${1:-test}" in
  run) want="$common" ;;
  test) want="$common googletest libgtest-dev libgmock-dev clang-14 libclang-rt-14-dev gdb curl python3 openssl chromium" ;;
  bench) want="$common libbenchmark-dev rapidjson-dev nginx wrk" ;;
  *) echo "deps.sh: unknown profile $1" >&2; exit 2 ;;
esac
missing=""
for p in $want; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# Browser tests run on node; a node that came from elsewhere (with its own npm) is kept.
if [ "${1:-test}" = test ]; then
  command -v node >/dev/null || missing="$missing nodejs"
  command -v npm >/dev/null || missing="$missing npm"
fi
if [ -n "$missing" ]; then
  echo "installing:$missing"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
fi

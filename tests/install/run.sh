#!/usr/bin/env bash
# Installs the built library into a scratch prefix, then configures, builds and runs a separate project that
# finds it with find_package(VarnelLdap) and links Varnel::Ldap.
# Usage: run.sh <build dir> <consumer source dir> <extra C++ flags>
set -euo pipefail
build=$1 consumer=$2 flags=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/build" >/dev/null
output=$(LD_LIBRARY_PATH="$work/prefix/lib:$work/prefix/lib64:${LD_LIBRARY_PATH:-}" "$work/build/consumer")
echo "$output"
grep -qx "4.0.0.0" <<<"$output"
grep -qx "Not connected to an LDAP server." <<<"$output"

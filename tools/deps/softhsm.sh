#!/usr/bin/env bash
# SoftHSM 2.6.1 with GOST, built from Debian's source package for the token tests
# (Debian's binary package has GOST compiled out). Cached outside the source tree and
# rebuilt only when missing. Quiet: one line per step, a tool's output only on failure.
#
#   ORVANTA_SOFTHSM_PREFIX  install prefix (default /var/cache/orvanta/softhsm-2.6.1-gost);
#                           tests/support/token/CMakeLists.txt names the same default.
set -euo pipefail

version=2.6.1
prefix=${ORVANTA_SOFTHSM_PREFIX:-/var/cache/orvanta/softhsm-$version-gost}
stamp=$prefix/.built
tarball=softhsm2_$version.orig.tar.gz

step() { printf 'softhsm: %s\n' "$*"; }

run_quiet() {
    local log
    log=$(mktemp)
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

if [ -f "$stamp" ] && [ -e "$prefix/lib/softhsm/libsofthsm2.so" ] && [ -x "$prefix/bin/softhsm2-util" ]; then
    step "cached in $prefix"
    exit 0
fi

# SHA-256 of the upstream tarball as the source package lists it.
source_sha() {
    apt-cache showsrc softhsm2 2>/dev/null | awk -v f="$tarball" '
        /^Checksums-Sha256:/ { in_sha = 1; next }
        /^[^ ]/ { in_sha = 0 }
        in_sha && $3 == f { print $1; exit }' || true
}

# The deb-src entry may be newer than the last package-list update.
sha=$(source_sha)
if [ -z "$sha" ]; then
    step "apt-get update (source lists)"
    run_quiet apt-get update
    sha=$(source_sha)
fi
if [ -z "$sha" ]; then
    echo "softhsm: apt-cache showsrc softhsm2 lists no SHA-256 for $tarball (is a deb-src entry configured?)" >&2
    exit 1
fi

work=$(mktemp -d /tmp/orvanta-softhsm.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

step "downloading the source package"
# The packaging tarball is missing on the mirror, so apt-get fails after the upstream
# tarball has arrived; what counts is that tarball and its checksum.
apt-get source --download-only softhsm2 >download.log 2>&1 || true
if [ ! -f "$tarball" ]; then
    cat download.log >&2
    echo "softhsm: $tarball did not arrive" >&2
    exit 1
fi
if ! echo "$sha  $tarball" | sha256sum --check --quiet >/dev/null 2>&1; then
    echo "softhsm: $tarball does not match the SHA-256 $sha from apt-cache showsrc" >&2
    exit 1
fi
step "verified $tarball"

run_quiet tar -xzf "$tarball"
src=$(find . -maxdepth 1 -type d -name "softhsm*" | head -n1)
[ -n "$src" ] || { echo "softhsm: no source folder in $tarball" >&2; exit 1; }
cd "$src"

step "configuring (Botan, GOST)"
rm -rf "$prefix"
run_quiet ./configure --prefix="$prefix" --with-crypto-backend=botan --enable-gost \
    --disable-non-paged-memory --without-p11-kit --disable-dependency-tracking

jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -le 2 ] || jobs=2
step "building (make -j$jobs)"
start=$(date +%s)
run_quiet make -j"$jobs"
step "built in $(( $(date +%s) - start )) s"

step "installing into $prefix"
run_quiet make install
[ -e "$prefix/lib/softhsm/libsofthsm2.so" ] || { echo "softhsm: libsofthsm2.so not installed" >&2; exit 1; }
date -u +%FT%TZ >"$stamp"

#!/usr/bin/env bash
# Checks the Debian package the way a new user meets it: on a freshly
# bootstrapped Debian system (a chroot) a clean clone of this repository's
# HEAD makes the package with scripts/make-deb.sh; the package is then
# installed with apt-get on a second fresh system, where the installed
# programs must find every library and vistrel-cli must run.
#
#     scripts/check-deb-fresh.sh [WORK_DIR]     (as root; default /var/tmp/vistrel-deb-check)
#
# WORK_DIR keeps the bootstrapped base (base-SUITE.tar) between runs; both
# systems are unpacked from it anew each time. SUITE (bookworm) and MIRROR
# (http://deb.debian.org/debian) choose what is bootstrapped. Slow: it
# installs the build dependencies and compiles the programs from scratch.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "check-deb-fresh: run as root (debootstrap, chroot)"; exit 1; }
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/var/tmp/vistrel-deb-check}
suite=${SUITE:-bookworm}
mirror=${MIRROR:-http://deb.debian.org/debian}
mkdir -p "$work"
base=$work/base-$suite.tar
if [ ! -f "$base" ]; then
  command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap
  rm -rf "$work/base"
  debootstrap --variant=minbase "$suite" "$work/base" "$mirror"
  tar -C "$work/base" -cf "$base" .
  rm -rf "$work/base"
fi

mounts=()
cleanup() {
  for m in "${mounts[@]}"; do umount -l "$m" 2>/dev/null || true; done
}
trap cleanup EXIT
# A new system in $1, unpacked from the base, with /proc and the host's resolver.
fresh() {
  rm -rf "$1"
  mkdir -p "$1"
  tar -C "$1" -xf "$base"
  cp /etc/resolv.conf "$1/etc/resolv.conf"
  mount -t proc proc "$1/proc"
  mounts+=("$1/proc")
}
in_root() { chroot "$1" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "${@:2}"; }

echo "== building the package on a fresh $suite"
builder=$work/builder
fresh "$builder"
git clone -q "$root" "$builder/src"
in_root "$builder" bash -c 'cd /src && scripts/make-deb.sh /src/build-deb'
package=$(ls "$builder"/src/build-deb/vistrel_*.deb)
echo "package: $(basename "$package")"
dpkg-deb --field "$package" Depends

echo "== installing it on another fresh $suite"
target=$work/target
fresh "$target"
cp "$package" "$target/tmp/"
in_root "$target" apt-get update -qq
in_root "$target" bash -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/vistrel_*.deb >/dev/null'
failed=0
for program in vistrel vistrel-cli vistrel-tileserver; do
  missing=$(in_root "$target" ldd "/usr/bin/$program" | grep "not found" || true)
  if [ -z "$missing" ]; then echo "ok: /usr/bin/$program finds its libraries"; else
    echo "FAIL: /usr/bin/$program: $missing"; failed=1; fi
done
if in_root "$target" vistrel-cli --help >/dev/null; then echo "ok: vistrel-cli --help"; else
  echo "FAIL: vistrel-cli --help"; failed=1; fi
# A cache-only download: the task runs and finds nothing cached (status 3).
status=0
in_root "$target" vistrel-cli download --zoom 2 --from 60,-20 --to 40,20 --mode cache >/dev/null || status=$?
if [ "$status" -eq 3 ] || [ "$status" -eq 0 ]; then echo "ok: vistrel-cli runs a task"; else
  echo "FAIL: vistrel-cli download ended with $status"; failed=1; fi
[ "$failed" -eq 0 ] && echo "check-deb-fresh: passed" || { echo "check-deb-fresh: FAILED"; exit 1; }

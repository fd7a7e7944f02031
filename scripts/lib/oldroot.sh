# shellcheck shell=bash  # sourced, never run: no #! line to say so
# The Debian 11 (bullseye) root that the shipped Linux programs are built in,
# so that they run on the older C libraries of the distributions they are
# meant for. One root serves every clone of the repository: it lives in a
# cache directory outside the work tree (/var/cache/varnicle/bullseye-root, or
# where VARNICLE_CACHE_DIR says), is made once with mmdebstrap and reused,
# without network, while it is valid. Making and chrooting need root.
#
# A root is valid when the first line of its stamp names the current recipe
# (suite, architectures and packages); the stamp's other lines record every
# installed package's version, so that two roots of one recipe made at other
# times or places can be told apart (oldroot_summary). mmdebstrap works in a
# fresh directory beside it; the stamp is written only after a sanity check of
# the finished root, which then takes the place of the old one, and the old
# one is removed only once the new one is in place: a failed step of any kind
# leaves no root that could be taken for complete, and the leftovers of an
# interrupted run are removed by the next one.
#
# Users hold a shared lock on the root for as long as they use it; making or
# replacing it takes the lock exclusively. Nothing ever writes into the root
# after it is made: builds see it read-only, runs that install into it see it
# through an overlay of their own (oldroot-enter).
#
#   oldroot_acquire   sets OLDROOT to a valid root (made when needed) and
#                     keeps the shared lock on descriptor oldroot_lock_fd
#   oldroot_enter [--net] ARGS...   oldroot-enter in fresh mount and PID
#                     namespaces (and network namespace with --net)
#   oldroot_summary [ROOT]   one line: the stamp's digest and the versions of
#                     the packages that make the programs

oldroot_suite=bullseye
# One root for every Linux build: the x86-64 build (g++ 10, make, pkg-config,
# the pcsc-lite headers), the aarch64 one (the cross g++ 10 and pcsc-lite of
# arm64 through multiarch; dpkg-dev computes either program's dependencies)
# and the end-to-end run against the root's own service (pcscd 1.9.1 and the
# vpcd reader). mmdebstrap installs the packages of both architectures in one
# step; a foreign architecture's packages run no program of theirs there.
oldroot_architectures=amd64,arm64
oldroot_packages=(g++ make pkg-config libpcsclite-dev pcscd vsmartcard-vpcd dpkg-dev
  g++-aarch64-linux-gnu libpcsclite-dev:arm64)
oldroot_recipe="mmdebstrap --variant=minbase --architectures=$oldroot_architectures --include=$(
  IFS=,
  echo "${oldroot_packages[*]}"
) $oldroot_suite; mount points /varnicle/*"
oldroot_cache=${VARNICLE_CACHE_DIR:-/var/cache/varnicle}
oldroot_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
OLDROOT=$oldroot_cache/$oldroot_suite-root
oldroot_lock_fd=

oldroot_log() {
  echo "${0##*/}: $*" >&2
}
oldroot_failed() {
  oldroot_log "cannot make the Debian 11 root: step '$1' failed${2:+ ($2)}"
}

# The Debian mirror: VARNICLE_DEBIAN_MIRROR, else the first one that apt is
# configured with on this machine (it serves bullseye as well), else
# deb.debian.org.
oldroot_mirror() {
  local uri
  if [ -n "${VARNICLE_DEBIAN_MIRROR:-}" ]; then
    printf '%s\n' "$VARNICLE_DEBIAN_MIRROR"
    return
  fi
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    sed -nE 's,^(deb[[:space:]]+(\[[^]]*\][[:space:]]+)?|URIs:[[:space:]]*)(https?://[^[:space:]]+/debian)/?([[:space:]]|$).*,\3,p' |
    head -n 1)
  printf '%s\n' "${uri:-http://deb.debian.org/debian}"
}

# True when $1 is a complete root of the current recipe.
oldroot_valid() {
  local dir=$1
  [ -d "$dir" ] && [ ! -L "$dir" ] && [ -f "$dir/.varnicle-root" ] &&
    [ "$(sed -n 1p "$dir/.varnicle-root")" = "$oldroot_recipe" ] &&
    [ "$(sed -n '$=' "$dir/.varnicle-root")" -gt 1 ] &&
    [ -x "$dir/usr/bin/g++" ] && [ -x "$dir/usr/bin/aarch64-linux-gnu-g++" ] &&
    [ -x "$dir/usr/sbin/pcscd" ] && [ -d "$dir/varnicle/src" ]
}

# The packages installed in the root at $1 and their versions, one
# "name:architecture version" a line, sorted; read from its dpkg database
# by the host's dpkg-query, without entering it.
oldroot_versions() {
  dpkg-query --admindir="$1/var/lib/dpkg" -W -f='${db:Status-Abbrev}${Package}:${Architecture} ${Version}\n' |
    sed -n 's/^ii  *//p' | LC_ALL=C sort
}

# The stamp's digest and the versions of the packages that make the shipped
# programs, from the stamp of the root at $1 (default $OLDROOT).
oldroot_summary() {
  local stamp=${1:-$OLDROOT}/.varnicle-root digest list=() package version
  [ -f "$stamp" ] || {
    echo "no stamp $stamp"
    return 1
  }
  digest=$(sha256sum <"$stamp" | cut -c1-16)
  for package in g++-10:amd64 binutils:amd64 libc6-dev:amd64 libstdc++-10-dev:amd64 libpcsclite-dev:amd64 \
    g++-10-aarch64-linux-gnu:amd64 libc6-dev-arm64-cross:all libpcsclite-dev:arm64; do
    version=$(awk -v p="$package" '$1 == p { print $2 }' "$stamp")
    list+=("${package%:amd64} ${version:-absent}")
  done
  printf 'stamp %s, %s packages; %s\n' "$digest" "$(($(sed -n '$=' "$stamp") - 1))" "$(
    IFS=,
    echo "${list[*]}" | sed 's/,/, /g'
  )"
}

oldroot_enter() {
  local net=()
  if [ "${1:-}" = --net ]; then
    net=(--net)
    shift
  fi
  # Everything in the namespaces dies with the script that entered them.
  setpriv --pdeathsig KILL -- unshare --mount --propagation private --pid --fork --kill-child "${net[@]}" -- \
    "$oldroot_lib_dir/oldroot-enter" "$@"
}

oldroot_acquire() {
  if [ "$(id -u)" -ne 0 ]; then
    oldroot_log "the Debian 11 root needs root (mmdebstrap, chroot, mounts); run as root or with sudo"
    return 1
  fi
  local need missing=()
  for need in mmdebstrap:mmdebstrap dpkg-query:dpkg unshare:util-linux setpriv:util-linux chroot:coreutils \
    wget:wget ip:iproute2; do
    command -v "${need%%:*}" >/dev/null || missing+=("${need#*:}")
  done
  if [ ${#missing[@]} -gt 0 ] && ! "$oldroot_lib_dir/../setup" "${missing[@]}" >&2; then
    oldroot_log "the tools of the Debian 11 root are missing and could not be installed: ${missing[*]}"
    return 1
  fi
  # Everything in the cache directory is ours only when nobody else can write there.
  if [ ! -e "$oldroot_cache" ]; then
    mkdir -p "$oldroot_cache" && chmod 0755 "$oldroot_cache" || {
      oldroot_log "cannot make the cache directory $oldroot_cache"
      return 1
    }
  fi
  if [ -L "$oldroot_cache" ] || [ ! -O "$oldroot_cache" ] || [ -n "$(find "$oldroot_cache" -maxdepth 0 -perm /022)" ]; then
    oldroot_log "the cache directory $oldroot_cache is not root's own (a link, or writable by others); remove it"
    return 1
  fi
  local lock=$oldroot_cache/$oldroot_suite-root.lock
  if ! { [ -e "$lock" ] || : >"$lock"; } || ! exec {oldroot_lock_fd}<"$lock"; then
    oldroot_log "cannot open the lock $lock"
    return 1
  fi
  if ! flock -s -w 3600 "$oldroot_lock_fd"; then
    oldroot_log "the Debian 11 root stayed locked for an hour (lock $lock)"
    return 1
  fi
  oldroot_valid "$OLDROOT" && return 0
  # Another run may be making it: wait for the exclusive lock, then look again.
  flock -u "$oldroot_lock_fd"
  if ! flock -x -w 3600 "$oldroot_lock_fd"; then
    oldroot_log "the Debian 11 root stayed in use for an hour (lock $lock)"
    return 1
  fi
  if ! oldroot_valid "$OLDROOT" && ! oldroot_make; then
    flock -u "$oldroot_lock_fd"
    return 1
  fi
  flock -s "$oldroot_lock_fd"
}

# Under the exclusive lock: makes a fresh root and puts it in place of
# whatever was there. Called where set -e does not act (on the left of ||),
# so every step's failure is checked here.
oldroot_make() {
  local mirror new started=$SECONDS
  mirror=$(oldroot_mirror)
  # Leftovers of interrupted runs, and of tests/linux/oldroot-test, whose
  # hard links would keep the old root's files (nobody uses them: we hold
  # the lock alone).
  if ! find "$oldroot_cache" -mindepth 1 -maxdepth 1 \( \( -type d \( -name "$oldroot_suite-root.new.*" -o -name "$oldroot_suite-root.old.*" \
    -o -name ".oldroot-test.*" \) \) -o \( -type f -name "$oldroot_suite-root.new.*.log" \) \) -exec rm -rf --one-file-system {} +; then
    oldroot_failed "remove the leftovers of an earlier run in $oldroot_cache"
    return 1
  fi
  if [ -e "$OLDROOT" ] || [ -L "$OLDROOT" ]; then
    oldroot_log "the Debian 11 root $OLDROOT is incomplete or of another recipe: making it again"
  fi
  oldroot_log "making the Debian 11 root from $mirror (mmdebstrap, amd64 and arm64, about 1.3 GB)"
  if ! wget -q -T 30 -t 2 -O /dev/null "$mirror/dists/$oldroot_suite/Release"; then
    oldroot_failed "download $mirror/dists/$oldroot_suite/Release" "no network to the Debian mirror? VARNICLE_DEBIAN_MIRROR names another"
    return 1
  fi
  if ! new=$(mktemp -d "$oldroot_cache/$oldroot_suite-root.new.XXXXXX"); then
    oldroot_failed "make a directory in $oldroot_cache"
    return 1
  fi
  if ! oldroot_build "$new" "$mirror"; then
    rm -rf --one-file-system "$new" "$new.log"
    return 1
  fi
  oldroot_replace "$new" || return 1
  oldroot_log "made the Debian 11 root $OLDROOT in $((SECONDS - started)) s ($(du -sh "$OLDROOT" | cut -f1)): $(oldroot_summary "$OLDROOT")"
}

# oldroot_build NEW MIRROR: the complete root in the empty directory NEW,
# stamped last.
oldroot_build() {
  local new=$1 mirror=$2 versions
  chmod 0755 "$new" || { oldroot_failed "chmod 0755 $new"; return 1; }
  # mmdebstrap mounts /proc, /sys and /dev in the new root: in a mount
  # namespace of its own they go with it, even when it is interrupted; in a
  # PID namespace of its own, it and everything it started stop when this
  # script does. The package lists stay, as apt in the root's overlays wants
  # them; the downloaded packages go.
  if ! setpriv --pdeathsig KILL -- unshare --mount --propagation private --pid --fork --kill-child -- \
    mmdebstrap --mode=root --variant=minbase --architectures="$oldroot_architectures" --include="$(
      IFS=,
      echo "${oldroot_packages[*]}"
    )" --skip=cleanup/apt/lists "$oldroot_suite" "$new" "$mirror" >"$new.log" 2>&1; then
    tail -n 15 "$new.log" >&2
    oldroot_failed "mmdebstrap $oldroot_suite from $mirror" "log above"
    return 1
  fi
  rm -f "$new.log"
  # The mount points are made now, because the root is read-only later.
  mkdir -p "$new"/varnicle/src "$new"/varnicle/out "$new"/varnicle/build "$new"/varnicle/deb "$new"/varnicle/tools ||
    { oldroot_failed "make the mount points /varnicle/*"; return 1; }
  oldroot_check "$new" || { oldroot_failed "sanity check of the new root"; return 1; }
  versions=$(oldroot_versions "$new") && [ -n "$versions" ] ||
    { oldroot_failed "list the packages of the new root"; return 1; }
  printf '%s\n%s\n' "$oldroot_recipe" "$versions" >"$new/.varnicle-root" ||
    { oldroot_failed "write the stamp $new/.varnicle-root"; return 1; }
  oldroot_valid "$new" || { oldroot_failed "check the stamped root"; return 1; }
}

# oldroot_replace NEW: puts the complete root NEW in place of OLDROOT; the
# old one is removed only once the new one is in place, and put back when
# the new one cannot be.
oldroot_replace() {
  local new=$1 old=
  if [ -e "$OLDROOT" ] || [ -L "$OLDROOT" ]; then
    if ! old=$(mktemp -d "$oldroot_cache/$oldroot_suite-root.old.XXXXXX") || ! mv -T "$OLDROOT" "$old/root"; then
      oldroot_failed "set the old root $OLDROOT aside"
      rm -rf --one-file-system "$new"
      [ -z "$old" ] || rmdir "$old"
      return 1
    fi
  fi
  if ! mv -T "$new" "$OLDROOT"; then
    oldroot_failed "rename $new to $OLDROOT"
    if [ -n "$old" ]; then
      if mv -T "$old/root" "$OLDROOT"; then
        rmdir "$old"
      else
        oldroot_log "the old root could not be put back either: it stays in $old/root"
      fi
    fi
    rm -rf --one-file-system "$new"
    return 1
  fi
  if ! oldroot_valid "$OLDROOT"; then
    oldroot_failed "check the root in place"
    return 1
  fi
  if [ -n "$old" ] && ! rm -rf --one-file-system "$old"; then
    oldroot_log "the replaced root $old could not be removed (the next making of a root removes it)"
  fi
  return 0
}

# The new root compiles and links a C++ program against pcsc-lite with the
# static C++ runtime, for x86-64 and, with the cross compiler and arm64's
# pcsc-lite, for aarch64, and has the service and the virtual reader.
oldroot_check() {
  local root=$1
  oldroot_enter "$root" -- /bin/sh -ec '
    dpkg-query -W -f="\${Status} \${Package}\n" "$@" | grep -v "^install ok installed " && exit 1
    test -z "$(dpkg --audit)"
    printf "%s\n" "#include <winscard.h>" "#include <string>" \
      "int main() { SCARDCONTEXT c; std::string s(\"x\"); return SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &c) == 0 && s.size() == 2; }" >/tmp/t.cpp
    g++ -std=c++17 -static-libgcc -static-libstdc++ $(pkg-config --cflags libpcsclite) /tmp/t.cpp -o /tmp/t $(pkg-config --libs libpcsclite)
    arm64=$(PKG_CONFIG_LIBDIR=/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig pkg-config --cflags --libs libpcsclite)
    aarch64-linux-gnu-g++ -std=c++17 -static-libgcc -static-libstdc++ /tmp/t.cpp -o /tmp/t-arm64 $arm64
    LC_ALL=C readelf -h /tmp/t-arm64 | grep -q "Machine: *AArch64"
    test -x /usr/sbin/pcscd
    ls /etc/reader.conf.d/*vpcd* >/dev/null
  ' sh "${oldroot_packages[@]}" || return 1
}

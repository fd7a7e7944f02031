# shellcheck shell=bash  # sourced, never run: no #! line to say so
# The Debian 11 (bullseye) root that the shipped Linux program is built in, so
# that it runs on the older C libraries of the distributions it is meant for.
# One root serves every clone of the repository: it lives in a cache
# directory outside the work tree (/var/cache/varnicle/bullseye-root, or
# where VARNICLE_CACHE_DIR says), is made once with debootstrap and reused,
# without network, while it is valid. Making and chrooting need root.
#
# A root is valid when its stamp names the current recipe (suite and
# packages). debootstrap works in a fresh directory beside it, and the stamp
# is written only after a sanity check of the finished root, which is then
# renamed into place: an interrupted or failed run leaves no root that could
# be taken for complete, and its leftovers are removed by the next one.
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

oldroot_suite=bullseye
# The build (g++ 10, make, pkg-config, the pcsc-lite headers) and the end-to-end
# run against the root's own service (pcscd 1.9.1 and the vpcd reader).
oldroot_packages=(g++ make pkg-config libpcsclite-dev pcscd vsmartcard-vpcd)
oldroot_recipe="debootstrap --variant=minbase --include=$(
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
    [ "$(cat "$dir/.varnicle-root")" = "$oldroot_recipe" ] &&
    [ -x "$dir/usr/bin/g++" ] && [ -x "$dir/usr/sbin/pcscd" ] && [ -d "$dir/varnicle/src" ]
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
    oldroot_log "the Debian 11 root needs root (debootstrap, chroot, mounts); run as root or with sudo"
    return 1
  fi
  local need
  for need in debootstrap:debootstrap unshare:util-linux setpriv:util-linux chroot:coreutils wget:wget ip:iproute2; do
    command -v "${need%%:*}" >/dev/null || {
      oldroot_log "the tool ${need%%:*} is missing (scripts/setup ${need#*:})"
      return 1
    }
  done
  # Everything in the cache directory is ours only when nobody else can write there.
  if [ ! -e "$oldroot_cache" ]; then
    mkdir -p "$oldroot_cache"
    chmod 0755 "$oldroot_cache"
  fi
  if [ -L "$oldroot_cache" ] || [ ! -O "$oldroot_cache" ] || [ -n "$(find "$oldroot_cache" -maxdepth 0 -perm /022)" ]; then
    oldroot_log "the cache directory $oldroot_cache is not root's own (a link, or writable by others); remove it"
    return 1
  fi
  local lock=$oldroot_cache/$oldroot_suite-root.lock
  [ -e "$lock" ] || : >"$lock"
  exec {oldroot_lock_fd}<"$lock"
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
  if ! oldroot_valid "$OLDROOT"; then
    oldroot_make || {
      flock -u "$oldroot_lock_fd"
      return 1
    }
  fi
  flock -s "$oldroot_lock_fd"
}

# Under the exclusive lock: makes a fresh root and puts it in place of
# whatever was there.
oldroot_make() {
  local mirror new old started=$SECONDS
  mirror=$(oldroot_mirror)
  # Leftovers of interrupted runs (nobody uses them: we hold the lock alone).
  find "$oldroot_cache" -mindepth 1 -maxdepth 1 -type d \( -name "$oldroot_suite-root.new.*" -o -name "$oldroot_suite-root.old.*" \) \
    -exec rm -rf --one-file-system {} +
  rm -f "$oldroot_cache/$oldroot_suite-root".new.*.log
  if [ -e "$OLDROOT" ] || [ -L "$OLDROOT" ]; then
    oldroot_log "the Debian 11 root $OLDROOT is incomplete or of another recipe: making it again"
  fi
  oldroot_log "making the Debian 11 root from $mirror (debootstrap, about 500 MB)"
  if ! wget -q -T 30 -t 2 -O /dev/null "$mirror/dists/$oldroot_suite/Release"; then
    oldroot_log "cannot make the Debian 11 root: step 'download $mirror/dists/$oldroot_suite/Release' failed (no network to the Debian mirror? VARNICLE_DEBIAN_MIRROR names another)"
    return 1
  fi
  new=$(mktemp -d "$oldroot_cache/$oldroot_suite-root.new.XXXXXX")
  chmod 0755 "$new"
  # debootstrap mounts /proc and /sys in the new root: in a mount namespace
  # of its own they go with it, even when it is interrupted; in a PID
  # namespace of its own, it and all its subshells stop when this script does.
  if ! setpriv --pdeathsig KILL -- unshare --mount --propagation private --pid --fork --kill-child -- debootstrap --variant=minbase --include="$(
    IFS=,
    echo "${oldroot_packages[*]}"
  )" "$oldroot_suite" "$new" "$mirror" >"$new.log" 2>&1; then
    tail -n 15 "$new.log" >&2
    oldroot_log "cannot make the Debian 11 root: step 'debootstrap $oldroot_suite from $mirror' failed (log above)"
    rm -rf --one-file-system "$new" "$new.log"
    return 1
  fi
  rm -f "$new.log"
  # The downloaded packages are not needed again; the mount points are made
  # now, because the root is read-only later.
  rm -f "$new"/var/cache/apt/archives/*.deb
  mkdir -p "$new"/varnicle/src "$new"/varnicle/out "$new"/varnicle/build "$new"/varnicle/deb "$new"/varnicle/tools
  if ! oldroot_check "$new"; then
    oldroot_log "cannot make the Debian 11 root: step 'sanity check of the new root' failed"
    rm -rf --one-file-system "$new"
    return 1
  fi
  printf '%s\n' "$oldroot_recipe" >"$new/.varnicle-root"
  if [ -e "$OLDROOT" ] || [ -L "$OLDROOT" ]; then
    old=$(mktemp -d "$oldroot_cache/$oldroot_suite-root.old.XXXXXX")
    mv -T "$OLDROOT" "$old/root"
    rm -rf --one-file-system "$old"
  fi
  mv -T "$new" "$OLDROOT"
  oldroot_log "made the Debian 11 root $OLDROOT in $((SECONDS - started)) s ($(du -sh "$OLDROOT" | cut -f1))"
}

# The new root compiles and links a C++ program against pcsc-lite with the
# static C++ runtime, and has the service and the virtual reader.
oldroot_check() {
  local root=$1
  oldroot_enter "$root" -- /bin/sh -ec '
    dpkg-query -W -f="\${Status} \${Package}\n" "$@" | grep -v "^install ok installed " && exit 1
    test -z "$(dpkg --audit)"
    printf "%s\n" "#include <winscard.h>" "#include <string>" \
      "int main() { SCARDCONTEXT c; std::string s(\"x\"); return SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &c) == 0 && s.size() == 2; }" >/tmp/t.cpp
    g++ -std=c++17 -static-libgcc -static-libstdc++ $(pkg-config --cflags libpcsclite) /tmp/t.cpp -o /tmp/t $(pkg-config --libs libpcsclite)
    test -x /usr/sbin/pcscd
    ls /etc/reader.conf.d/*vpcd* >/dev/null
  ' sh "${oldroot_packages[@]}" || return 1
}

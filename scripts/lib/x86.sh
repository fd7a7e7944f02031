# shellcheck shell=bash  # sourced, never run: no #! line to say so
# Whether and how this machine runs 32-bit x86 programs, which 32-bit wine
# and so the x86 Windows build need. Some x86-64 kernels cannot execute them
# at all ("Exec format error"); there they run under user-mode emulation
# (qemu-i386-static through a binfmt_misc entry), about a hundred times
# slower, so only a smoke set of the x86 checks is run that way.
# Sourced by scripts/test, scripts/test-windows and scripts/check-msi; safe
# under set -e.
#
#   x86_detect           sets x86_mode and x86_reason:
#                          native     the kernel runs them, and no enabled
#                                     binfmt_misc entry takes them over
#                          emulation  an enabled binfmt_misc entry hands them
#                                     to an emulator: this run's own, or on
#                                     a kernel that runs them anyway (so
#                                     that its end costs nothing) anybody's
#                          none       neither; x86_reason says why
#   x86_emulation_start  when the kernel cannot run them: registers a
#                        binfmt_misc entry of this run's own for
#                        qemu-i386-static, whatever other entries exist
#                        (the newest entry is tried first, and another run's
#                        goes when that run ends), then detects again
#   x86_emulation_stop   removes that entry (for an EXIT trap), and unmounts
#                        binfmt_misc if this run mounted it and no entry is
#                        left; an entry of anybody else's is never removed
#                        or changed
#   x86_summary ARCH     one line: "ARCH under wine: full",
#                        "... smoke under emulation" or "... not run: REASON"
#
# Test-only settings: VARNICLE_TEST_BINFMT_MISC, the binfmt_misc directory
# (default /proc/sys/fs/binfmt_misc); VARNICLE_TEST_NO_NATIVE_X86=1, act as
# if the kernel could not run them; VARNICLE_TEST_X86_INTERPRETER, the
# program this run's entry hands them to instead of qemu-i386-static, which
# is then not installed.

x86_binfmt_dir=${VARNICLE_TEST_BINFMT_MISC:-/proc/sys/fs/binfmt_misc}
x86_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
x86_mode=
x86_reason=
x86_entry=
x86_mounted=
x86_native=
x86_native_error=
x86_probe_dir=
x86_probe_error=
x86_interpreter=qemu-i386-static

# The ELF header of an i386 executable and the mask of its bytes that the
# usual binfmt_misc entries for i386 compare (qemu's own).
x86_elf_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
x86_elf_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# A static i386 program of 91 bytes that only exits with 0 (int 0x80, exit),
# made once in a private directory where programs may run: TMPDIR, or else
# the build tree. A TMPDIR mounted noexec refuses every program, which must
# not read as a kernel that cannot run 32-bit ones; a shell script beside
# the probe tells the two apart.
x86_probe_make() {
  local place dir
  [ -z "$x86_probe_dir" ] || return 0
  for place in "${TMPDIR:-/tmp}" "$x86_root/build"; do
    [ "$place" != "$x86_root/build" ] || mkdir -p "$place" 2>/dev/null || continue
    dir=$(mktemp -d -p "$place" varnicle-x86.XXXXXX 2>/dev/null) || continue
    printf '#!/bin/sh\nexit 0\n' >"$dir/control"
    chmod 755 "$dir/control"
    if "$dir/control" 2>/dev/null; then
      x86_probe_dir=$dir
      break
    fi
    rm -rf "$dir"
  done
  if [ -z "$x86_probe_dir" ]; then
    x86_probe_error="no program can be run from ${TMPDIR:-/tmp} nor from $x86_root/build (mounted noexec?)"
    return 1
  fi
  printf '%b' "$x86_elf_magic"'\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$x86_probe_dir/probe"
  chmod 755 "$x86_probe_dir/probe"
}

# True when the probe starts and exits with 0, through whatever entry takes
# it; why not in x86_probe_error.
x86_probe_runs() {
  x86_probe_make || return 1
  x86_probe_error=$("$x86_probe_dir/probe" 2>&1) && return 0
  x86_probe_error=${x86_probe_error##*: }
  [ -n "$x86_probe_error" ] || x86_probe_error="the probe failed"
  return 1
}

# Whether the kernel itself runs them, once per run, whatever binfmt_misc
# entries exist: the probe runs in a user namespace with a binfmt_misc
# instance of its own, which holds no entry (Linux 6.7 on). Where that
# cannot be had, the probe run here tells only while no enabled entry takes
# it. Sets x86_native to yes, no or unknown; why not in x86_native_error.
x86_native_check() {
  local out status
  [ -z "$x86_native" ] || return 0
  x86_native=unknown
  if [ "${VARNICLE_TEST_NO_NATIVE_X86:-}" = 1 ]; then
    x86_native=no
    x86_native_error="VARNICLE_TEST_NO_NATIVE_X86=1"
    return 0
  fi
  if ! x86_probe_make; then
    x86_native_error=$x86_probe_error
    return 0
  fi
  mkdir -p "$x86_probe_dir/instance"
  # 126: bash could not execute it.
  out=$(unshare --user --map-root-user --mount --fork bash -c \
    'mount -t binfmt_misc binfmt_misc "$1" 2>/dev/null || exit 99; exec "$2"' \
    bash "$x86_probe_dir/instance" "$x86_probe_dir/probe" 2>&1) && status=0 || status=$?
  case $status in
    0) x86_native=yes ;;
    126)
      x86_native=no
      x86_native_error=${out##*: }
      ;;
    *)
      x86_binfmt_handler >/dev/null && return 0
      if x86_probe_runs; then
        x86_native=yes
      else
        x86_native=no
        x86_native_error=$x86_probe_error
      fi
      ;;
  esac
}

# Prints the name of an enabled binfmt_misc entry that takes i386 ELF files,
# if there is one (nothing is used while binfmt_misc as a whole is disabled).
x86_binfmt_handler() {
  local entry name header state offset magic mask i h m k
  [ -r "$x86_binfmt_dir/status" ] || return 1
  [ "$(cat "$x86_binfmt_dir/status" 2>/dev/null)" = enabled ] || return 1
  header=$(printf '%b' "$x86_elf_magic" | od -An -v -tx1 | tr -d ' \n')
  for entry in "$x86_binfmt_dir"/*; do
    name=${entry##*/}
    [ "$name" != register ] && [ "$name" != status ] && [ -f "$entry" ] || continue
    state=$(sed -n 1p "$entry" 2>/dev/null)
    offset=$(sed -n 's/^offset //p' "$entry" 2>/dev/null)
    magic=$(sed -n 's/^magic //p' "$entry" 2>/dev/null)
    mask=$(sed -n 's/^mask //p' "$entry" 2>/dev/null)
    [ "$state" = enabled ] && [ "$offset" = 0 ] && [ -n "$magic" ] || continue
    [ ${#magic} -le ${#header} ] || continue
    # Each byte of the header under the mask must equal the magic's.
    for ((i = 0; i < ${#magic}; i += 2)); do
      h=$((16#${header:i:2}))
      m=$((16#${magic:i:2}))
      k=255
      [ -z "$mask" ] || k=$((16#${mask:i:2}))
      [ $((h & k)) -eq $((m & k)) ] || continue 2
    done
    printf '%s\n' "$name"
    return 0
  done
  return 1
}

x86_detect() {
  local handler=
  x86_mode=
  x86_reason=
  if ! x86_probe_make; then
    x86_mode=none
    x86_reason=$x86_probe_error
    return 0
  fi
  x86_native_check
  if [ -n "$x86_entry" ]; then
    handler=$x86_entry
  elif handler=$(x86_binfmt_handler); then
    # Somebody else's entry may go at any time (another run's goes when that
    # run ends): it is relied upon only where the kernel runs them anyway,
    # or where that cannot be told and the entry is not another run's.
    case $x86_native in
      yes) ;;
      unknown) [[ $handler != varnicle-i386-* ]] || handler= ;;
      *) handler= ;;
    esac
  fi
  if [ -n "$handler" ]; then
    if x86_probe_runs; then
      x86_mode=emulation
      x86_reason="binfmt_misc entry $handler"
    else
      x86_mode=none
      x86_reason="the binfmt_misc entry $handler does not start them ($x86_probe_error)"
    fi
  elif [ "$x86_native" = yes ]; then
    x86_mode=native
  elif [ "$x86_native" = no ]; then
    x86_mode=none
    x86_reason="the kernel cannot run 32-bit programs ($x86_native_error)"
  else
    x86_mode=none
    x86_reason="whether the kernel runs 32-bit programs cannot be told beside another run's binfmt_misc entry"
  fi
}

# Registers qemu-i386-static for i386 ELF files under a name of this run's
# own, with flag F (the emulator is opened now, so it serves chroots and
# namespaces too), unless the machine runs them already. Nothing is
# registered on a kernel that runs them, nor where no program can run at
# all. Sets x86_mode and x86_reason; returns 0 when they now run.
x86_emulation_start() {
  local native_reason
  x86_detect
  [ "$x86_mode" = none ] || return 0
  [ -n "$x86_probe_dir" ] && [ "$x86_native" != yes ] || return 1
  native_reason=$x86_reason
  if ! x86_binfmt_register; then
    x86_reason="$native_reason, and $x86_reason"
    return 1
  fi
  x86_detect
  if [ "$x86_mode" != emulation ]; then
    x86_reason="$native_reason, and not even under ${x86_interpreter##*/} (${x86_reason:-$x86_mode})"
    x86_mode=none
    x86_emulation_stop
    return 1
  fi
  echo "${0##*/}: 32-bit programs run under ${x86_interpreter##*/} (binfmt_misc entry $x86_entry, removed at the end)" >&2
}

# The entry itself: x86_entry names it once it exists, x86_interpreter the
# program it hands them to; x86_reason says why not otherwise. An emulator
# already installed is used as it is: qemu-user-static, which a missing one
# is taken from, conflicts with the package that registers qemu-user's at
# boot.
x86_binfmt_register() {
  local name
  if [ "$(id -u)" -ne 0 ]; then
    x86_reason="emulating them needs root (binfmt_misc)"
    return 1
  fi
  if [ ! -e "$x86_binfmt_dir/register" ] && [ "$x86_binfmt_dir" = /proc/sys/fs/binfmt_misc ] &&
    mount -t binfmt_misc binfmt_misc "$x86_binfmt_dir" 2>/dev/null; then
    x86_mounted=1
  fi
  if [ ! -e "$x86_binfmt_dir/register" ]; then
    x86_reason="binfmt_misc is not available at $x86_binfmt_dir"
    return 1
  fi
  x86_interpreter=${VARNICLE_TEST_X86_INTERPRETER:-}
  [ -n "$x86_interpreter" ] || x86_interpreter=$(command -v qemu-i386-static || command -v qemu-i386 || true)
  if [ -z "$x86_interpreter" ]; then
    if ! "$x86_root/scripts/setup" qemu-user-static >&2; then
      x86_reason="qemu-user-static could not be installed"
      return 1
    fi
    x86_interpreter=$(command -v qemu-i386-static || true)
  fi
  if [ -z "$x86_interpreter" ]; then
    x86_reason="qemu-i386-static is missing"
    return 1
  fi
  # Unique to this run: registering fails on a name that exists.
  name=varnicle-i386-$$-$SRANDOM
  if ! printf ':%s:M::%s:%s:%s:F' "$name" "$x86_elf_magic" "$x86_elf_mask" "$x86_interpreter" \
    >"$x86_binfmt_dir/register" 2>/dev/null || [ ! -e "$x86_binfmt_dir/$name" ]; then
    x86_reason="binfmt_misc refused an entry for ${x86_interpreter##*/}"
    return 1
  fi
  x86_entry=$name
}

# Whether binfmt_misc holds any entry (this run's own removed first).
x86_binfmt_empty() {
  local entry
  for entry in "$x86_binfmt_dir"/*; do
    case ${entry##*/} in
      register | status | '*') ;;
      *) return 1 ;;
    esac
  done
}

x86_emulation_stop() {
  if [ -n "$x86_entry" ]; then
    # Writing -1 to an entry removes it.
    [ ! -e "$x86_binfmt_dir/$x86_entry" ] || echo -1 >"$x86_binfmt_dir/$x86_entry" 2>/dev/null || true
    x86_entry=
  fi
  # Unmounting removes every entry: one that somebody registered meanwhile
  # keeps binfmt_misc mounted.
  if [ -n "$x86_mounted" ]; then
    ! x86_binfmt_empty || umount "$x86_binfmt_dir" 2>/dev/null || true
    x86_mounted=
  fi
  if [ -n "$x86_probe_dir" ]; then
    rm -rf "$x86_probe_dir"
    x86_probe_dir=
  fi
}

# The closing line of the Windows checks for one architecture.
x86_summary() {
  case $x86_mode in
    native) echo "$1 under wine: full" ;;
    emulation) echo "$1 under wine: smoke under emulation" ;;
    *) echo "$1 under wine: not run: $x86_reason" ;;
  esac
}

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
#                                     to an emulator (ours or anybody's)
#                          none       neither; x86_reason says why
#   x86_emulation_start  when the kernel cannot run them: registers a
#                        binfmt_misc entry of this run's own for
#                        qemu-i386-static, then detects again
#   x86_emulation_stop   removes that entry (for an EXIT trap); an entry of
#                        anybody else's is never removed or changed
#   x86_summary ARCH     one line: "ARCH under wine: full",
#                        "... smoke under emulation" or "... not run: REASON"
#
# Test-only settings: VARNICLE_TEST_BINFMT_MISC, the binfmt_misc directory
# (default /proc/sys/fs/binfmt_misc); VARNICLE_TEST_NO_NATIVE_X86=1, act as
# if the kernel could not run them (before any entry of ours exists).

x86_binfmt_dir=${VARNICLE_TEST_BINFMT_MISC:-/proc/sys/fs/binfmt_misc}
x86_mode=
x86_reason=
x86_entry=
x86_probe_dir=

# The ELF header of an i386 executable and the mask of its bytes that the
# usual binfmt_misc entries for i386 compare (qemu's own).
x86_elf_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
x86_elf_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# A static i386 program of 91 bytes that only exits with 0 (int 0x80, exit),
# made once in a private directory.
x86_probe_make() {
  [ -z "$x86_probe_dir" ] || return 0
  x86_probe_dir=$(mktemp -d)
  printf '%b' "$x86_elf_magic"'\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$x86_probe_dir/probe"
  chmod 755 "$x86_probe_dir/probe"
}

# True when the probe starts and exits with 0; why not in x86_probe_error.
x86_probe_runs() {
  x86_probe_make
  x86_probe_error=$("$x86_probe_dir/probe" 2>&1) && return 0
  x86_probe_error=${x86_probe_error##*: }
  [ -n "$x86_probe_error" ] || x86_probe_error="the probe failed"
  return 1
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
  local handler
  x86_mode=
  x86_reason=
  if handler=$(x86_binfmt_handler); then
    if x86_probe_runs; then
      x86_mode=emulation
      x86_reason="binfmt_misc entry $handler"
    else
      x86_mode=none
      x86_reason="the binfmt_misc entry $handler does not start them ($x86_probe_error)"
    fi
  elif [ "${VARNICLE_TEST_NO_NATIVE_X86:-}" = 1 ]; then
    x86_mode=none
    x86_reason="the kernel cannot run 32-bit programs (VARNICLE_TEST_NO_NATIVE_X86=1)"
  elif x86_probe_runs; then
    x86_mode=native
  else
    x86_mode=none
    x86_reason="the kernel cannot run 32-bit programs ($x86_probe_error)"
  fi
}

# Registers qemu-i386-static for i386 ELF files under a name of this run's
# own, with flag F (the emulator is opened now, so it serves chroots and
# namespaces too), unless the machine runs them already. Sets x86_mode and
# x86_reason; returns 0 when they now run.
x86_emulation_start() {
  local native_reason
  x86_detect
  [ "$x86_mode" = none ] || return 0
  native_reason=$x86_reason
  if ! x86_binfmt_register; then
    x86_reason="$native_reason, and $x86_reason"
    return 1
  fi
  x86_detect
  if [ "$x86_mode" != emulation ]; then
    x86_reason="$native_reason, and not even under qemu-i386-static (${x86_reason:-$x86_mode})"
    x86_mode=none
    x86_emulation_stop
    return 1
  fi
  echo "${0##*/}: 32-bit programs run under qemu-i386-static (binfmt_misc entry $x86_entry, removed at the end)" >&2
}

# The entry itself: x86_entry names it once it exists; x86_reason says why
# not otherwise.
x86_binfmt_register() {
  local name qemu
  if [ "$(id -u)" -ne 0 ]; then
    x86_reason="emulating them needs root (binfmt_misc)"
    return 1
  fi
  if [ ! -e "$x86_binfmt_dir/register" ] && [ "$x86_binfmt_dir" = /proc/sys/fs/binfmt_misc ]; then
    mount -t binfmt_misc binfmt_misc "$x86_binfmt_dir" 2>/dev/null || true
  fi
  if [ ! -e "$x86_binfmt_dir/register" ]; then
    x86_reason="binfmt_misc is not available at $x86_binfmt_dir"
    return 1
  fi
  if ! "$(dirname "${BASH_SOURCE[0]}")/../setup" qemu-user-static >&2; then
    x86_reason="qemu-user-static could not be installed"
    return 1
  fi
  qemu=$(command -v qemu-i386-static || true)
  if [ -z "$qemu" ]; then
    x86_reason="qemu-i386-static is missing"
    return 1
  fi
  # Unique to this run: registering fails on a name that exists.
  name=varnicle-i386-$$-$SRANDOM
  if ! printf ':%s:M::%s:%s:%s:F' "$name" "$x86_elf_magic" "$x86_elf_mask" "$qemu" \
    >"$x86_binfmt_dir/register" 2>/dev/null || [ ! -e "$x86_binfmt_dir/$name" ]; then
    x86_reason="binfmt_misc refused an entry for qemu-i386-static"
    return 1
  fi
  x86_entry=$name
}

x86_emulation_stop() {
  if [ -n "$x86_entry" ]; then
    # Writing -1 to an entry removes it.
    [ ! -e "$x86_binfmt_dir/$x86_entry" ] || echo -1 >"$x86_binfmt_dir/$x86_entry" 2>/dev/null || true
    x86_entry=
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

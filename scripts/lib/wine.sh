# shellcheck shell=bash  # sourced, never run: no #! line to say so
# Fresh wine prefixes for one run of a script, with the code pages of a
# Russian Windows (OEM 866, ANSI 1251, from LC_ALL=ru_RU.UTF-8). Sourced by
# scripts/wine-run, scripts/test, scripts/test-windows and scripts/check-msi;
# safe under set -e.
#   wine_use PREFIX KIND     exports WINEPREFIX and the loader for KIND:
#     both  Debian's wine wrapper: 64-bit wine with 32-bit wine beside it,
#           which needs a kernel that runs 32-bit programs
#     x64   64-bit wine alone, through its own loader (VARNICLE_WINE_LOADER):
#           the wrapper would choose the 32-bit loader once it is installed
#     x86   32-bit wine alone (WINEARCH=win32), for 32-bit programs under
#           user-mode emulation, where a 64-bit prefix would run its 32-bit
#           half there too
#   wine_prefix_start PREFIX KIND LOG
#                            makes the prefix PREFIX (a new name in a private
#                            directory) and uses it; wineboot's output in LOG
#   wine_prefix_stop         ends the wine processes of every prefix this
#                            script made, and of no other (for an EXIT trap)
#   wine_prefix_x64_early PREFIX LOG
#                            a 64-bit prefix, made in a subshell (the
#                            caller's WINEPREFIX stays), for a machine without
#                            32-bit support before a binfmt_misc entry of ours
#                            exists: 64-bit wineboot also starts wine's 32-bit
#                            set-up, which fails at once there and under
#                            emulation takes two minutes, for nothing the
#                            64-bit program needs
#   wine_prefix_start_status PREFIX KIND LOG STATUS
#                            wine_prefix_start in a subshell, for a prefix
#                            made in the background while other work goes on
#                            (the caller adds PREFIX to wine_prefixes_started);
#                            at the end STATUS holds "EXIT-STATUS SECONDS" and
#                            the output
#   wine_prefix_wait STATUS  waits (an hour at most) until STATUS exists,
#                            shows that output and says how long the prefix
#                            took; fails when it could not be made
#   wine_prefix_kept         for the prefix in use, made for kind x86: starts
#                            the process that keeps wine's services running
#                            again if it has ended, saying so
#   wine_cmd ARGS...         runs wine with the loader that wine_use chose
#   wine_namespace SCRIPT ARGS...
#                            runs SCRIPT ARGS again in PID and mount
#                            namespaces of its own (and a /proc of its own),
#                            unless this is a script of the run that
#                            scripts/test began (wine_in_run)
#   wine_in_run              true in a script that scripts/test started
#                            (VARNICLE_X86_MODE set), inside the namespace
#                            that scripts/test exported as
#                            VARNICLE_PID_NAMESPACE: the prefixes that it hands
#                            on (VARNICLE_X64_PREFIX, VARNICLE_MSI_X64_PREFIX,
#                            VARNICLE_X86_PREFIX with VARNICLE_X86_PREFIX_STATUS)
#                            are for this script to use
#   wine_handed VARIABLE     the value of VARIABLE within the run, else nothing
#
# Wine signals and traces its processes by their PIDs, so the clients of a
# prefix and its wineserver share one PID namespace. A script run alone makes
# its own: whatever it started, wineservers, wine's services and the emulated
# prefix's keeper included, ends when it ends. scripts/test makes one for the
# whole run and marks it with VARNICLE_PID_NAMESPACE; test-windows and
# check-msi then stay in it, beside the keeper of the 32-bit prefix they share.

wine_prefixes_started=()
wine_namespace() {
  local here
  here=$(readlink /proc/self/ns/pid 2>/dev/null) || here=
  if [ -n "$here" ] && [ "${VARNICLE_PID_NAMESPACE_NEW:-}" = "$here" ]; then
    # Made for this script just now.
    unset VARNICLE_PID_NAMESPACE_NEW
    return 0
  fi
  ! wine_in_run || return 0
  if [ "$(id -u)" -ne 0 ]; then
    # unshare --pid needs root: the scripts' exit traps stop what they made.
    return 0
  fi
  # The first process of a PID namespace ignores signals it has no handler
  # for and reaps every orphan: a shell, with the script as its child.
  # unshare passes the script's exit status on; when unshare is killed, so is
  # everything in the namespace.
  exec unshare --pid --fork --kill-child --mount-proc -- bash -c '
    VARNICLE_PID_NAMESPACE_NEW=$(readlink /proc/self/ns/pid) || exit 1
    export VARNICLE_PID_NAMESPACE_NEW
    "$@"
    exit' "$1" "$@"
}

wine_in_run() {
  [ -n "${VARNICLE_X86_MODE:-}" ] && [ -n "${VARNICLE_PID_NAMESPACE:-}" ] &&
    [ "$(readlink /proc/self/ns/pid 2>/dev/null)" = "$VARNICLE_PID_NAMESPACE" ]
}

wine_handed() {
  if wine_in_run; then
    printf '%s' "${!1:-}"
  fi
}

wine_use() {
  export WINEPREFIX=$1 WINEDEBUG=${WINEDEBUG:--all}
  case $2 in
    both) unset VARNICLE_WINE_LOADER WINELOADER WINEARCH ;;
    x64)
      unset WINEARCH
      export VARNICLE_WINE_LOADER=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64
      ;;
    x86)
      unset VARNICLE_WINE_LOADER WINELOADER
      export WINEARCH=win32
      ;;
    *)
      echo "${0##*/}: no wine prefix kind $2" >&2
      return 1
      ;;
  esac
}

wine_cmd() {
  if [ -n "${VARNICLE_WINE_LOADER:-}" ]; then
    WINELOADER=$VARNICLE_WINE_LOADER "$VARNICLE_WINE_LOADER" "$@"
  else
    wine "$@"
  fi
}

wine_prefix_start() {
  local prefix=$1 kind=$2 log=$3 oem
  wine_use "$prefix" "$kind" || return 1
  export WINEDEBUG=-all
  mkdir "$WINEPREFIX" || return 1
  wine_prefixes_started+=("$WINEPREFIX")
  # One server and one set of wine's own services for the whole run, started
  # with their output in a log: a service started by a test program would keep
  # that program's standard output open after it ends. DISPLAY stays as it
  # is: services started with an empty one made some later program starts
  # fail at random (ShellExecuteEx).
  wineserver -p
  local booted=true
  if [ "$kind" = x86 ]; then
    # Under emulation the prefix is made by its first program, the keeper
    # (wine_prefix_keep), for which wine starts its own set-up (wineboot
    # --init). A program waits five minutes at most for the set-up, which
    # takes longer there: the set-up is waited for, or the next program
    # would wait those five minutes.
    wine_prefix_keep "$WINEPREFIX" "$log" || booted=false
  else
    LC_ALL=ru_RU.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=" wine_cmd wineboot -i >"$log" 2>&1 || booted=false
  fi
  if ! $booted; then
    cat "$log" >&2
    echo "${0##*/}: wineboot failed ($kind prefix)" >&2
    return 1
  fi
  # Under emulation every program start takes the better part of a minute:
  # there the byte-exact -help of the smoke set proves code page 866.
  [ "$kind" != x86 ] || return 0
  # Wine writes the code pages of the locale it runs in to the registry. No
  # answer at all is reported as the wrong one.
  oem=$("$(dirname "${BASH_SOURCE[0]}")/../wine-run" reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' \
    /v OEMCP </dev/null 2>/dev/null | grep -o 'REG_SZ *[0-9]*' | tr -cd '0-9') || oem=
  if [ "$oem" != 866 ]; then
    echo "${0##*/}: wine's OEM code page is ${oem:-unknown}, not 866 (is the locale ru_RU.UTF-8 usable?)" >&2
    return 1
  fi
}

wine_prefix_x64_early() {
  wine_prefixes_started+=("$1")
  (wine_prefix_start "$1" x64 "$2")
}

wine_prefix_start_status() {
  local prefix=$1 kind=$2 log=$3 status=$4 started=$SECONDS rc=0
  # The output goes to a file: the wine server keeps what it was given open.
  (wine_prefix_start "$prefix" "$kind" "$log") >"$status.output" 2>&1 || rc=$?
  {
    echo "$rc $((SECONDS - started))"
    cat "$status.output"
  } >"$status.new"
  mv "$status.new" "$status"
}

wine_prefix_wait() {
  local status=$1 rc seconds
  for _ in $(seq 720); do
    [ -f "$status" ] && break
    sleep 5
  done
  if [ ! -f "$status" ]; then
    echo "${0##*/}: the wine prefix made in the background was not ready after an hour" >&2
    return 1
  fi
  read -r rc seconds <"$status"
  if [ "$rc" != 0 ]; then
    tail -n +2 "$status" >&2
    echo "${0##*/}: the wine prefix made in the background failed after $seconds s" >&2
    return 1
  fi
  # What the making said (a keeper started again, say).
  tail -n +2 "$status"
  echo "${0##*/}: the wine prefix made in the background was ready after $seconds s"
}

# Under emulation: once no program of the prefix runs, wine ends its own
# services, and the next program starts them all again (wineboot --init,
# services.exe and each service, the better part of a minute apiece there;
# about eight minutes in all). A command interpreter that waits for input
# that never comes, started as the prefix's first program, keeps them
# running until wine_prefix_stop. Its output, and that of wine's set-up and
# services, goes to LOG. True once it runs and wine's set-up has ended (30
# minutes at most each).
#
# Under the emulator a wine process now and then dies of a segmentation
# fault, the keeper among them. Then the set-up, if it still runs, is
# waited for, and the keeper is started once more; three times in all.
wine_prefix_keep() {
  local prefix=$1 log=$2 fifo=$1/.varnicle-keeper pid start attempt
  [ -p "$fifo" ] || mkfifo "$fifo" || return 1
  : >"$log"
  for attempt in 1 2 3; do
    # Opened for reading and writing: its input never ends.
    (cd / && LC_ALL=ru_RU.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=" wine_cmd cmd.exe /k echo ready \
      <>"$fifo" >>"$log" 2>&1) >/dev/null 2>&1 &
    pid=$!
    start=$(wine_process_start "$pid")
    echo "$pid $start $log" >"$prefix/.varnicle-keeper.pid"
    for _ in $(seq 360); do
      if grep -q '^ready' "$log" 2>/dev/null; then
        wine_prefix_settled "$prefix"
        return
      fi
      wine_process_alive "$pid" "$start" || break
      sleep 5
    done
    if wine_process_alive "$pid" "$start"; then
      echo "${0##*/}: the process that keeps wine's services running did not start in 30 minutes" >&2
      return 1
    fi
    echo "${0##*/}: the process that keeps wine's services running ended before it was ready (attempt $attempt of 3)" | tee -a "$log" >&2
    wine_prefix_settled "$prefix" || true
  done
  return 1
}

# wine_process_start PID: when the process PID started (clock ticks since
# boot), or nothing once it has ended. The keeper is not a child of the
# shells that ask, and an ended process nobody reaps stays as a zombie.
wine_process_start() {
  local stat fields
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  # pid (comm) state ppid ...: comm may hold blanks and parentheses.
  read -r -a fields <<<"${stat##*) }"
  [ "${fields[0]}" = Z ] || echo "${fields[19]}"
}

# wine_process_alive PID START: true while the process PID that started at
# START (wine_process_start; nothing if it had ended by then) runs.
wine_process_alive() {
  [ -n "$2" ] && [ "$(wine_process_start "$1")" = "$2" ]
}

# For the prefix in use (wine_use), made by wine_prefix_keep: when its keeper
# has ended since, says so and starts it again, which starts wine's services
# again (some minutes under emulation). True once the keeper runs, and for
# a prefix that never had one.
wine_prefix_kept() {
  local pid start log
  [ -f "$WINEPREFIX/.varnicle-keeper.pid" ] || return 0
  read -r pid start log <"$WINEPREFIX/.varnicle-keeper.pid" || return 1
  ! wine_process_alive "$pid" "$start" || return 0
  echo "${0##*/}: the process that kept wine's services running in the 32-bit prefix had ended; it is started again, and with it wine's services"
  if ! wine_prefix_keep "$WINEPREFIX" "$log.again"; then
    cat "$log.again" >&2
    return 1
  fi
}

# True once no set-up of wine's runs in the prefix PREFIX (30 minutes at
# most) and its system folder holds kernel32.dll.
wine_prefix_settled() {
  local prefix=$1 pid busy
  for _ in $(seq 360); do
    busy=
    for pid in $(pgrep -f 'wineboot\.exe'); do
      tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$prefix" && busy=1
    done
    [ -n "$busy" ] || break
    sleep 5
  done
  [ -z "$busy" ] && [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ]
}

# Only prefixes of our own: without WINEPREFIX wineserver would act on the
# user's default one, and a prefix the caller exported is theirs.
wine_prefix_stop() {
  local prefix
  for prefix in "${wine_prefixes_started[@]}"; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    wine_server_dir_remove "$prefix"
  done
  wine_prefixes_started=()
}

# Debian's wine keeps a prefix's server socket in
# TMPDIR/wine-XXXXXX/server-DEV-INODE: a directory made for the prefix, whose
# name the file "wineserver" in the prefix holds, and the prefix's device and
# inode in hexadecimal. Once the server has ended, nothing uses them.
wine_server_dir_remove() {
  local prefix=$1 name dev ino dir
  name=$(cat "$prefix/wineserver" 2>/dev/null) || return 0
  [[ $name =~ ^wine-[A-Za-z0-9]{6}$ ]] || return 0
  read -r dev ino < <(stat -c '%d %i' "$prefix") || return 0
  dir=${TMPDIR:-/tmp}/$name
  [ -d "$dir" ] && [ ! -L "$dir" ] && [ -O "$dir" ] || return 0
  rm -rf "${dir:?}/$(printf 'server-%x-%x' "$dev" "$ino")"
  rmdir "$dir" 2>/dev/null || true
}

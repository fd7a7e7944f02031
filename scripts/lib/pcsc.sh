# shellcheck shell=bash  # sourced, never run: no #! line to say so
# Bash functions that bring up the PC/SC service with the vpcd virtual reader
# and a virtual module, and take down again only what they started.
# Sourced by scripts/demo and the end-to-end tests; safe under set -e. Every
# process started here gets SIGTERM when the script that started it dies
# (setpriv --pdeathsig), so a killed run leaves no daemon or module behind;
# the lock keeps the demo and the end-to-end cases from using the virtual
# reader at the same time. Start processes from the script's own shell, never
# from a subshell such as $(...): they would die with the subshell.
#
# Before use set:
#   PCSC_STATE  a private directory for logs and process ids
#   PCSC_TOOLS  the directory holding varnicle-sim and varnicle-probe
# Then: pcsc_lock, pcsc_start, sim_start ARGS..., sim_stop, pcsc_stop.
# pcsc_cleanup (for an EXIT trap) stops whatever is still running.
# PCSCD_DEBUG=1 runs pcscd with -d; its log is $PCSC_STATE/pcscd.log, the
# module's (with every APDU) $PCSC_STATE/sim.log.

PCSC_READER="${PCSC_READER:-Virtual PCD 00 00}"
PCSC_PORT="${PCSC_PORT:-35963}"
PCSC_LOCK_FILE="${PCSC_LOCK_FILE:-/run/lock/varnicle-vpcd.lock}"
# shellcheck source=lockfile.sh
source "$(dirname "${BASH_SOURCE[0]}")/lockfile.sh"
# shellcheck source=proc.sh
source "$(dirname "${BASH_SOURCE[0]}")/proc.sh"

# Open from the start, so that every process started here can be told to close
# it: a leftover child must not hold the lock. Only root makes the shared lock
# file; another user shares it when it is there and otherwise takes one of
# their own.
pcsc_lock_error=
if [ "$(id -u)" -ne 0 ] && ! { [ -e "$PCSC_LOCK_FILE" ] && lock_file_claim "$PCSC_LOCK_FILE"; }; then
  PCSC_LOCK_FILE="$(lock_file_directory)/varnicle-vpcd-$(id -u).lock"
fi
if lock_file_claim "$PCSC_LOCK_FILE"; then
  exec {pcsc_lock_fd}<"$PCSC_LOCK_FILE"
else
  pcsc_lock_error="the lock file $PCSC_LOCK_FILE is not a plain file of root's or this user's; remove it"
  exec {pcsc_lock_fd}</dev/null
fi
pcsc_daemon_pid=
pcsc_sim_pid=
pcsc_sim_count=
# Whose service pcsc_start found or started: own, system, or socket (the
# system's, started on demand by systemd).
pcsc_service=

pcsc_log() {
  echo "${0##*/}: $*" >&2
}

# Waits (up to 5 minutes) until no other demo or test holds the virtual reader.
pcsc_lock() {
  if [ -n "$pcsc_lock_error" ]; then
    pcsc_log "$pcsc_lock_error"
    return 1
  fi
  if ! flock -w 300 "$pcsc_lock_fd"; then
    pcsc_log "the virtual reader stayed in use by another run (lock $PCSC_LOCK_FILE)"
    return 1
  fi
}

pcsc_probe() {
  "$PCSC_TOOLS/varnicle-probe" "$@" {pcsc_lock_fd}>&-
}

# Starts pcscd in the foreground mode, in the background, unless a PC/SC
# service already answers; then waits until it lists the virtual reader.
# Returns 77 when this machine cannot run it (no pcscd or vpcd, not root).
pcsc_start() {
  if pcsc_socket_activated; then
    # systemd owns the socket and starts pcscd at the first connection: a
    # pcscd of ours could not listen there, and stopping the system's is not
    # ours to do.
    pcsc_service=socket
    pcsc_log "pcscd is started on demand by systemd (pcscd.socket); using that service"
    if ! pcsc_probe --timeout 3000 wait-reader "$PCSC_READER"; then
      pcsc_log "the service behind pcscd.socket does not list the reader \"$PCSC_READER\"; install vsmartcard-vpcd and restart pcscd"
      return 1
    fi
    return 0
  fi
  if pcsc_probe list >/dev/null 2>&1; then
    # A service of the system's own: use it, never stop it.
    pcsc_service=system
    if ! pcsc_probe --timeout 3000 wait-reader "$PCSC_READER"; then
      pcsc_log "a PC/SC service is running without the reader \"$PCSC_READER\"; stop it or install vsmartcard-vpcd"
      return 1
    fi
    return 0
  fi
  if ! command -v pcscd >/dev/null 2>&1 && [ ! -x /usr/sbin/pcscd ]; then
    pcsc_log "pcscd is not installed (scripts/setup pcscd vsmartcard-vpcd)"
    return 77
  fi
  if ! ls /etc/reader.conf.d/*vpcd* >/dev/null 2>&1; then
    pcsc_log "the vpcd reader driver is not installed (scripts/setup pcscd vsmartcard-vpcd)"
    return 77
  fi
  # pcscd puts its socket and pid file in /run/pcscd, the system service's
  # own directory, which is never handed to another user.
  if [ "$(id -u)" -ne 0 ]; then
    pcsc_log "starting pcscd needs root; or start the system's PC/SC service with vsmartcard-vpcd installed"
    return 77
  fi
  mkdir -p /run/pcscd
  local pcscd=pcscd debug=()
  command -v pcscd >/dev/null 2>&1 || pcscd=/usr/sbin/pcscd
  [ -n "${PCSCD_DEBUG:-}" ] && debug=(-d)
  setpriv --pdeathsig TERM -- "$pcscd" -f "${debug[@]}" >"$PCSC_STATE/pcscd.log" 2>&1 {pcsc_lock_fd}>&- &
  pcsc_daemon_pid=$!
  # shellcheck disable=SC2034  # read by the scripts that source this
  pcsc_service=own
  if ! pcsc_probe wait-reader "$PCSC_READER"; then
    pcsc_log "pcscd did not list \"$PCSC_READER\"; its log:"
    tail -n 20 "$PCSC_STATE/pcscd.log" >&2
    pcsc_stop
    return 1
  fi
}

# True when systemd listens on the service's socket (pcscd.socket).
pcsc_socket_activated() {
  command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet pcscd.socket 2>/dev/null
}

pcsc_stop() {
  [ -n "$pcsc_daemon_pid" ] || return 0
  pcsc_kill "$pcsc_daemon_pid"
  pcsc_daemon_pid=
}

# Sends SIGTERM to one process of ours and waits for it (SIGKILL after 5 s);
# once it has been reaped its PID may be somebody else's and is left alone.
pcsc_kill() {
  proc_stop "$1"
}

# Starts the virtual module with the given options and waits until the
# service sees it as a card in the reader.
sim_start() {
  setpriv --pdeathsig TERM -- "$PCSC_TOOLS/varnicle-sim" --port "$PCSC_PORT" --log "$@" \
    >"$PCSC_STATE/sim.log" 2>&1 {pcsc_lock_fd}>&- &
  pcsc_sim_pid=$!
  # The probe prints the reader's event count, which sim_stop waits to see change.
  if ! pcsc_probe wait-card "$PCSC_READER" present >"$PCSC_STATE/sim.count"; then
    pcsc_log "the virtual module did not show up in \"$PCSC_READER\"; its log:"
    tail -n 20 "$PCSC_STATE/sim.log" >&2
    sim_stop
    return 1
  fi
  pcsc_sim_count=$(cat "$PCSC_STATE/sim.count")
  # vpcd serves one module at a time; another one's card may be what the probe
  # saw. Ours is in the reader once vpcd talks to it.
  for _ in $(seq 250); do
    grep -q '^varnicle-sim: > ' "$PCSC_STATE/sim.log" && return 0
    sleep 0.02
  done
  pcsc_log "another virtual module holds \"$PCSC_READER\" (port $PCSC_PORT)"
  pcsc_kill "$pcsc_sim_pid"
  pcsc_sim_pid=
  return 1
}

# Stops the virtual module (if it has not left by itself) and waits until the
# service has seen the reader empty, so that the next module is seen arriving.
sim_stop() {
  [ -n "$pcsc_sim_pid" ] || return 0
  pcsc_kill "$pcsc_sim_pid"
  pcsc_sim_pid=
  local since=()
  [ -n "$pcsc_sim_count" ] && since=(--since "$pcsc_sim_count")
  pcsc_sim_count=
  if ! pcsc_probe wait-card "$PCSC_READER" empty "${since[@]}"; then
    pcsc_log "the reader \"$PCSC_READER\" did not become empty"
    return 1
  fi
}

# Stops the module and the service. When the service is ours the module is
# stopped without waiting for the service to see it go: the service goes too.
pcsc_cleanup() {
  if [ -n "$pcsc_daemon_pid" ] && [ -n "$pcsc_sim_pid" ]; then
    pcsc_kill "$pcsc_sim_pid"
    pcsc_sim_pid=
  fi
  sim_stop || true
  pcsc_stop
}

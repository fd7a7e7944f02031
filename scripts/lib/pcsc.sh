# shellcheck shell=bash  # sourced, never run: no #! line to say so
# Bash functions that bring up the PC/SC service with the vpcd virtual reader
# and a virtual module for the demo and the end-to-end tests, and take down
# again what they started. Safe under set -e. Start processes from the
# script's own shell, never from a subshell such as $(...): they would die
# with the subshell.
#
# The test's pcscd runs in places of its own: pcsc_private runs the calling
# script again as the first process of new mount, network and PID namespaces
# with a fresh /run, so pcscd's socket, its pid file and vpcd's TCP ports are
# seen by nothing else on the machine, the machine's USB readers are out of
# its sight, and everything started there ends with the script, even on
# SIGKILL. Runs therefore never meet, and a pcscd of the system's is never
# used, unless VARNICLE_USE_SYSTEM_PCSCD=1 asks for it: then the script stays
# where it is and uses the system's service (started on demand by systemd or
# already running), which it never stops.
#
# Before use set:
#   PCSC_STATE  a private directory for logs and process ids
#   PCSC_TOOLS  the directory holding varnicle-sim and varnicle-probe
# Then: pcsc_private SCRIPT ARGS... first (SCRIPT: the caller, by a path that
# names it from the current directory), then pcsc_start, sim_start ARGS...,
# sim_stop, pcsc_stop. pcsc_cleanup (for an EXIT trap) stops whatever is
# still running. PCSCD_DEBUG=1 runs pcscd with -d; its log is
# $PCSC_STATE/pcscd.log, the module's (with every APDU) $PCSC_STATE/sim.log.

PCSC_READER="${PCSC_READER:-Virtual PCD 00 00}"
PCSC_PORT="${PCSC_PORT:-35963}"
# shellcheck source=proc.sh
source "$(dirname "${BASH_SOURCE[0]}")/proc.sh"

pcsc_daemon_pid=
pcsc_sim_pid=
pcsc_sim_count=
# Where pcsc_private put the run: own (namespaces of its own) or system
# (VARNICLE_USE_SYSTEM_PCSCD=1).
pcsc_road=
# Whose service pcsc_start found or started: own, system, or socket (the
# system's, started on demand by systemd).
# shellcheck disable=SC2034  # read by the scripts that source this
pcsc_service=

pcsc_log() {
  echo "${0##*/}: $*" >&2
}

# True in the namespaces pcsc_private made (or another place made for the
# test's service, such as check-oldbase's Debian 11 root):
# VARNICLE_PCSC_NAMESPACE names this very network namespace, and it has no
# interface but loopback, which the machine's own never is. The name is
# inherited, so a runner started by another one inside shares its place.
pcsc_private_here() {
  local here interfaces
  [ -n "${VARNICLE_PCSC_NAMESPACE:-}" ] || return 1
  here=$(readlink /proc/self/ns/net 2>/dev/null) || return 1
  [ "$here" = "$VARNICLE_PCSC_NAMESPACE" ] || return 1
  interfaces=$(sed -n '3,$s/^ *\([^:]*\):.*/\1/p' /proc/self/net/dev 2>/dev/null)
  [ "$interfaces" = lo ]
}

# pcsc_private SCRIPT [ARG...]: returns at once inside the private place, or
# with VARNICLE_USE_SYSTEM_PCSCD=1; otherwise runs SCRIPT ARG... there in
# place of this shell and never returns. Returns 77 when this machine cannot
# make the namespaces (not root, no unshare or ip).
pcsc_private() {
  if pcsc_private_here; then
    pcsc_road=own
    # The first process of a PID namespace gets no signal that it does not
    # handle, and unshare passes none on: handled here, they end the run
    # (and with it the namespace) as they would anywhere else.
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
    return 0
  fi
  if [ "${VARNICLE_USE_SYSTEM_PCSCD:-}" = 1 ]; then
    pcsc_road=system
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    pcsc_log "the test's pcscd runs in namespaces of its own, which needs root;" \
      "VARNICLE_USE_SYSTEM_PCSCD=1 uses the system's PC/SC service instead"
    return 77
  fi
  if ! command -v ip >/dev/null 2>&1; then
    pcsc_log "ip is not installed (scripts/setup iproute2); it brings up the namespace's loopback"
    return 77
  fi
  if ! unshare --mount --net --pid --fork --kill-child true 2>/dev/null; then
    pcsc_log "cannot make mount, network and PID namespaces here (unshare)"
    return 77
  fi
  # The setting-up runs from the function's text: no command of its own
  # that would mount over the machine's /run when called by hand.
  exec unshare --mount --propagation private --net --pid --fork --kill-child --mount-proc -- \
    "$BASH" -c "$(declare -f pcsc_private_enter); pcsc_private_enter \"\$@\"" pcsc-private "$BASH" "$@"
}

# The first process in the new namespaces: a fresh /run (pcscd's directory
# and a lock directory in it), the USB devices hidden from pcscd's drivers,
# loopback up for vpcd's ports; then the script.
pcsc_private_enter() {
  set -e
  mount -t tmpfs -o mode=0755,size=4m varnicle-run /run
  mkdir -m 1777 /run/lock
  mkdir -m 0755 /run/pcscd
  if [ -d /dev/bus/usb ]; then
    mount -t tmpfs -o mode=0755,size=64k varnicle-no-usb /dev/bus/usb
  fi
  ip link set lo up
  VARNICLE_PCSC_NAMESPACE=$(readlink /proc/self/ns/net)
  export VARNICLE_PCSC_NAMESPACE
  exec "$@"
}

pcsc_probe() {
  "$PCSC_TOOLS/varnicle-probe" "$@"
}

# Starts pcscd in the private place, in the foreground mode, in the
# background, with the vpcd reader only; or with VARNICLE_USE_SYSTEM_PCSCD=1
# finds the system's service. Then waits until the service lists the virtual
# reader. Returns 77 when this machine cannot run it.
pcsc_start() {
  case $pcsc_road in
    own) ;;
    system)
      pcsc_system_service
      return
      ;;
    *)
      pcsc_log "pcsc_start before pcsc_private"
      return 1
      ;;
  esac
  if ! pcsc_private_here; then
    pcsc_log "not in the test's own namespaces: no pcscd is started on the machine's /run/pcscd"
    return 1
  fi
  if ! command -v pcscd >/dev/null 2>&1 && [ ! -x /usr/sbin/pcscd ]; then
    pcsc_log "pcscd is not installed (scripts/setup pcscd vsmartcard-vpcd)"
    return 77
  fi
  local configs=(/etc/reader.conf.d/*vpcd*)
  if [ ! -f "${configs[0]}" ]; then
    pcsc_log "the vpcd reader driver is not installed (scripts/setup pcscd vsmartcard-vpcd)"
    return 77
  fi
  # Only vpcd's entry: no other reader the machine's configuration names.
  mkdir -p /run/pcscd "$PCSC_STATE/reader.conf.d"
  cp "${configs[@]}" "$PCSC_STATE/reader.conf.d/"
  local pcscd=pcscd debug=()
  command -v pcscd >/dev/null 2>&1 || pcscd=/usr/sbin/pcscd
  [ -n "${PCSCD_DEBUG:-}" ] && debug=(-d)
  setpriv --pdeathsig TERM -- "$pcscd" -f -c "$PCSC_STATE/reader.conf.d" "${debug[@]}" \
    >"$PCSC_STATE/pcscd.log" 2>&1 &
  pcsc_daemon_pid=$!
  pcsc_service=own
  if ! pcsc_probe wait-reader "$PCSC_READER"; then
    pcsc_log "pcscd did not list \"$PCSC_READER\"; its log:"
    tail -n 20 "$PCSC_STATE/pcscd.log" >&2
    pcsc_stop
    return 1
  fi
}

# The system's service, asked for with VARNICLE_USE_SYSTEM_PCSCD=1: used,
# never started nor stopped.
# shellcheck disable=SC2034  # pcsc_service is read by the scripts that source this
pcsc_system_service() {
  if pcsc_socket_activated; then
    # systemd owns the socket and starts pcscd at the first connection.
    pcsc_service=socket
    pcsc_log "pcscd is started on demand by systemd (pcscd.socket); using that service"
  elif pcsc_probe list >/dev/null 2>&1; then
    pcsc_service=system
  else
    pcsc_log "VARNICLE_USE_SYSTEM_PCSCD=1, but no PC/SC service of the system's answers;" \
      "start pcscd with vsmartcard-vpcd installed, or leave the variable unset"
    return 77
  fi
  if ! pcsc_probe --timeout 3000 wait-reader "$PCSC_READER"; then
    pcsc_log "the system's PC/SC service does not list the reader \"$PCSC_READER\"; install vsmartcard-vpcd and restart pcscd"
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
    >"$PCSC_STATE/sim.log" 2>&1 &
  pcsc_sim_pid=$!
  # The probe prints the reader's event count, which sim_stop waits to see change.
  if ! pcsc_probe wait-card "$PCSC_READER" present >"$PCSC_STATE/sim.count"; then
    pcsc_log "the virtual module did not show up in \"$PCSC_READER\"; its log:"
    tail -n 20 "$PCSC_STATE/sim.log" >&2
    sim_stop
    return 1
  fi
  pcsc_sim_count=$(cat "$PCSC_STATE/sim.count")
  # On the system's service another run's module may be what the probe saw
  # (vpcd serves one at a time). Ours is in the reader once vpcd talks to it.
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

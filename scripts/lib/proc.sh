# shellcheck shell=bash  # sourced, never run: no #! line to say so
# Signals only to processes of our own. Once the shell has reaped a child
# (it does so as soon as the child ends), its PID is free and may already
# be somebody else's: a recorded PID is signalled only while the process
# behind it is still a child of this shell. Sourced by scripts/lib/pcsc.sh
# and the end-to-end scripts; safe under set -e.

# proc_own_child PID [running]: true while PID is a child of this shell not
# yet reaped; a zombie counts (it holds its PID) unless "running" is asked.
proc_own_child() {
  local stat fields
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  # pid (comm) state ppid ...: comm may hold blanks and parentheses.
  read -r -a fields <<<"${stat##*) }"
  [ "${fields[1]:-}" = "$BASHPID" ] || return 1
  [ "${2:-}" != running ] || [ "${fields[0]}" != Z ]
}

# proc_stop PID: SIGTERM to a child of this shell, SIGKILL after 5 s, and
# waits for it; a PID that is no longer our child is left alone.
proc_stop() {
  local pid=$1
  if proc_own_child "$pid" && kill -TERM "$pid" 2>/dev/null; then
    for _ in $(seq 50); do
      proc_own_child "$pid" running || break
      sleep 0.1
    done
    ! proc_own_child "$pid" running || kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

# proc_signal SIGNAL PID: sends SIGNAL to PID only while it is a child of
# this shell not yet reaped; false otherwise.
proc_signal() {
  proc_own_child "$2" && kill "-$1" "$2" 2>/dev/null
}

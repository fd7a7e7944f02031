# shellcheck shell=bash  # sourced, never run: no #! line to say so
# What the end-to-end runners share: the rows of cases.table, the readers.ini
# column, the commands the virtual module received (from its log), the
# comparison and its report, and skipping where this machine cannot run a test.
# Sourced by run-case, wine/run-case, concurrent, faults and memcheck.
#
# The runners set -u and pipefail but not -e: the program is meant to fail in
# most cases, and a runner collects every difference of a case (output, exit
# status, commands) into one report instead of stopping at the first failing
# command.

e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../scripts/lib/lockfile.sh
source "$e2e_root/scripts/lib/lockfile.sh"

e2e_trim() {
  local s=$1
  s=${s#"${s%%[![:space:]]*}"}
  printf '%s' "${s%"${s##*[![:space:]]}"}"
}

# The names of the cases in the tables, in order.
e2e_case_names() {
  sed -nE 's/^([a-z0-9_]+)[[:space:]]*\|.*/\1/p' "$@"
}

# e2e_read_case NAME TABLE...: the first row of that name into case_ini,
# case_module, case_arguments, case_status, case_output and case_received.
e2e_read_case() {
  local name=$1 row
  shift
  row=$(grep -hE "^${name}[[:space:]]*\|" "$@" | head -n 1)
  [ -n "$row" ] || return 1
  # shellcheck disable=SC2034  # case_output is for the runners to evaluate
  IFS='|' read -r _ case_ini case_module case_arguments case_status case_output case_received <<<"$row"
  case_ini=$(e2e_trim "$case_ini")
  case_module=$(e2e_trim "$case_module")
  case_arguments=$(e2e_trim "$case_arguments")
  case_status=$(e2e_trim "$case_status")
  case_received=$(e2e_trim "$case_received")
}

# e2e_read_record NAME TABLE: the row of records.table of that name into
# record_where, record_ini, record_module, record_arguments, record_switch and
# record_fields.
# shellcheck disable=SC2034  # the runners read them
e2e_read_record() {
  local row
  row=$(grep -hE "^${1}[[:space:]]*\|" "$2" | head -n 1)
  [ -n "$row" ] || return 1
  IFS='|' read -r _ record_where record_ini record_module record_arguments record_switch record_fields <<<"$row"
  record_where=$(e2e_trim "$record_where")
  record_ini=$(e2e_trim "$record_ini")
  record_module=$(e2e_trim "$record_module")
  record_arguments=$(e2e_trim "$record_arguments")
  record_switch=$(e2e_trim "$record_switch")
  record_fields=$(e2e_trim "$record_fields")
}

# e2e_readers_ini COLUMN DIRECTORY: the readers.ini that the column names
# (READER and SECOND_READER from expected.sh); false for an unknown word.
e2e_readers_ini() {
  local file=$2/readers.ini
  case $1 in
    reader | second-named-first) printf '[Readers]\n#First=%s\n' "$READER" >"$file" ;;
    second) printf '[Readers]\n#First = %s\n' "$SECOND_READER" >"$file" ;;
    reader-crlf) printf '[Readers]\r\n#First=%s\r\n' "$READER" >"$file" ;;
    other) printf '[Readers]\n#First=Some Other Reader\n' >"$file" ;;
    # The example that ships, as it is, and with its placeholder replaced
    # by the reader's name as an operator does.
    example) cp "$e2e_root/packaging/readers.ini" "$file" ;;
    example-edited) sed "s/^#First = .*/#First = $READER/" "$e2e_root/packaging/readers.ini" >"$file" ;;
    none) ;;
    *)
      echo "${0##*/}: bad readers.ini column: $1" >&2
      return 1
      ;;
  esac
}

# e2e_received LOG: the names of the commands the module received, in order,
# into the array e2e_commands. The module writes each as "> NAME: BYTES".
e2e_received() {
  local direction word rest
  e2e_commands=()
  [ -f "$1" ] || return 0
  while read -r _ direction word rest; do
    [ "$direction" = ">" ] && [ "${word%:}" != "$word" ] && [ -n "$rest" ] || continue
    e2e_commands+=("${word%:}")
  done <"$1"
}

# The output with its elapsed seconds marked as expected.sh marks them.
e2e_mark_seconds() {
  LC_ALL=C sed -E 's/^Выполнено \([0-9]+\.[0-9]{3} сек\.\)$/Выполнено (@SECONDS@ сек.)/' "$1"
}

# e2e_compare_output EXPECTED ACTUAL [SHOW [NOTE]]: true when the files are
# the same bytes; otherwise prints their difference (both passed through the
# command SHOW, default cat; NOTE says how it shows them) and false.
e2e_compare_output() {
  local expected=$1 actual=$2 show=${3:-cat} note=${4:-}
  cmp -s "$expected" "$actual" && return 0
  echo "standard output differs (--- expected, +++ actual${note:+; $note}):"
  diff -u <("$show" <"$expected") <("$show" <"$actual") | tail -n +3 | cut -c1-300 | head -n 60
  cmp "$expected" "$actual"
  return 1
}

# e2e_report EXPECTED ACTUAL STATUS STDERR [SHOW [NOTE]]: compares one case's
# output, exit status (case_status) and received commands (case_received,
# against e2e_commands); prints what differs and standard error. Sets
# e2e_failed to 1 when anything differs.
# shellcheck disable=SC2034  # e2e_failed is the runners' verdict
e2e_report() {
  local expected=$1 actual=$2 status=$3 stderr=$4
  shift 4
  e2e_failed=0
  [ ${#e2e_commands[@]} -eq 0 ] && e2e_commands=(-)
  e2e_compare_output "$expected" "$actual" "$@" || e2e_failed=1
  if [ "$status" != "$case_status" ]; then
    echo "exit status $status, expected $case_status"
    e2e_failed=1
  fi
  if [ "${e2e_commands[*]}" != "$case_received" ]; then
    echo "the module received: ${e2e_commands[*]}"
    echo "expected:            $case_received"
    e2e_failed=1
  fi
  if [ -s "$stderr" ]; then
    echo "standard error:"
    cat "$stderr"
  fi
}

# Ends a test that this machine cannot run: skipped (77), or failed under
# CI=true, where everything must run.
e2e_cannot_run() {
  [ $# -eq 0 ] || echo "${0##*/}: $*" >&2
  if [ "${CI:-}" = true ]; then
    echo "${0##*/}: cannot run under CI" >&2
    exit 1
  fi
  exit 77
}

# Microseconds since the epoch, into the variable named $1. $EPOCHREALTIME
# has the locale's decimal separator; only its digits count.
e2e_clock() {
  local now=$EPOCHREALTIME
  printf -v "$1" '%s' "${now//[!0-9]/}"
}

# e2e_run_standin_case COMMAND STATE: runs COMMAND, one run of the program
# under wine with the stand-in winscard.dll logging to STATE/standin.log, and
# runs it once more when the stand-in could not listen on the port it was
# given (something took the port after e2e_port chose it: the program never
# saw a reader). COMMAND takes a new port each time.
e2e_run_standin_case() {
  local attempt
  for attempt in 1 2; do
    rm -f "$2/standin.log" "$2/sim.log"
    "$1"
    grep -q '^cannot listen on port' "$2/standin.log" 2>/dev/null || return 0
    [ "$attempt" -eq 2 ] ||
      echo "the stand-in: $(grep -m 1 '^cannot listen on port' "$2/standin.log"); once more on another port"
  done
}

# e2e_port: a loopback TCP port for this run alone, into e2e_port. Parallel
# runs each hold one of sixteen slot locks, and a slot owns the ports equal to
# its number modulo 16, so no two runs pick the same port; of those it takes
# one nothing uses. The ports lie below the kernel's range of ephemeral ports
# where it leaves room: else an outgoing connection of anything on the
# machine (the module's own attempts to connect included) may take the port
# after it was chosen and before the program listens on it. The lock
# (descriptor e2e_port_fd, to be closed in the commands the run starts) lasts
# as long as the shell.
e2e_port() {
  local directory slot file hex low span=1875
  directory=$(lock_file_directory)
  if read -r low _ </proc/sys/net/ipv4/ip_local_port_range 2>/dev/null &&
    [[ $low =~ ^[0-9]+$ ]] && [ "$low" -ge $((20000 + 16 * 64)) ]; then
    span=$(((low - 20000) / 16))
  fi
  e2e_port_fd=
  for slot in $(seq 0 15); do
    file=$directory/varnicle-port-slot-$slot.lock
    lock_file_claim "$file" || { echo "${0##*/}: cannot use the lock file $file" >&2; return 1; }
    exec {e2e_port_fd}<"$file"
    flock -n "$e2e_port_fd" && break
    exec {e2e_port_fd}<&-
    e2e_port_fd=
  done
  if [ -z "$e2e_port_fd" ]; then
    # More runs than slots: wait for one.
    slot=$((RANDOM % 16))
    file=$directory/varnicle-port-slot-$slot.lock
    exec {e2e_port_fd}<"$file"
    flock -w 300 "$e2e_port_fd" || { echo "${0##*/}: no port slot became free" >&2; return 1; }
  fi
  while :; do
    e2e_port=$((20000 + slot + 16 * (RANDOM % span)))
    printf -v hex '%04X' "$e2e_port"
    grep -q ":$hex " /proc/net/tcp /proc/net/tcp6 2>/dev/null || break
  done
}

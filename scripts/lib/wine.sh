# shellcheck shell=bash  # sourced, never run: no #! line to say so
# A fresh wine prefix for one run of a script, with the code pages of a
# Russian Windows (OEM 866, ANSI 1251, from LC_ALL=ru_RU.UTF-8). Sourced by
# scripts/test-windows and scripts/check-msi; safe under set -e.
#   wine_prefix_start DIR   the prefix DIR/prefix, exported as WINEPREFIX
#   wine_prefix_stop        ends its wine processes (for an EXIT trap)

wine_prefix_start() {
  local dir=$1 oem
  export WINEPREFIX=$dir/prefix WINEDEBUG=-all
  mkdir "$WINEPREFIX"
  # One server and one set of wine's own services for the whole run, started
  # with their output in a log: a service started by a test program would keep
  # that program's standard output open after it ends. DISPLAY stays as it
  # is: services started with an empty one made some later program starts
  # fail at random (ShellExecuteEx).
  wineserver -p
  if ! LC_ALL=ru_RU.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >"$dir/wineboot.log" 2>&1; then
    cat "$dir/wineboot.log" >&2
    echo "${0##*/}: wineboot failed" >&2
    return 1
  fi
  # Wine writes the code pages of the locale it runs in to the registry.
  oem=$("$(dirname "${BASH_SOURCE[0]}")/../wine-run" reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' \
    /v OEMCP </dev/null 2>/dev/null | grep -o 'REG_SZ *[0-9]*' | tr -cd '0-9')
  if [ "$oem" != 866 ]; then
    echo "${0##*/}: wine's OEM code page is ${oem:-unknown}, not 866 (is the locale ru_RU.UTF-8 usable?)" >&2
    return 1
  fi
}

# Only a prefix of our own: without WINEPREFIX wineserver would act on the
# user's default one.
wine_prefix_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

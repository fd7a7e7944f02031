# shellcheck shell=bash  # sourced, never run: no #! line to say so
# Lock files in directories that everyone may write to (/run/lock): a name
# there can be planted by another user before we first create it, as a link
# to a file of root's or as a file of their own. Sourced by
# tests/e2e/lib.sh (the port slots of the wine cases); safe under set -e.

# lock_file_claim PATH: true when PATH is a regular file (not a link) of this
# user's or of root's, creating it first when the name is free. A lock is
# taken on a descriptor opened for reading only, so the file is never written.
lock_file_claim() {
  local path=$1 owner fresh
  if [ ! -e "$path" ] && [ ! -L "$path" ]; then
    # The name may be taken between that test and the creation. A file made
    # under a random name (mktemp creates exclusively) and then hard-linked to
    # the name cannot be diverted: link() fails on any name that exists and
    # follows no link. (Bash's noclobber would still open, for writing, a
    # device or FIFO that a link planted meanwhile points to.)
    if fresh=$(mktemp -- "$path.XXXXXX" 2>/dev/null); then
      chmod 644 -- "$fresh" && ln -T -- "$fresh" "$path" 2>/dev/null || true
      rm -f -- "$fresh"
    fi
  fi
  [ -f "$path" ] && [ ! -L "$path" ] || return 1
  owner=$(stat -c %u -- "$path") || return 1
  [ "$owner" = "$(id -u)" ] || [ "$owner" = 0 ]
}

# A directory for this user's own lock files: /run/lock for root; for another
# user their private runtime directory when they have one, else /run/lock.
lock_file_directory() {
  if [ "$(id -u)" -ne 0 ] && [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ] &&
    [ -O "$XDG_RUNTIME_DIR" ] && [ -w "$XDG_RUNTIME_DIR" ]; then
    printf '%s\n' "$XDG_RUNTIME_DIR"
  else
    printf '/run/lock\n'
  fi
}

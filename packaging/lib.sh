# shellcheck shell=bash
# Shared by scripts/package and the packaging scripts.

# The script's name, for its messages.
me=$(basename "$0")

die() {
  echo "$me: $*" >&2
  exit 1
}

# The epoch when none is known from git: 2026-01-01 00:00:00 UTC.
readonly fallback_epoch=1767225600

# Exports SOURCE_DATE_EPOCH, unless already set: the time of the last commit
# of the repository at $1, or the fixed fallback where there is no git
# history. Says where the time comes from and, given or not, whether the work
# tree matches the commit.
source_date_epoch() {
  local repo=$1 git_tree=
  # A tree without git of its own may lie inside another repository.
  command -v git >/dev/null &&
    [ "$(git -C "$repo" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$repo" && pwd -P)" ] &&
    git_tree=yes
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || die "SOURCE_DATE_EPOCH is not a number of seconds: $SOURCE_DATE_EPOCH"
    echo "$me: timestamps from SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH (given)"
  elif [ -n "$git_tree" ] &&
    SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct 2>/dev/null) && [ -n "$SOURCE_DATE_EPOCH" ]; then
    # A shallow clone still has the last commit and its time, so it gives the
    # same artifacts as a full clone of the same commit.
    local how="the last commit"
    [ "$(git -C "$repo" rev-parse --is-shallow-repository 2>/dev/null)" = true ] &&
      how="the last commit (shallow clone: its time is known)"
    echo "$me: timestamps from $how, $(git -C "$repo" rev-parse --short HEAD): SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
  else
    SOURCE_DATE_EPOCH=$fallback_epoch
    echo "$me: no git history here: timestamps fixed at 2026-01-01 00:00:00 UTC (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)" >&2
  fi
  export SOURCE_DATE_EPOCH
  [ -z "$git_tree" ] || work_tree_report "$repo"
}

# Says on standard error when the work tree at $1 differs from its last
# commit, with the first few changed files.
work_tree_report() {
  local repo=$1 changes count
  # Read whole, not through head: under pipefail a long listing cut short
  # would fail git with SIGPIPE.
  changes=$(git -C "$repo" status --porcelain 2>/dev/null) || return 0
  [ -n "$changes" ] || return 0
  count=$(wc -l <<<"$changes")
  echo "$me: the work tree has uncommitted changes: the result will not match commit $(git -C "$repo" rev-parse --short HEAD 2>/dev/null)" >&2
  sed -n '1,5p' <<<"$changes" | sed "s/^/$me:   /" >&2
  [ "$count" -le 5 ] || echo "$me:   and $((count - 5)) more" >&2
}

# Strips the Linux program as Debian's own programs are stripped; the
# Debian package and the tarball carry the same bytes.
strip_program() {
  strip --remove-section=.comment --remove-section=.note --strip-unneeded "$1"
}

# A name-based (version 5) UUID in the project's namespace, upper case, the
# form MSI tables take: the same name always gives the same UUID.
uuid5() {
  local namespace=5fab9d04-5698-40b1-8b06-11f5accbc019 hex
  namespace=${namespace//-/}
  hex=$({
    printf '%b' "$(sed 's/../\\x&/g' <<<"$namespace")"
    printf '%s' "$1"
  } | sha1sum | cut -c1-32)
  # Version 5 in the high nibble of byte 6, variant 10 in byte 8.
  hex=${hex:0:12}5${hex:13:3}$(printf '%x' $((0x${hex:16:1} & 0x3 | 0x8)))${hex:17:15}
  hex=${hex^^}
  printf '%s-%s-%s-%s-%s\n' "${hex:0:8}" "${hex:8:4}" "${hex:12:4}" "${hex:16:4}" "${hex:20:12}"
}

# Copies the work tree at $1 as it is, committed or not (tracked files and
# untracked ones that are not ignored), without its git data, to $2.
copy_work_tree() {
  mkdir -p "$2"
  git -C "$1" ls-files -z --cached --others --exclude-standard |
    (cd "$1" && xargs -0 -r sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh) |
    tar -C "$1" --null -T - -cf - | tar -C "$2" -xf -
}

# The guides' names in the Windows packages (the second word of each line of
# packaging/guides), one a line.
windows_guide_names() {
  sed -nE 's/^[^#[:space:]][^[:space:]]*[[:space:]]+([^[:space:]]+)[[:space:]]*$/\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/guides"
}

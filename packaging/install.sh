#!/bin/sh
# Installs varnicle from this folder under PREFIX (default /usr/local):
#   PREFIX/bin/varnicle
#   PREFIX/share/man/man1/varnicle.1.gz
#   PREFIX/share/doc/varnicle/   the guides, LICENSE, readers.ini.example
#   PREFIX/share/varnicle/installed-files   what it installed, one path a line
# Run it as root for /usr/local:
#   sh install.sh
#   PREFIX=/opt/varnicle sh install.sh
# Installing over an earlier version removes the files that version
# installed (its installed-files) and this one no longer ships; nothing else.
set -eu
# Directories and files readable by everyone, whatever the caller's umask.
umask 022
here=$(cd "$(dirname "$0")" && pwd)
prefix=${PREFIX:-/usr/local}
case $prefix in
  /*) ;;
  *)
    echo "install.sh: PREFIX must be an absolute path: $prefix" >&2
    exit 1
    ;;
esac
if ! mkdir -p "$prefix/bin" "$prefix/share/man/man1" "$prefix/share/doc/varnicle" "$prefix/share/varnicle" 2>/dev/null ||
  [ ! -w "$prefix/bin" ]; then
  echo "install.sh: cannot write under $prefix; run it as root, or choose another PREFIX" >&2
  exit 1
fi
# Ours alone: made 0700 by an earlier install under another umask, perhaps.
chmod 0755 "$prefix/share/doc/varnicle" "$prefix/share/varnicle"
manifest=$prefix/share/varnicle/installed-files
install -m 0755 "$here/varnicle" "$prefix/bin/varnicle"
install -m 0644 "$here/varnicle.1.gz" "$prefix/share/man/man1/varnicle.1.gz"
printf '%s\n' bin/varnicle share/man/man1/varnicle.1.gz >"$manifest.new"
for file in "$here"/*; do
  case ${file##*/} in
    varnicle | varnicle.1.gz | install.sh) ;;
    *)
      install -m 0644 "$file" "$prefix/share/doc/varnicle/"
      echo "share/doc/varnicle/${file##*/}" >>"$manifest.new"
      ;;
  esac
done
# What the earlier install listed and this one does not ship: only plain
# files under the names an install of ours can have, never a link.
if [ -f "$manifest" ]; then
  while IFS= read -r path; do
    case $path in
      bin/varnicle | share/man/man1/varnicle.1.gz) ;;
      share/doc/varnicle/*/* | share/doc/varnicle/.*) continue ;;
      share/doc/varnicle/?*) ;;
      *) continue ;;
    esac
    grep -qxF -- "$path" "$manifest.new" && continue
    if [ -f "$prefix/$path" ] && [ ! -L "$prefix/$path" ]; then
      rm -f -- "$prefix/$path"
      echo "install.sh: removed $prefix/$path, which this version no longer ships"
    fi
  done <"$manifest"
fi
chmod 0644 "$manifest.new"
mv -f "$manifest.new" "$manifest"
echo "install.sh: installed $prefix/bin/varnicle, its manual page and $prefix/share/doc/varnicle"

# The program needs the PC/SC client library and, to reach a reader, the
# service; both come from the system.
if ! PATH=$PATH:/sbin:/usr/sbin ldconfig -p 2>/dev/null | grep -q '[[:space:]]libpcsclite\.so\.1[[:space:]]'; then
  echo "install.sh: this system lacks libpcsclite.so.1, which varnicle needs: install it (below)" >&2
fi
cat <<EOF

varnicle talks to card readers through the PC/SC service pcscd, which is not
part of varnicle: install it from your distribution's pcsc-lite packages.
  Debian, Astra Linux:  pcscd libpcsclite1 libccid
  RED OS:               pcsc-lite pcsc-lite-libs pcsc-lite-ccid  (names not verified here)
  ALT:                  pcsc-lite libpcsclite pcsc-lite-ccid     (names not verified here)
(the ccid driver is for USB readers). Start the service with
  systemctl enable --now pcscd.socket
then copy $prefix/share/doc/varnicle/readers.ini.example to readers.ini in the
folder you run varnicle from, and write your reader's name in it.
EOF

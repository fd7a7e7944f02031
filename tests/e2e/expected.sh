# Pieces of the program's expected standard output, for the expected column of
# cases.table. Sourced by run-case.
# The runners that source this file read these variables, so they only look
# unused here.
# shellcheck shell=bash disable=SC2034

BANNER=$'varnicle.exe версия 1.00.00.01\n'
CONNECT=$'\nПодключение считывателя А (#First)...\n'
CONTROL=$'Контроль СЗИ...\n'
# Everything a control run prints before its first exchange.
START="$BANNER$CONNECT$CONTROL"
PASSED=$'Контроль СЗИ успешно выполнен.\n'
# run-case turns the printed seconds into this mark.
ELAPSED=$'Выполнено (@SECONDS@ сек.)\n'
NOT_PASSED=$'Ошибка! Контроль СЗИ не пройден!\n'
NOT_DONE='Ошибка! Контроль СЗИ не выполнен!'
NO_SERIAL='Ошибка! Серийный номер СЗИ не получен!'
NO_CONNECTION='Ошибка! Невозможно подключиться к СЗИ!'
# run-case turns each PC/SC error that a pulled card can cause into this mark.
CARD_REMOVED='@CARD_REMOVED@'
READER='Virtual PCD 00 00'
SECOND_READER='Virtual PCD 00 01'
SERIAL=001A2B3C4D5E6F

# The label of module designation $1 (00001, 00002, 00003) with the first six
# bytes of serial $2 (default: the first six of SERIAL).
label() {
  printf 'РОСС RU.07.3815.%s.%s ' "$1" "${2:-001A2B3C4D5E}"
}

# A passed control: the success line, the label, the elapsed time.
passed() {
  printf '%sНомер СЗИ: %s\n%s' "$PASSED" "$(label "$@")" "$ELAPSED"
}

# "Ошибка! " with a status word and its text.
sw_error() {
  printf 'Ошибка! %s, %s\n' "$1" "$2"
}

# "Ошибка! " with a PC/SC code and the PC/SC library's own text for it.
pcsc_error() {
  printf 'Ошибка! %s, %s\n' "$1" "$("$PCSC_TOOLS/varnicle-probe" error-text "$1")"
}

# One line of a data dump: the bytes $1 (hexadecimal, blank-separated, at most
# 16), blanks in place of missing bytes, then the character column $2.
dump() {
  local line="  " count=0 b
  for b in $1; do
    line+="$b "
    count=$((count + 1))
  done
  while [ $count -lt 16 ]; do
    line+="   "
    count=$((count + 1))
  done
  printf '%s   %s\n' "$line" "$2"
}

# The trace of one command in headers mode: reader, header, status word.
trace_headers() {
  printf '\n%s\n%s... SW=%s\n' "$READER" "$1" "$2"
}

# The trace of one command in data mode: reader, separator, header; the
# caller adds the data parts.
trace_command() {
  printf '\n%s\n============================================\n%s... ' "$READER" "$1"
}

# Prints its arguments one after the other.
out() {
  printf '%s' "$@"
}

# -keycheck on an ST23R160 module in data mode, the final-check answer being
# the bytes 00 to 1B followed by the reference word.
trace_keycheck_st23r160_data() {
  trace_command 'CLA=80 INS=FE P1=06 P2=00 P3=00'
  printf '\nData Out:\n'
  dump '00 1A 2B 3C 4D 5E 6F' '..+<M^o'
  printf 'SW=9000\n'
  trace_command 'CLA=80 INS=FE P1=00 P2=00 P3=00'
  printf '\nData Out:\n'
  dump '80 08 53 54 32 33 52 31 36 30 81 08 53 6F 6C 76' '..ST23R160..Solv'
  dump '61 72 69 61 82 05 54 61 6D 69 6B 83 02 01 30' 'aria..Tamik...0'
  printf 'SW=9000\n'
  trace_command 'CLA=80 INS=FE P1=02 P2=00 P3=00'
  printf '\nData Out:\n'
  dump '00 00 00 00 00 00 00 00' '........'
  printf 'SW=9000\n'
  trace_command 'CLA=80 INS=FE P1=07 P2=00 P3=20'
  printf '\nData In:\n'
  dump '00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F' '................'
  dump '10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F' '................'
  printf '\n'
  printf '\nData Out:\n'
  dump '9F 88 EF A3' '....'
  printf 'SW=9000\n'
  trace_command 'CLA=80 INS=06 P1=00 P2=00 P3=20'
  printf '\nData Out:\n'
  dump '00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F' '................'
  dump '10 11 12 13 14 15 16 17 18 19 1A 1B 5F B9 B3 07' '............_...'
  printf 'SW=9000\n'
}
FINAL_ST23R160=000102030405060708090A0B0C0D0E0F101112131415161718191A1B5FB9B307

# -check on an ST31H320 module in headers mode, its control answer split by
# 61 34 and fetched with GET RESPONSE.
trace_check_st31h320_headers() {
  trace_headers 'CLA=80 INS=FE P1=06 P2=00 P3=00' 9000
  trace_headers 'CLA=80 INS=FE P1=00 P2=00 P3=00' 9000
  trace_headers 'CLA=80 INS=FE P1=02 P2=00 P3=00' 9000
  trace_headers 'CLA=80 INS=FE P1=08 P2=00 P3=00' 6134
  trace_headers 'CLA=00 INS=C0 P1=00 P2=00 P3=34' 9000
}

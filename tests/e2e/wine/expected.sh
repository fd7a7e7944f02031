# Pieces of the expected output of the cases in cases.table here, in addition
# to those of ../expected.sh. Sourced by run-case.
# The runners that source this file read these variables, so they only look
# unused here.
# shellcheck shell=bash disable=SC2034

USAGE=$'Для запуска используйте строку:\n'\
$'varnicle.exe <команда> [параметры]\n'\
$'команда:\n'\
$'  -check\t- Неключевой контроль СЗИ\n'\
$'  -keycheck\t- Ключевой контроль СЗИ \n'\
$'  -help\t\t- описание [команды] или это описание \n'\
$'параметры:\n'\
$'  -szi\t\t- режим контроля (RU.07.3815.00001 | RU.07.3815.00002 | RU.07.3815.00003)\n'\
$'  -silent\t- запрет вывода сообщений на экран, кроме серийного номера СЗИ\n'\
$'  -a\t\t- считыватель A (#First)\n'\
$'  -trace\t- режим протокола APDU, только заголовки или все: [header | data]\n'

CHECK_HELP=$'Неключевой контроль СЗИ:\n'\
$' -check [-szi <режим контроля>]\n'\
$' где режим контроля:\n'\
$' \tRU.07.3815.00001 - СЗИ ST23L80A\n'\
$' \tRU.07.3815.00002 - СЗИ ST23R160\n'\
$' \tRU.07.3815.00003 - СЗИ ST31H320\n'\
$'\n'

# Text for Windows packages: CR LF line ends and, with BOM set, a UTF-8 byte
# order mark, so Notepad on Windows 7 shows Cyrillic text right.
#   cmake -DIN=<file> -DOUT=<file> [-DBOM=ON] -P windows-text.cmake
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
if(BOM)
  string(ASCII 239 187 191 bom)
  string(PREPEND text "${bom}")
endif()
file(WRITE ${OUT} "${text}")

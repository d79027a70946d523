# nolva_byte_array(FILE BYTES SIZE): the bytes of FILE as the initialiser of
# a char array ('\x3c', ... 16 a line) in BYTES, and their count in SIZE.
# Shared by the scripts that compile files into the programs.
function(nolva_byte_array file bytes_var size_var)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # CMake's regular expressions know no {16}.
  string(REPEAT "'[^']+'," 16 sixteen)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(REGEX REPLACE "(${sixteen})" "\\1\n    " bytes "${bytes}")
  set(${bytes_var} "${bytes}" PARENT_SCOPE)
  set(${size_var} ${size} PARENT_SCOPE)
endfunction()

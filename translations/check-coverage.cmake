# Runs lupdate over today's sources into scratch copies of the .ts files (the repository's
# stay untouched) and fails when a text has no finished translation in any of them.
# cmake -DLUPDATE=… -DSOURCES=list-file -DINCLUDE=dir -DOPTIONS=a|b -DTS_FILES=a.ts|b.ts -DOUT=dir -P check-coverage.cmake
string(REPLACE "|" ";" OPTIONS "${OPTIONS}")
string(REPLACE "|" ";" TS_FILES "${TS_FILES}")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
set(copies)
foreach(ts IN LISTS TS_FILES)
  get_filename_component(name "${ts}" NAME)
  configure_file("${ts}" "${OUT}/${name}" COPYONLY)
  list(APPEND copies "${OUT}/${name}")
endforeach()
execute_process(COMMAND "${LUPDATE}" -I "${INCLUDE}" "@${SOURCES}" ${OPTIONS} -ts ${copies}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${rc})")
endif()
set(missing "")
foreach(copy IN LISTS copies)
  file(READ "${copy}" text)
  string(REGEX MATCHALL "<source>[^<]*</source>[^<]*(<[a-z]*comment>[^<]*</[a-z]*comment>[^<]*)*<translation type=\"unfinished\""
    unfinished "${text}")
  foreach(entry IN LISTS unfinished)
    string(REGEX REPLACE "<source>([^<]*)</source>.*" "\\1" source "${entry}")
    string(APPEND missing "\n  ${copy}: ${source}")
  endforeach()
endforeach()
if(missing)
  message(FATAL_ERROR "Texts without a finished translation (translate them in the .ts files, "
    "after `cmake --build BUILD --target update_translations`):${missing}")
endif()

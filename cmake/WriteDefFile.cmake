# Writes the DLL's module-definition file: the functions that the public
# header declares with TYPERECOVERY_API, and every symbol of the public
# container class CBaseArray (members, vtable, type information) as the
# compiler named them in its object file. Nothing else is exported, so the
# export list follows the header by construction.
#
#   cmake -DHEADER=... -DNM=... -DOBJECT=... -DOUTPUT=... -P WriteDefFile.cmake
file(READ ${HEADER} header)
string(REGEX MATCHALL "TYPERECOVERY_API[^;]*[ *](TypeRecovery_[A-Za-z0-9_]+)\\(" declarations "${header}")
set(functions)
foreach(declaration IN LISTS declarations)
  string(REGEX MATCH "TypeRecovery_[A-Za-z0-9_]+\\($" name "${declaration}")
  string(REGEX REPLACE "\\($" "" name "${name}")
  list(APPEND functions ${name})
endforeach()
list(REMOVE_DUPLICATES functions)
list(LENGTH functions count)
if(count EQUAL 0)
  message(FATAL_ERROR "no TYPERECOVERY_API functions found in ${HEADER}")
endif()

execute_process(COMMAND ${NM} --defined-only --extern-only ${OBJECT}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} failed on ${OBJECT}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(classSymbols)
foreach(line IN LISTS lines)
  # "address type name"; i686 objects put one extra "_" before every name.
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) _*(_Z[A-Z]*10CBaseArray[A-Za-z0-9_]*)$")
    set(kind ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    if(kind STREQUAL "T")
      list(APPEND classSymbols "${name}")
    else()
      list(APPEND classSymbols "${name} DATA")
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES classSymbols)
list(SORT classSymbols)
if(NOT classSymbols)
  message(FATAL_ERROR "no CBaseArray symbols in ${OBJECT}")
endif()

set(text "LIBRARY typerecovery.dll\nEXPORTS\n")
foreach(name IN LISTS functions classSymbols)
  string(APPEND text "    ${name}\n")
endforeach()
file(WRITE ${OUTPUT}.new "${text}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)

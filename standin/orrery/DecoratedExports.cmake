# Turns the linker's export list ("Name = Name@N @ordinal") into one of decorated names
# ("Name@N"), from which dlltool makes an import library for stdcall callers.
file(STRINGS ${DEF} lines)
set(out "EXPORTS\n")
foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*[A-Za-z0-9_]+ = ([A-Za-z0-9_]+@[0-9]+)")
        string(APPEND out "    ${CMAKE_MATCH_1}\n")
    endif()
endforeach()
file(WRITE ${OUT} "${out}")

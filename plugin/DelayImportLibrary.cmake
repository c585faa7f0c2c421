# Makes a delay-import library of a DLL: its exports from DEF (the decorated names of a 32-bit
# stdcall DLL) or, without DEF, from the DLL's export table (OBJDUMP -p).
#   cmake -DDLL=... [-DDEF=...] -DOBJDUMP=... -DDLLTOOL=... -DOUT=... -P DelayImportLibrary.cmake
get_filename_component(dll_name ${DLL} NAME)
set(def ${OUT}.def)
set(kill_at "")
if(DEF)
    file(READ ${DEF} content)
    set(kill_at --kill-at)
else()
    execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
    # The name table runs from its heading to the next empty line.
    string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(.*)" table "${dump}")
    string(FIND "${CMAKE_MATCH_1}" "\n\n" end)
    string(SUBSTRING "${CMAKE_MATCH_1}" 0 ${end} names)
    set(content "EXPORTS\n")
    string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z0-9_]+" entries "${names}")
    foreach(entry IN LISTS entries)
        string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${entry}")
        string(APPEND content "    ${name}\n")
    endforeach()
endif()
file(WRITE ${def} "${content}")
execute_process(
    COMMAND ${DLLTOOL} ${kill_at} --input-def ${def} --dllname ${dll_name} --output-delaylib ${OUT}
    COMMAND_ERROR_IS_FATAL ANY)

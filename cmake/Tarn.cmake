# Shared build settings of every target of the project.

# TARN_WINDOWS: built against the real Windows API (mingw-w64); otherwise against the
# simulated Windows machine of platform/sim.
if(WIN32)
    set(TARN_WINDOWS ON)
else()
    set(TARN_WINDOWS OFF)
endif()

function(tarn_set_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Werror
        -Wnon-virtual-dtor -Wcast-qual -Wformat=2 -Wimplicit-fallthrough
        -Wno-missing-field-initializers)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        target_compile_options(${target} PRIVATE -Wno-gnu-zero-variadic-macro-arguments)
    endif()
endfunction()

# Defines shared by every translation unit of a Windows target.
function(tarn_windows_defines target)
    if(TARN_WINDOWS)
        target_compile_definitions(${target} PUBLIC
            UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
    endif()
endfunction()

# A static library of the system: include root is the repository root.
function(tarn_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    tarn_set_warnings(${name})
endfunction()

# Static linking of the C++ runtime for Windows binaries, so that they only import system DLLs.
function(tarn_windows_static_runtime target)
    if(TARN_WINDOWS)
        target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
endfunction()

# A GoogleTest executable. PORTABLE tests also run in the Windows build (under wine);
# tests that need the simulated machine's control side are added only to the Linux build.
# RESOURCE_LOCK names something on the shared simulated machine that the tests change, so that
# ctest runs none of them at the same time.
function(tarn_add_test name)
    cmake_parse_arguments(ARG "SIM_ONLY" "RESOURCE_LOCK" "SOURCES;DEPS" ${ARGN})
    if(ARG_SIM_ONLY AND TARN_WINDOWS)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} tarn_test_support GTest::gmock GTest::gtest)
    tarn_set_warnings(${name})
    tarn_windows_static_runtime(${name})
    if(TARN_WINDOWS)
        # One ctest per binary: every process start under wine costs time.
        set(filter "")
        if(EXISTS ${PROJECT_SOURCE_DIR}/tests/wine-exclusions.txt)
            file(STRINGS ${PROJECT_SOURCE_DIR}/tests/wine-exclusions.txt lines REGEX "^[A-Za-z]")
            foreach(line IN LISTS lines)
                string(REGEX REPLACE "[ \t].*$" "" pattern "${line}")
                list(APPEND filter "${pattern}")
            endforeach()
        endif()
        list(JOIN filter ":" filter)
        if(filter)
            set(filter "--gtest_filter=-${filter}")
        endif()
        add_test(NAME ${name} COMMAND ${name} ${filter})
        set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    else()
        set(lock "")
        if(ARG_RESOURCE_LOCK)
            set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
        endif()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ${lock})
    endif()
endfunction()

# Adds every direct subfolder of the current folder that has a CMakeLists.txt, so that each
# part of the test, benchmark and fuzz trees owns its own build file.
function(tarn_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(child IN LISTS children)
        if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()

# A stand-in of one of the maker's libraries: a shared library (a DLL on Windows, importing
# only system DLLs) that exports only its API, with its own private copy of our static
# libraries. On 32-bit Windows its stdcall functions are exported undecorated, as callers look
# them up, and its import library maps the decorated names onto them.
function(tarn_standin_library target output_name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;DEFINES" ${ARGN})
    add_library(${target} SHARED ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE ${ARG_DEFINES})
    target_link_libraries(${target} PUBLIC tarn_platform PRIVATE ${ARG_DEPS})
    set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                               VISIBILITY_INLINES_HIDDEN ON)
    tarn_set_warnings(${target})
    if(TARN_WINDOWS)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name} PREFIX "")
        tarn_windows_static_runtime(${target})
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            set(def ${CMAKE_CURRENT_BINARY_DIR}/${output_name}.def)
            target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--output-def,${def})
            add_custom_command(TARGET ${target} POST_BUILD
                COMMAND ${CMAKE_COMMAND} -DDEF=${def} -DOUT=${def}.decorated
                        -P ${PROJECT_SOURCE_DIR}/standin/orrery/DecoratedExports.cmake
                COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${def}.decorated
                        --dllname $<TARGET_FILE_NAME:${target}>
                        --output-lib $<TARGET_LINKER_FILE:${target}>
                VERBATIM)
        endif()
    else()
        target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
    endif()
endfunction()

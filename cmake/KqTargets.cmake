# Helpers shared by every folder's CMakeLists.

# 64-bit builds run under Wine's 64-bit loader directly: Debian's wine script would pick the
# 32-bit loader, which some machines cannot execute.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KQ_WINE /usr/lib/wine/wine64 CACHE STRING "Wine loader that runs the tests")
else()
    set(KQ_WINE wine CACHE STRING "Wine loader that runs the tests")
endif()
set(KQ_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix private to this build")
set(KQ_TEST_TIMEOUT 300 CACHE STRING "Seconds one test executable may run")

function(kq_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A library made of every .cpp in a folder (one source per class).
function(kq_add_library name dir)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${dir})
    kq_warnings(${name})
endfunction()

# Environment every Wine-run test gets.
set(KQ_WINE_ENV
    WINEPREFIX=${KQ_WINEPREFIX}
    WINEDEBUG=-all
    "WINEDLLOVERRIDES=winedbg.exe=d\;winemenubuilder.exe=d\;mscoree=d\;mshtml=d"
    KQ_BUILD_DIR=${CMAKE_BINARY_DIR}
    KQ_SOURCE_DIR=${CMAKE_SOURCE_DIR})

# Registers a command run under Wine as one ctest entry.
function(kq_add_wine_test name)
    add_test(NAME ${name} COMMAND ${KQ_WINE} ${ARGN})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${KQ_WINE_ENV}" TIMEOUT ${KQ_TEST_TIMEOUT})
endfunction()

# Every test_*.cpp in the calling folder becomes one test executable and one ctest entry
# (a Wine process start is costly, so the cases of one file share a process).
# Extra sources shared by the folder's tests go after SHARED; libraries after LIBS. Files named
# after EXCLUDE are left to the folder's own CMakeLists (a test that needs other libraries
# adds itself with another call that names it after ONLY).
function(kq_add_test_folder prefix)
    cmake_parse_arguments(ARG "" "" "LIBS;SHARED;DEPENDS;EXCLUDE;ONLY" ${ARGN})
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
    foreach(name ${ARG_EXCLUDE})
        list(REMOVE_ITEM tests ${CMAKE_CURRENT_SOURCE_DIR}/${name})
    endforeach()
    if(ARG_ONLY)
        list(TRANSFORM ARG_ONLY PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE tests)
    endif()
    foreach(src ${tests})
        get_filename_component(base ${src} NAME_WE)
        set(target ${prefix}_${base})
        add_executable(${target} ${src} ${ARG_SHARED})
        kq_warnings(${target})
        target_link_libraries(${target} PRIVATE ${ARG_LIBS} kqtestkit gmock gtest_main)
        if(ARG_DEPENDS)
            add_dependencies(${target} ${ARG_DEPENDS})
        endif()
        kq_add_wine_test(${target} $<TARGET_FILE:${target}> --gtest_color=no)
    endforeach()
endfunction()

# Authenticode-signed copies of programs for tests that need a valid signature. The ctest
# fixture NAME signs every FILE (paths or generator expressions) with a throwaway certificate
# into bin/signed/NAME/ before any test that lists NAME in FIXTURES_REQUIRED, and removes the
# folder after them. The key lives only in a temporary folder while the fixture runs.
# SKIP_MISSING passes over files that do not exist (programs of another build).
function(kq_add_signed_copies name)
    cmake_parse_arguments(ARG "SKIP_MISSING" "" "FILES" ${ARGN})
    set(dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/signed/${name})
    set(options)
    if(ARG_SKIP_MISSING)
        set(options --skip-missing)
    endif()
    add_test(NAME ${name}_sign COMMAND sh ${CMAKE_SOURCE_DIR}/tools/signing/sign-copies.sh ${options} ${dir}
        ${ARG_FILES})
    set_tests_properties(${name}_sign PROPERTIES FIXTURES_SETUP ${name} TIMEOUT 120)
    add_test(NAME ${name}_unsign COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir})
    set_tests_properties(${name}_unsign PROPERTIES FIXTURES_CLEANUP ${name})
endfunction()

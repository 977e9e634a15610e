# GoogleTest from Debian's source package, built with the cross toolchain.
set(KQ_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source folder")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KQ_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

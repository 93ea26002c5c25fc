# The unit tests of the Windows cross-build: GoogleTest cross-compiled from Debian's source
# package, and the programs whose sources hold for real Win32 as for our Linux layer (the folder
# utilities and the Win32 behaviour the program relies on). tools/windows/wine_checks.sh runs them
# under Wine; with CMAKE_CROSSCOMPILING_EMULATOR set to wine, ctest does too.
set(QX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-compile")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QX_GTEST_SOURCE} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own sources are not ours to hold to our warning flags.
foreach(gtest_target gtest gtest_main)
  target_compile_options(${gtest_target} PRIVATE -w)
endforeach()

# Only the helpers that build on Windows: temp folders and what the host system can do.
add_library(qx_test_support STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/support/temp_dir.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/host_system.cpp)
target_link_libraries(qx_test_support PUBLIC qx_state gtest)
target_include_directories(qx_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# ctest runs the programs through Wine when it is there.
find_program(QX_WINE wine)

function(qx_windows_unit_tests area)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/unit/${area}/*.cpp)
  add_executable(test_${area} ${sources})
  target_link_libraries(test_${area} PRIVATE ${ARGN} qx_test_support gtest_main)
  if(QX_WINE)
    set_target_properties(test_${area} PROPERTIES CROSSCOMPILING_EMULATOR ${QX_WINE})
  endif()
  add_test(NAME test_${area} COMMAND test_${area})
  set_tests_properties(test_${area} PROPERTIES TIMEOUT 300)
endfunction()

qx_windows_unit_tests(fsutil qx_fsutil)
qx_windows_unit_tests(winapi qx_platform)
# The message-order test's dialog template, compiled into its program as resources are.
target_sources(test_winapi PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/unit/winapi/resources/message_order_dialog.rc)

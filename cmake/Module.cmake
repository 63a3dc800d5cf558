# vantisol_module(<name> SOURCES ... [DEPS ...]): a module library with the project's warnings.
function(vantisol_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
                                     PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  vantisol_warnings(${name})
endfunction()

function(vantisol_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# vantisol_test(<name> SOURCES ... DEPS ... [OWN_MAIN] [TIMEOUT <seconds>]): a GoogleTest binary
# registered with ctest. Each of its tests gets TIMEOUT seconds (60 unless the binary asks for more),
# so that a hang is reported within a minute.
function(vantisol_test name)
  if(NOT VANTISOL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "OWN_MAIN" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  vantisol_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    # One ctest entry per binary, run through the emulator (Wine): the Windows tests share the
    # prefix's kernel namespace, so they never run side by side. A whole binary under Wine needs
    # more than one test's limit.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
    return()
  endif()
  # Discovery runs under ctest (and so under Xvfb): some test binaries need a display to start.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()

# Adds every subfolder of the current folder that holds a CMakeLists.txt.
function(vantisol_add_subfolders)
  file(GLOB dirs LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(dir IN LISTS dirs)
    if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

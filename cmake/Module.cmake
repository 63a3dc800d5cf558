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

# vantisol_test(<name> SOURCES ... DEPS ... [OWN_MAIN] [TIMEOUT <seconds>] [COST <n>]): a GoogleTest
# binary registered with ctest. Each of its tests gets TIMEOUT seconds (60 unless the binary asks
# for more, times the build's VANTISOL_TIME_SCALE), so that a hang is reported within a minute. The
# test code sees the scale as the macro VANTISOL_TIME_SCALE (watchdog.h scales its limits by it).
# A binary with a COST has its tests started before those with less under ctest -j, so that its
# long ones do not finish alone at the end of a fresh tree's first run.
function(vantisol_test name)
  if(NOT VANTISOL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "OWN_MAIN" "TIMEOUT;COST" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_COST)
    set(ARG_COST 0)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  if(VANTISOL_TIME_SCALE)
    math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * ${VANTISOL_TIME_SCALE}")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock)
  vantisol_time_scale(${name})
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
                       PROPERTIES TIMEOUT ${ARG_TIMEOUT} COST ${ARG_COST})
endfunction()

# vantisol_time_scale(<target>): the target's code sees the build's VANTISOL_TIME_SCALE (how many
# times slower it runs than a plain build) as the macro of that name.
function(vantisol_time_scale target)
  if(VANTISOL_TIME_SCALE AND NOT VANTISOL_TIME_SCALE EQUAL 1)
    target_compile_definitions(${target} PRIVATE VANTISOL_TIME_SCALE=${VANTISOL_TIME_SCALE})
  endif()
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

# vantisol_build_tool(<target>): a program that the build runs to generate files. It is a tool of
# the build, not part of the product: a sanitizer build leaves it uninstrumented, so that it runs
# without the test suite's options and suppressions and the reports of the uninstrumented
# libraries it loads cannot stop the build. The tree's name for its sanitizer, a compile option too,
# goes with them.
function(vantisol_build_tool target)
  foreach(property COMPILE_OPTIONS LINK_OPTIONS)
    get_target_property(options ${target} ${property})
    if(options)
      list(FILTER options EXCLUDE REGEX "^-f(no-)?sanitize|^-DVANTISOL_TREE_")
      set_property(TARGET ${target} PROPERTY ${property} ${options})
    endif()
  endforeach()
  set_property(TARGET ${target} PROPERTY VANTISOL_BUILD_TOOL TRUE)
endfunction()

# vantisol_keep_gl_driver_loaded(): links cmake/sanitizer/keep_gl_driver.cc into every program of
# the tree except the build's tools, and loads with each program the libraries that the GL driver
# and Qt's X11 platform plug-in bring in and that keep their thread-local data apart from the
# program's (see that file for why).
function(vantisol_keep_gl_driver_loaded)
  find_path(VANTISOL_GL_DRIVER_DIR swrast_dri.so
            PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/dri /usr/lib64/dri /usr/lib/dri
            NO_DEFAULT_PATH)
  if(NOT VANTISOL_GL_DRIVER_DIR)
    message(STATUS "No software GL driver found: nothing to keep loaded for the leak checker")
    return()
  endif()
  add_library(keep_gl_driver OBJECT ${PROJECT_SOURCE_DIR}/cmake/sanitizer/keep_gl_driver.cc)
  target_compile_definitions(keep_gl_driver PRIVATE
                             VANTISOL_GL_DRIVER_DIR="${VANTISOL_GL_DRIVER_DIR}")
  vantisol_warnings(keep_gl_driver)
  set(loaded_later ${VANTISOL_GL_DRIVER_DIR}/swrast_dri.so)
  if(TARGET Qt5::QXcbIntegrationPlugin)
    get_target_property(plugin Qt5::QXcbIntegrationPlugin LOCATION)
    list(APPEND loaded_later ${plugin})
  endif()
  _vantisol_lazy_tls_libraries("${loaded_later}" libraries)
  message(STATUS "Loaded with every program for the leak checker: ${libraries}")
  _vantisol_add_keeper(${PROJECT_SOURCE_DIR} "${libraries}")
endfunction()

# The shared libraries that `objects` need whose thread-local data is allocated on each thread's
# first use when they come in by dlopen (a TLS segment without the static-TLS flag).
function(_vantisol_lazy_tls_libraries objects out)
  set(found "")
  foreach(object IN LISTS objects)
    execute_process(COMMAND ldd ${object} OUTPUT_VARIABLE listing ERROR_QUIET)
    string(REGEX MATCHALL "=> /[^ ]+" needed "${listing}")
    foreach(entry IN LISTS needed)
      string(SUBSTRING "${entry}" 3 -1 library)
      execute_process(COMMAND ${CMAKE_READELF} -lWd ${library} OUTPUT_VARIABLE headers
                      ERROR_QUIET)
      if(headers MATCHES "\n +TLS " AND NOT headers MATCHES "STATIC_TLS")
        list(APPEND found ${library})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES found)
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

function(_vantisol_add_keeper directory libraries)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(tool ${target} VANTISOL_BUILD_TOOL)
    if(type STREQUAL "EXECUTABLE" AND NOT tool)
      target_sources(${target} PRIVATE $<TARGET_OBJECTS:keep_gl_driver>)
      if(libraries)
        target_link_options(${target} PRIVATE "LINKER:--push-state,--no-as-needed" ${libraries}
                            "LINKER:--pop-state")
      endif()
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    _vantisol_add_keeper(${subdirectory} "${libraries}")
  endforeach()
endfunction()

# Every third-party library comes from the system's packages; nothing is vendored.
find_package(Threads REQUIRED)
if(WIN32)
  # The Windows build uses the host's header-only libraries (Boost, easylogging++) through a
  # folder of links, so that /usr/include's Linux headers never shadow mingw-w64's own.
  set(VANTISOL_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${VANTISOL_HOST_HEADERS})
  foreach(entry boost easylogging++.h easylogging++.cc)
    if(NOT EXISTS ${VANTISOL_HOST_HEADERS}/${entry})
      file(CREATE_LINK /usr/include/${entry} ${VANTISOL_HOST_HEADERS}/${entry} SYMBOLIC)
    endif()
  endforeach()
  add_library(Boost::boost INTERFACE IMPORTED)
  set_target_properties(Boost::boost PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${VANTISOL_HOST_HEADERS})
else()
  find_package(Boost 1.74 REQUIRED)
endif()

if(NOT WIN32)
  find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Network)
  find_package(OpenCV 4 REQUIRED COMPONENTS core imgproc imgcodecs highgui)
  find_package(Eigen3 3.3 REQUIRED NO_MODULE)
  find_package(OpenMP REQUIRED)
  find_package(glbinding REQUIRED)
  find_package(RapidJSON REQUIRED)

  find_path(LODEPNG_INCLUDE_DIR lodepng.h REQUIRED)
  find_library(LODEPNG_LIBRARY lodepng REQUIRED)
  add_library(lodepng::lodepng UNKNOWN IMPORTED)
  set_target_properties(lodepng::lodepng PROPERTIES IMPORTED_LOCATION ${LODEPNG_LIBRARY}
                                                    INTERFACE_INCLUDE_DIRECTORIES ${LODEPNG_INCLUDE_DIR})
endif()

if(VANTISOL_BUILD_TESTS AND WIN32)
  # GoogleTest built from the host's sources with the cross compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(library gtest gtest_main gmock)
    target_compile_options(${library} PRIVATE -w)
    add_library(GTest::${library} ALIAS ${library})
  endforeach()
elseif(VANTISOL_BUILD_TESTS)
  find_package(GTest REQUIRED CONFIG)
  include(GoogleTest)
endif()
if(VANTISOL_BUILD_BENCHMARKS AND NOT WIN32)
  find_package(benchmark REQUIRED)
endif()

# easylogging++ ships as one source file: compile it once for every binary of the project.
find_file(EASYLOGGINGPP_SOURCE easylogging++.cc PATHS /usr/include REQUIRED NO_CMAKE_FIND_ROOT_PATH)
if(WIN32)
  set(EASYLOGGINGPP_SOURCE ${VANTISOL_HOST_HEADERS}/easylogging++.cc)
endif()
add_library(easyloggingpp STATIC ${EASYLOGGINGPP_SOURCE})
get_filename_component(EASYLOGGINGPP_INCLUDE_DIR ${EASYLOGGINGPP_SOURCE} DIRECTORY)
target_include_directories(easyloggingpp SYSTEM PUBLIC ${EASYLOGGINGPP_INCLUDE_DIR})
set_target_properties(easyloggingpp PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_compile_definitions(easyloggingpp
  PUBLIC ELPP_THREAD_SAFE ELPP_NO_DEFAULT_LOG_FILE ELPP_NO_CHECK_MACROS
  # A failed check is a report, never a way out (the plug-in lives inside other programs); every
  # line is flushed so that the log holds the last words before a crash.
  PRIVATE AUTO_INITIALIZE_EASYLOGGINGPP "ELPP_DEFAULT_LOGGING_FLAGS=24")
target_compile_options(easyloggingpp PRIVATE -w)
target_link_libraries(easyloggingpp PUBLIC Threads::Threads)

# Helpers shared by every folder's CMakeLists.txt.
#
# Each source folder is one target whose public include path is its own folder, so a file sees
# only the headers of the targets its target links. Header names are unique across the tree.

# vant_library(<target> SOURCES ... [LINKS ...] [PRIVATE_LINKS ...])
function(vant_library target)
  cmake_parse_arguments(A "" "" "SOURCES;LINKS;PRIVATE_LINKS" ${ARGN})
  add_library(${target} STATIC ${A_SOURCES})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${A_LINKS} PRIVATE ${A_PRIVATE_LINKS})
endfunction()

# vant_test(<name> LABEL unit|gui|audio|interop [thread] SOURCES ... LINKS ... [ENV k=v ...])
# One GoogleTest executable per source folder; each test case is registered with CTest.
# The label `thread` adds the executable to the ThreadSanitizer run of CI. For each label the
# target tests_<label> builds just the executables that carry it.
function(vant_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "LABEL;SOURCES;LINKS;ENV" ${ARGN})
  foreach(l IN LISTS A_LABEL)
    set_property(GLOBAL APPEND PROPERTY VANT_TESTS_${l} ${name})
  endforeach()
  find_package(GTest REQUIRED)
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LINKS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE
    VANT_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VANT_BINARY_DIR="${CMAKE_BINARY_DIR}")
  target_compile_options(${name} PRIVATE ${VANT_TEST_COMPILE_OPTIONS})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set(env QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy ${A_ENV})
  # gtest_discover_tests splits list values given in PROPERTIES, so the labels and the
  # environment are set by a file CTest includes after the discovered tests.
  include(GoogleTest)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    TEST_LIST ${name}_TESTS
    PROPERTIES TIMEOUT ${A_TIMEOUT})
  set(props ${CMAKE_CURRENT_BINARY_DIR}/${name}_props.cmake)
  file(WRITE ${props}
    "set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${A_LABEL}\" ENVIRONMENT \"${env}\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props})
endfunction()

# vant_fuzzer(<name> SOURCES ... LINKS ...): a libFuzzer target, built only with VANT_FUZZ.
function(vant_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LINKS" ${ARGN})
  if(NOT VANT_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/fuzz_leaks.cpp)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_LINKS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  set_property(GLOBAL APPEND PROPERTY VANT_FUZZERS ${name})
endfunction()

# vant_bench(<name> SOURCES ... LINKS ...): a Google Benchmark program.
function(vant_bench name)
  cmake_parse_arguments(A "" "" "SOURCES;LINKS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LINKS} benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE VANT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endfunction()

# Subfolders of the current folder that have a CMakeLists.txt, added in name order.
macro(vant_add_subfolders)
  file(GLOB_RECURSE _lists RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT _lists)
  foreach(_l IN LISTS _lists)
    get_filename_component(_d ${_l} DIRECTORY)
    add_subdirectory(${_d})
  endforeach()
endmacro()

# Called once at the end of the top-level list: tests_<label> and fuzzers_all targets.
function(vant_aggregate_targets)
  foreach(l unit gui audio interop thread)
    get_property(t GLOBAL PROPERTY VANT_TESTS_${l})
    add_custom_target(tests_${l})
    if(t)
      add_dependencies(tests_${l} ${t})
    endif()
  endforeach()
  get_property(f GLOBAL PROPERTY VANT_FUZZERS)
  add_custom_target(fuzzers_all)
  if(f)
    add_dependencies(fuzzers_all ${f})
  endif()
endfunction()

# vant_header_check(FOLDERS <folder>... [PRIVATE_HEADERS <folder/header>...]): part of the
# default build. Every header of each library folder is compiled on its own (included twice, so a
# missing guard shows too) with only what linking the folder's libraries gives, and all headers of
# all the folders are compiled together in one file, so two headers that clash cannot both stay.
# A header private to its folder is compiled with the folder's private links as well.
function(vant_header_check)
  cmake_parse_arguments(A "" "" "FOLDERS;PRIVATE_HEADERS" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/header_check)
  set(all_lines "// Generated: every library header in one translation unit.\n")
  set(all_libs "")
  foreach(dir IN LISTS A_FOLDERS)
    get_property(targets DIRECTORY ${CMAKE_SOURCE_DIR}/${dir} PROPERTY BUILDSYSTEM_TARGETS)
    set(libs "")
    set(private_libs "")
    foreach(t IN LISTS targets)
      get_target_property(type ${t} TYPE)
      if(type STREQUAL "STATIC_LIBRARY")
        list(APPEND libs ${t})
        get_target_property(links ${t} LINK_LIBRARIES)
        if(links)
          list(APPEND private_libs ${links})
        endif()
      endif()
    endforeach()
    if(NOT libs)
      continue()
    endif()
    list(APPEND all_libs ${libs})
    string(MAKE_C_IDENTIFIER ${dir} id)
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/${dir}
         ${CMAKE_SOURCE_DIR}/${dir}/*.h)
    set(public_sources "")
    set(private_sources "")
    foreach(h IN LISTS headers)
      set(src ${root}/${id}/${h}.cpp)
      file(CONFIGURE OUTPUT ${src} CONTENT "#include \"${h}\"\n#include \"${h}\"\n" @ONLY)
      string(APPEND all_lines "#include \"${h}\"\n")
      if("${dir}/${h}" IN_LIST A_PRIVATE_HEADERS)
        list(APPEND private_sources ${src})
        list(APPEND all_libs ${private_libs})
      else()
        list(APPEND public_sources ${src})
      endif()
    endforeach()
    add_library(header_check_${id} OBJECT ${public_sources})
    target_link_libraries(header_check_${id} PRIVATE ${libs})
    if(private_sources)
      add_library(header_check_${id}_private OBJECT ${private_sources})
      target_link_libraries(header_check_${id}_private PRIVATE ${libs} ${private_libs})
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${root}/all_headers.cpp CONTENT "${all_lines}" @ONLY)
  add_library(header_check_all OBJECT ${root}/all_headers.cpp)
  list(REMOVE_DUPLICATES all_libs)
  target_link_libraries(header_check_all PRIVATE ${all_libs})
endfunction()

# Shared build settings and helpers for every target of the project.

# Warnings are errors for our own code; generated code (protobuf) opts out
# by not calling vxm_strict().
function(vxm_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(VXM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VXM_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

set(VXM_TEST_RUNNER "${CMAKE_SOURCE_DIR}/tests/common/isolated.sh")

# vxm_add_test(NAME name COMMAND cmd... [LABELS l...] [TIMEOUT s])
# Every test runs through isolated.sh, which gives it a private TMPDIR,
# HOME and VXM_CONFIG_DIR and removes them afterwards, so no test writes
# outside its own directory.
function(vxm_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;LABELS" ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${VXM_TEST_RUNNER} ${T_COMMAND})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# vxm_gtest(name sources... LIBS libs...): a GoogleTest program for Qt-free code.
function(vxm_gtest name)
  cmake_parse_arguments(G "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${G_SOURCES})
  vxm_strict(${name})
  target_link_libraries(${name} PRIVATE ${G_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  vxm_add_test(NAME ${name} COMMAND $<TARGET_FILE:${name}> LABELS unit ${G_LABELS})
endfunction()

# vxm_qtest(name sources... LIBS libs...): a QtTest program (offscreen platform).
function(vxm_qtest name)
  cmake_parse_arguments(Q "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${Q_SOURCES})
  vxm_strict(${name})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${Q_LIBS} Qt5::Test)
  vxm_add_test(NAME ${name} COMMAND $<TARGET_FILE:${name}> LABELS unit ${Q_LABELS})
endfunction()

# vxm_static_library(name sources...): a static library of our own code with
# the strict warnings; an interface library while a folder has no sources yet.
function(vxm_static_library name)
  if(ARGN)
    add_library(${name} STATIC ${ARGN})
    vxm_strict(${name})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    set(VXM_LIB_SCOPE PUBLIC PARENT_SCOPE)
  else()
    add_library(${name} INTERFACE)
    set(VXM_LIB_SCOPE INTERFACE PARENT_SCOPE)
  endif()
endfunction()

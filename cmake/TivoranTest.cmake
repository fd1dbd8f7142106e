# tivoran_gtest(NAME LABEL <label> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable, registered with CTest under one label
# (calc, core, disk, sql, access).
function(tivoran_gtest name)
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main tivoran_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT 600)
endfunction()

# tivoran_qttest(NAME LABEL <label> SOURCES <files...> LIBS <targets...>)
# One QtTest executable run on the offscreen platform.
function(tivoran_qttest name)
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test Qt6::Widgets tivoran_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# cmake -DCLANG_FORMAT=path -DSOURCE_DIR=dir -P CheckFormat.cmake
# Fails when a C++ file of the project differs from what .clang-format makes of it.
file(GLOB_RECURSE sources
    "${SOURCE_DIR}/app/*.cpp" "${SOURCE_DIR}/app/*.h"
    "${SOURCE_DIR}/common/*.cpp" "${SOURCE_DIR}/common/*.h"
    "${SOURCE_DIR}/bench/*.cpp" "${SOURCE_DIR}/bench/*.h"
    "${SOURCE_DIR}/ras/*.cpp" "${SOURCE_DIR}/ras/*.h"
    "${SOURCE_DIR}/routing/*.cpp" "${SOURCE_DIR}/routing/*.h"
    "${SOURCE_DIR}/testing/*.cpp" "${SOURCE_DIR}/testing/*.h"
    "${SOURCE_DIR}/tests/*.cpp" "${SOURCE_DIR}/tests/*.h")
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run -Werror ${sources} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "Run clang-format -i on the files above.")
endif()

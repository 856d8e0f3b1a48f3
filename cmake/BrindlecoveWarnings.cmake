# Warnings are errors on every compiler the project builds with (g++, mingw-w64 g++, clang++).
add_library(brindlecove_warnings INTERFACE)
target_compile_options(brindlecove_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast -Wnon-virtual-dtor
    -Woverloaded-virtual -Wimplicit-fallthrough)

# Shared compile settings for every Quorvel target.
add_library(quorvel_options INTERFACE)
target_compile_options(quorvel_options INTERFACE
  -Wall -Wextra -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
target_compile_definitions(quorvel_options INTERFACE
  QT_USE_QSTRINGBUILDER)
# In a unity build a source file is no longer the compiler's main file, and GCC then warns about
# every coroutine frame or lambda that holds a type of the file's anonymous namespace, which is
# only a problem for types in headers. Compiled one by one, the same code has no such warning.
if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(quorvel_options INTERFACE -Wno-subobject-linkage)
endif()
if(QUORVEL_SANITIZE)
  target_compile_options(quorvel_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(quorvel_options INTERFACE -fsanitize=address,undefined)
endif()

# quorvel_add_layer(NAME SOURCES ... LIBS ...): one static library per layer.
function(quorvel_add_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
  target_link_libraries(${name} PUBLIC quorvel_options ${ARG_LIBS})
endfunction()

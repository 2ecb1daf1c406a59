# The compile and link options of every program: the main project's and the
# benchmark's (bench/), so that a floor program differs from its contender only
# in what it does. Included right after project().
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

# Every program and test lands in one directory, so that a test finds the
# programs it starts beside itself, on Wine and on Windows alike.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_compile_options(-Wall -Wextra)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _CRT_SECURE_NO_WARNINGS)
# Static runtime: the programs import only DLLs that Windows itself ships.
add_link_options(-static -static-libgcc -static-libstdc++)
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  add_compile_options(-Os -ffunction-sections -fdata-sections)
  add_link_options(-s -Wl,--gc-sections)
endif()

# The shipped programs and their tests only; the benchmark's floors go without
# it, since a floor is the least program that does the work.
macro(tasktools_harden)
  # Hardening, in every build: the stack protector (GCC's counterpart of MSVC's
  # /GS; given to the link too, which then links GCC's libssp statically), and
  # the loader features that Windows expects: ASLR with relocations kept, DEP,
  # and on 64-bit the high-entropy ASLR.
  add_compile_options(-fstack-protector-strong)
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
  endif()
  # Reproducible: the same commit gives the same bytes wherever it is built. No
  # time stamp in the PE header, and no build path in anything __FILE__-like
  # (the build tree's map comes last so that it wins when the tree is inside
  # the source).
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
  add_link_options(-Wl,--no-insert-timestamp)
endmacro()

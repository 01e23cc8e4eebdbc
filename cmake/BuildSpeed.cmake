# What keeps a fresh build tree (a new clone, CI) quick on a small machine.
# `make test` builds three trees from nothing; most of that time went on
# reading the Qt and gtest headers again for every source file and on linking
# some seventy programs with full debug information.
#
# - lld links where it is installed (scripts/install-deps installs it);
#   otherwise the compiler's default linker does.
# - The sanitizer trees keep line tables only (-g1): their reports still name
#   function, file and line, and there is far less to write and link.
# - In the sanitizer trees the code that runs per sample (the stroke
#   detectors, and the drum recordings the tests render) is compiled at -O1:
#   unoptimised and instrumented it made the detector tests twenty times
#   slower than the main tree's. The rest stays at -O0, which compiles in
#   two thirds of the time.
# - Unity builds: each target compiles its sources a few at a time as one
#   file, so the headers are read once per batch. A source that must stay on
#   its own (per-file options such as -ffp-contract=off already keep it out)
#   gets SKIP_UNITY_BUILD_INCLUSION. A tree with a compiler launcher (ccache)
#   builds file by file, so that one changed file recompiles alone;
#   -DTEMPOVARO_UNITY=ON/OFF chooses either way.
# - Each source of a QObject class includes its moc file at its end, so the
#   moc code compiles in the source's own batch; otherwise every library
#   compiles one more file (mocs_compilation.cpp) that reads Qt's headers
#   again.
# - Precompiled headers for the test programs (tests/CMakeLists.txt), in the
#   same trees as unity builds: ccache does not cache a compile that reads a
#   precompiled header unless it is configured to; -DTEMPOVARO_PCH=ON/OFF.

set(unity_default ON)
if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(unity_default OFF)
endif()
option(TEMPOVARO_UNITY "Compile each target's sources in batches (unity build)" ${unity_default})
option(TEMPOVARO_PCH "Precompile the headers the test programs share" ${unity_default})
option(TEMPOVARO_LLD "Link with lld when it is installed" ON)

if(TEMPOVARO_LLD)
  include(CheckLinkerFlag)
  check_linker_flag(CXX -fuse-ld=lld TEMPOVARO_HAVE_LLD)
  if(TEMPOVARO_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()

if(TEMPOVARO_ASAN OR TEMPOVARO_TSAN)
  add_compile_options($<$<CONFIG:Debug>:-g1>)
endif()

if(TEMPOVARO_UNITY)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE 8)
  # Inside a unity file every source reads as a header, so a test class
  # derived from a fixture in an anonymous namespace would warn.
  add_compile_options(-Wno-subobject-linkage)
endif()

# After the targets exist: the sources that share a file-local name with
# another source of their target (each player keeps its own buffer sizes,
# each trigger device its own memory order) compile on their own. A shared
# name is found by the compiler as a redefinition or an ambiguity, or, for
# an overload, as an unused function (-Wunused-function): a call must never
# bind to another file's helper.
function(tempovaro_unity_apart)
  if(NOT TEMPOVARO_UNITY)
    return()
  endif()
  set_source_files_properties(src/capture/QX_ClickPlayer.cpp TARGET_DIRECTORY tempovaro_capture
    PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  set_source_files_properties(src/trigger/QX_TriggerDevice.cpp TARGET_DIRECTORY tempovaro_trigger
    PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  # Two sources, each with its own number grouping.
  set_target_properties(tempovaro_competition PROPERTIES UNITY_BUILD OFF)
endfunction()

# After the tests exist: the per-sample code of the sanitizer trees at -O1.
function(tempovaro_sanitizer_hot_code)
  if(NOT (TEMPOVARO_ASAN OR TEMPOVARO_TSAN))
    return()
  endif()
  foreach(target tempovaro_trigger tempovaro_test_recordings)
    if(TARGET ${target})
      target_compile_options(${target} PRIVATE $<$<CONFIG:Debug>:-O1>)
    endif()
  endforeach()
endfunction()

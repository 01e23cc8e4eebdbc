# What keeps a fresh build tree (a new clone, CI) quick on a small machine.
# `make test` builds three trees from nothing; most of that time went on
# reading the Qt and gtest headers again for every source file and on linking
# some seventy programs with full debug information.
#
# - lld links where it is installed (scripts/install-deps installs it);
#   otherwise the compiler's default linker does.
# - The sanitizer trees and the RelWithDebInfo tree keep line tables only
#   (-g1): their reports, stacks and profiles still name function, file and
#   line, and there is far less to write and link. A Debug tree (without a
#   sanitizer) keeps everything, to step through.
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
# - Precompiled headers, in the same trees as unity builds: ccache does not
#   cache a compile that reads a precompiled header unless it is configured
#   to; -DTEMPOVARO_PCH=ON/OFF. The program's libraries and tools share two
#   (tempovaro_src_pch below), the test programs two more
#   (tests/CMakeLists.txt): reading Qt's headers again took about two
#   seconds of every Qt source batch, in each of the three trees.

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
add_compile_options($<$<CONFIG:RelWithDebInfo>:-g1>)

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

# Whether LIBS bring Qt's COMPONENT (Widgets, Core) with its headers and
# macros, through public links as compile definitions travel.
function(tempovaro_links_qt result component)
  set(seen)
  set(queue ${ARGN})
  while(queue)
    list(POP_FRONT queue lib)
    if(lib IN_LIST seen OR NOT TARGET ${lib})
      continue()
    endif()
    list(APPEND seen ${lib})
    if(lib MATCHES "^Qt6?::${component}$")
      set(${result} ON PARENT_SCOPE)
      return()
    endif()
    get_target_property(links ${lib} INTERFACE_LINK_LIBRARIES)
    if(links)
      list(FILTER links EXCLUDE REGEX "^\\$<")
      list(APPEND queue ${links})
    endif()
  endwhile()
  set(${result} OFF PARENT_SCOPE)
endfunction()

# After the program's targets exist: each library and tool that compiles
# against Qt reads the standard library and Qt's headers from one of two
# precompiled headers, Widgets or Core, made once per tree with its flags.
# GCC takes a precompiled header only when every macro it was made with is
# defined alike where it is read, and with the same -fpic: so both are made
# with -pthread (its _REENTRANT; RtMidi asks for it, and the targets that
# read them get it too) and Qt's -fPIC, and with no macro of a target's own.
# CMake adds -Winvalid-pch: it names a source for which GCC reads the
# headers instead.
function(tempovaro_src_pch)
  if(NOT TEMPOVARO_PCH)
    return()
  endif()
  set(std <algorithm> <array> <atomic> <chrono> <cmath> <cstdint> <cstdio> <cstdlib>
    <cstring> <functional> <memory> <optional> <string> <vector>)
  set(core <QByteArray> <QDate> <QDateTime> <QDir> <QFile> <QFileInfo> <QList> <QLocale>
    <QObject> <QString> <QStringList> <QTimer> <QVariant>)
  set(widgets <QApplication> <QColor> <QComboBox> <QDialog> <QFrame> <QHBoxLayout> <QImage>
    <QKeyEvent> <QLabel> <QPainter> <QPushButton> <QVBoxLayout> <QWidget>)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/src_pch.cpp CONTENT "")
  foreach(kind Core Widgets)
    set(pch tempovaro_src_pch_${kind})
    add_library(${pch} OBJECT ${PROJECT_BINARY_DIR}/src_pch.cpp)
    target_link_libraries(${pch} PRIVATE Qt6::${kind})
    set_target_properties(${pch} PROPERTIES AUTOMOC OFF)
    target_compile_options(${pch} PRIVATE -pthread)
  endforeach()
  target_precompile_headers(tempovaro_src_pch_Core PRIVATE ${std} ${core})
  target_precompile_headers(tempovaro_src_pch_Widgets PRIVATE ${std} ${core} ${widgets})

  foreach(target IN LISTS ARGN)
    get_target_property(links ${target} LINK_LIBRARIES)
    tempovaro_links_qt(widgets Widgets ${links})
    tempovaro_links_qt(core Core ${links})
    if(widgets)
      set(kind Widgets)
    elseif(core)
      set(kind Core)
    else()
      continue()
    endif()
    target_compile_options(${target} PRIVATE -pthread)
    target_precompile_headers(${target} REUSE_FROM tempovaro_src_pch_${kind})
  endforeach()
endfunction()

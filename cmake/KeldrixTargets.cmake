# Build conventions shared by every target, and the subsystem libraries of what ships.

# Our own targets: warnings are errors, Unicode Windows API, Windows 10 headers.
function(keldrix_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  # One self-contained file: no MinGW runtime DLLs beside the executable.
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()

# What ships runs on one thread: a function's static needs no lock on its first use. The
# runtime's lock for it (winpthreads) aborts or crashes when Windows refuses it memory, an event
# or a duplicated handle, before the helper could report anything.
function(keldrix_shipped_code target)
  target_compile_options(${target} PRIVATE -fno-threadsafe-statics)
endfunction()

# keldrix_subsystem(<folder> SOURCES <files> [DEPENDS <subsystems>] [LIBRARIES <system libraries>])
# One static library, keldrix_<folder>, from src/<folder>. It links exactly the subsystems it
# builds on; its files may include only their own folder and those below it, which is checked
# here, so an include that points up fails the configure step.
function(keldrix_subsystem folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;DEPENDS;LIBRARIES")
  set(directory ${PROJECT_SOURCE_DIR}/src/${folder})
  list(TRANSFORM arg_SOURCES PREPEND ${directory}/)
  add_library(keldrix_${folder} STATIC ${arg_SOURCES})
  keldrix_target_defaults(keldrix_${folder})
  keldrix_shipped_code(keldrix_${folder})
  target_include_directories(keldrix_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(keldrix_${folder} PUBLIC UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  set(reachable ${folder})
  foreach(dependency IN LISTS arg_DEPENDS)
    target_link_libraries(keldrix_${folder} PUBLIC keldrix_${dependency})
    get_property(below GLOBAL PROPERTY KELDRIX_REACHABLE_${dependency})
    list(APPEND reachable ${below})
  endforeach()
  list(REMOVE_DUPLICATES reachable)
  set_property(GLOBAL PROPERTY KELDRIX_REACHABLE_${folder} ${reachable})
  set_property(GLOBAL APPEND PROPERTY KELDRIX_SUBSYSTEMS ${folder})
  if(arg_LIBRARIES)
    target_link_libraries(keldrix_${folder} PUBLIC ${arg_LIBRARIES})
  endif()

  file(GLOB files CONFIGURE_DEPENDS ${directory}/*.h ${directory}/*.cpp)
  keldrix_require_includes_within("${files}" "${reachable}" "points up or sideways: ${folder} builds on")
endfunction()

# keldrix_check_includes(<file globs> ALLOWED <folders>)
# What is not shipped may include what ships (every subsystem of src/) and the folders named
# here, never another tree's private files: checked here, so that such an include fails the
# configure step. Includes without a folder are a file's own neighbours.
function(keldrix_check_includes)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "ALLOWED")
  get_property(subsystems GLOBAL PROPERTY KELDRIX_SUBSYSTEMS)
  file(GLOB files CONFIGURE_DEPENDS ${arg_UNPARSED_ARGUMENTS})
  keldrix_require_includes_within("${files}" "${subsystems};${arg_ALLOWED}" "reaches into another tree: it may include")
endfunction()

# Fails the configure step, saying `complaint` and the allowed folders, when one of `files`
# includes a header of a folder outside `allowed`.
function(keldrix_require_includes_within files allowed complaint)
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^#include \"[a-z-]+/")
    foreach(include IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z-]+)/.*" "\\1" included ${include})
      if(NOT included IN_LIST allowed)
        message(FATAL_ERROR "${file}: '${include}' ${complaint} ${allowed} only")
      endif()
    endforeach()
  endforeach()
endfunction()

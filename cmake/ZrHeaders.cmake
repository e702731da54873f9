# Each library compiles against its own headers and those of the libraries it
# links, never against the whole source tree: an include of a layer above it
# fails to compile. The headers are linked (symlinks, so "#pragma once" sees
# one file) under build/include/<name>/ with their paths from the source root,
# and the globs are checked at every build, so a new header is found without
# touching the lists.

# zr_stage_headers(<name> <folder>... [RECURSE]): links the *.h of the given
# folders (relative to the source root) under build/include/<name>/ and sets
# <name>_INCLUDE_DIR in the caller's scope.
function(zr_stage_headers name)
  cmake_parse_arguments(S "RECURSE" "" "" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/include/${name})
  file(REMOVE_RECURSE ${root})
  foreach(folder ${S_UNPARSED_ARGUMENTS})
    if(S_RECURSE)
      file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    else()
      file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    endif()
    foreach(header ${headers})
      get_filename_component(dir ${root}/${header} DIRECTORY)
      file(MAKE_DIRECTORY ${dir})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${header} ${root}/${header} SYMBOLIC)
    endforeach()
  endforeach()
  file(MAKE_DIRECTORY ${root})
  set(${name}_INCLUDE_DIR ${root} PARENT_SCOPE)
endfunction()

# zr_library_headers(<target>): the library's public include folder holds
# the headers of the folder its CMakeLists.txt is in, and only those.
function(zr_library_headers target)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  zr_stage_headers(${target} ${folder})
  target_include_directories(${target} PUBLIC ${${target}_INCLUDE_DIR})
endfunction()

# Header-only libraries from the build machine's /usr/include for a cross build. Their CMake
# packages lie outside the cross compiler's root and would put the whole of /usr/include on the
# include path, where the host's C library headers shadow the target's. Instead each library gets
# a folder of its own in the build tree that holds only a link to its header folder.

# tvx_host_header_library(<target> <header>): defines the imported target <target> (e.g.
# CLI11::CLI11) whose headers are found as <header> (e.g. CLI/CLI.hpp) on the build machine.
function(tvx_host_header_library target header)
  if(TARGET ${target})
    return()
  endif()
  string(MAKE_C_IDENTIFIER "${target}" id)
  find_path(TVX_HOST_${id}_INCLUDE_DIR ${header} NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  cmake_path(GET header PARENT_PATH folder)
  set(dir ${CMAKE_BINARY_DIR}/host-headers/${id})
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${TVX_HOST_${id}_INCLUDE_DIR}/${folder} ${dir}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${dir})
endfunction()

# Build functions shared by the product folders.

# orvel_split_sources(DIR PORTABLE var ADAPTERS var): the .cpp files of DIR, split into
# the platform-independent rules and the adapters over the Windows API (win32_*.cpp).
function(orvel_split_sources dir)
  cmake_parse_arguments(ARG "" "PORTABLE;ADAPTERS" "" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
  file(GLOB adapters CONFIGURE_DEPENDS ${dir}/win32_*.cpp)
  set(portable ${all})
  if(adapters)
    list(REMOVE_ITEM portable ${adapters})
  endif()
  set(${ARG_PORTABLE} ${portable} PARENT_SCOPE)
  set(${ARG_ADAPTERS} ${adapters} PARENT_SCOPE)
endfunction()

# orvel_host_tool(var NAME name SOURCE file [DEPENDS files...]): builds a small program
# with the host's compiler (the cross tree's compiler makes Windows programs, which the
# build cannot run) and sets var to its path, for add_custom_command.
function(orvel_host_tool var)
  cmake_parse_arguments(ARG "" "NAME;SOURCE" "DEPENDS" ${ARGN})
  find_program(ORVEL_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
  set(tool ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME})
  add_custom_command(
    OUTPUT ${tool}
    COMMAND ${ORVEL_HOST_CXX} -std=c++20 -O1 -Wall -Wextra -Werror -I${CMAKE_SOURCE_DIR}
            -o ${tool} ${ARG_SOURCE}
    DEPENDS ${ARG_SOURCE} ${ARG_DEPENDS}
    COMMENT "Building the host tool ${ARG_NAME}"
    VERBATIM)
  set(${var} ${tool} PARENT_SCOPE)
endfunction()

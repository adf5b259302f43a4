# orvel_add_subdirectories(): adds every direct subfolder that has a CMakeLists.txt,
# so that each area's owner keeps its build rules in its own folder.
function(orvel_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# Which folders a folder may include from: the libraries it links, never one above it.
set(VANTORY_INCLUDES_readers readers)
set(VANTORY_INCLUDES_widgets widgets)
set(VANTORY_INCLUDES_model model readers)
set(VANTORY_INCLUDES_engine engine model readers)
set(VANTORY_INCLUDES_app app engine model readers widgets)
set(VANTORY_INCLUDES_cli cli engine model readers)
set(VANTORY_INCLUDE_FOLDERS readers widgets model engine app cli)

# vantory_check_includes(<target> <folder>): before <target> is compiled, every one of its
# listed sources is checked; an include of a folder <folder> may not use fails the build.
function(vantory_check_includes target folder)
  get_target_property(_sources ${target} SOURCES)
  set(_files)
  foreach(s ${_sources})
    if(s MATCHES "\\.(h|cpp)$")
      get_filename_component(_abs ${s} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
      list(APPEND _files ${_abs})
    endif()
  endforeach()
  set(_stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_includes.stamp)
  string(REPLACE ";" "," _allowed "${VANTORY_INCLUDES_${folder}}")
  string(REPLACE ";" "," _folders "${VANTORY_INCLUDE_FOLDERS}")
  string(REPLACE ";" "," _list "${_files}")
  add_custom_command(OUTPUT ${_stamp}
    COMMAND ${CMAKE_COMMAND} -DALLOWED=${_allowed} -DFOLDERS=${_folders} -DFILES=${_list}
            -DSTAMP=${_stamp} -P ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
    DEPENDS ${_files} ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
    COMMENT "Checking the includes of ${target}"
    VERBATIM)
  add_custom_target(${target}_includes DEPENDS ${_stamp})
  add_dependencies(${target} ${target}_includes)
endfunction()

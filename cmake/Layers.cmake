# An include root per layer: a directory in the build tree holding links to the source folders
# (or single files) the layer may include from, and nothing else. Includes are written from the
# source root ("serial/port_state.h", "app/cli/board_run.h"), so putting the source root itself
# on a target's path would let it reach every folder; with these roots an include that points
# upwards, or sideways into another front end, finds no file. No target has the source root.
#
# zq_layer_root(<layer> <path>...) sets ZQ_LAYER_ROOT_<layer> to the root; a path may be nested
# ("app/cli") or name one file ("app/version.h").
get_filename_component(ZQ_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

function(zq_layer_root layer)
  set(root "${CMAKE_BINARY_DIR}/layers/${layer}")
  file(MAKE_DIRECTORY "${root}")
  # The links made last time: one that is no longer wanted must not stay reachable.
  set(manifest "${root}/.links")
  set(before "")
  if(EXISTS "${manifest}")
    file(STRINGS "${manifest}" before)
  endif()
  foreach(path IN LISTS before)
    if(NOT path IN_LIST ARGN)
      file(REMOVE "${root}/${path}")
    endif()
  endforeach()
  foreach(path IN LISTS ARGN)
    get_filename_component(parent "${root}/${path}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    if(NOT IS_SYMLINK "${root}/${path}")
      file(CREATE_LINK "${ZQ_SOURCE_ROOT}/${path}" "${root}/${path}" SYMBOLIC)
    endif()
  endforeach()
  string(REPLACE ";" "\n" lines "${ARGN}")
  file(WRITE "${manifest}" "${lines}\n")
  set(ZQ_LAYER_ROOT_${layer} "${root}" PARENT_SCOPE)
endfunction()

# The folders of the core, for everything built on it.
set(ZQ_CORE_FOLDERS text job owner serial image protocol transfer)

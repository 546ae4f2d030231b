# An include root per layer: a directory in the build tree holding links to the source folders
# the layer may include from, and nothing else. Includes are written from the source root
# ("serial/port_state.h"), so putting the source root itself on a layer's path would let it
# reach every folder; with these roots an include that points upwards finds no file.
#
# zq_layer_root(<layer> <folder>...) sets ZQ_LAYER_ROOT_<layer> to the root.
function(zq_layer_root layer)
  set(root "${CMAKE_BINARY_DIR}/layers/${layer}")
  file(MAKE_DIRECTORY "${root}")
  file(GLOB stale LIST_DIRECTORIES true "${root}/*")
  foreach(folder IN LISTS ARGN)
    list(REMOVE_ITEM stale "${root}/${folder}")
    if(NOT IS_SYMLINK "${root}/${folder}")
      file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
    endif()
  endforeach()
  # A folder a layer no longer may see must not stay reachable from an earlier configure.
  foreach(link IN LISTS stale)
    file(REMOVE "${link}")
  endforeach()
  set(ZQ_LAYER_ROOT_${layer} "${root}" PARENT_SCOPE)
endfunction()

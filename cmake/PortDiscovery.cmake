# Serial port discovery and its system backend: udev on Linux (the list and the plug events),
# SetupAPI on Windows; on Linux also the boards zq417-sim announces. Also the Linux low-latency
# switch the POSIX backend uses at open.
function(zq_add_port_discovery target)
  target_sources(${target} PRIVATE "${CMAKE_SOURCE_DIR}/serial/port_discovery.cpp")
  if(WIN32)
    target_sources(${target} PRIVATE
      "${CMAKE_SOURCE_DIR}/serial/win32/port_discovery_setupapi.cpp"
      "${CMAKE_SOURCE_DIR}/serial/win32/com_ports.cpp")
    target_link_libraries(${target} PUBLIC setupapi)
  else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)
    target_sources(${target} PRIVATE
      "${CMAKE_SOURCE_DIR}/serial/posix/port_discovery_udev.cpp"
      "${CMAKE_SOURCE_DIR}/serial/posix/com_ports.cpp"
      "${CMAKE_SOURCE_DIR}/serial/posix/port_users.cpp"
      "${CMAKE_SOURCE_DIR}/serial/posix/low_latency.cpp"
      "${CMAKE_SOURCE_DIR}/serial/posix/combined_watcher.cpp"
      "${CMAKE_SOURCE_DIR}/serial/virtual_boards.cpp"
      "${CMAKE_SOURCE_DIR}/serial/posix/virtual_board_files.cpp"
      "${CMAKE_SOURCE_DIR}/serial/posix/virtual_board_watch.cpp")
    target_link_libraries(${target} PRIVATE PkgConfig::LIBUDEV)
  endif()
endfunction()

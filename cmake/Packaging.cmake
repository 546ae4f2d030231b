# What a technician installs: on Linux a Debian package (the window, zq417-flash, zq417-sim,
# manual pages, bash completion, desktop entry and icon, README, copyright, changelog, the
# station's systemd unit and its example settings), on
# Windows a zip of the two .exe files with a plain-text README and the licence. scripts/package
# builds both with CPack from the "release" and "windows" presets.

include(GNUInstallDirs)

set(ZQ_PACKAGE_NAME firmware-updater)
set(ZQ_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")
set(ZQ_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/${ZQ_PACKAGE_NAME}")

# The product's texts come from the one version header the programs use.
file(STRINGS "${PROJECT_SOURCE_DIR}/app/version_rc.h" zq_version_lines REGEX "^#define ZQ_")
foreach(line IN LISTS zq_version_lines)
  if(line MATCHES "^#define (ZQ_[A-Z_]+) \"([^\"]*)\"")
    set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()
if(NOT ZQ_VERSION_NUMBER STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "app/version_rc.h says ${ZQ_VERSION_NUMBER}, the project ${PROJECT_VERSION}")
endif()

include("${PROJECT_SOURCE_DIR}/cmake/ExitStatuses.cmake")

if(NOT WIN32)
  set(zq_build_dir "${CMAKE_BINARY_DIR}/packaging")

  # Manual pages: the two command-line programs' pages come from their --help, the window's from
  # its own source, since it reads no command line.
  find_program(ZQ_HELP2MAN help2man)
  find_program(ZQ_GZIP gzip REQUIRED)
  set(zq_man_default OFF)
  if(ZQ_HELP2MAN)
    set(zq_man_default ON)
  endif()
  option(ZQ_MAN_PAGES "Build the manual pages (the command-line ones need help2man)"
         ${zq_man_default})
  if(ZQ_MAN_PAGES AND NOT ZQ_HELP2MAN)
    message(FATAL_ERROR "ZQ_MAN_PAGES is on but help2man was not found (apt install help2man)")
  endif()

  set(zq_packaging_outputs "")
  if(ZQ_MAN_PAGES)
    set(zq_man_name_zq417-flash "install firmware on a ZQ417 board over RS-232 from the command line")
    set(zq_man_name_zq417-sim "a virtual ZQ417 board on a pseudo-terminal")
    foreach(program zq417-flash zq417-sim)
      set(page "${zq_build_dir}/man/${program}.1.gz")
      add_custom_command(
        OUTPUT "${page}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${zq_build_dir}/man"
        COMMAND "${CMAKE_COMMAND}" "-DPROGRAM=$<TARGET_FILE:${program}>"
                "-DNAME=${zq_man_name_${program}}" "-DINCLUDE=${ZQ_PACKAGING_DIR}/man/${program}.h2m"
                "-DVERSION=${PROJECT_VERSION}" "-DOUTPUT=${page}" "-DHELP2MAN=${ZQ_HELP2MAN}"
                "-DGZIP=${ZQ_GZIP}" -P "${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake"
        DEPENDS ${program} "${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake"
                "${ZQ_PACKAGING_DIR}/man/${program}.h2m"
        COMMENT "Writing the manual page of ${program} from its --help"
        VERBATIM)
      list(APPEND zq_packaging_outputs "${page}")
    endforeach()

    # SOURCE_DATE_EPOCH, when set, makes the date reproducible.
    string(TIMESTAMP ZQ_MAN_DATE "%B %Y" UTC)
    configure_file("${ZQ_PACKAGING_DIR}/man/firmware-updater.1.in"
                   "${zq_build_dir}/man/firmware-updater.1" @ONLY)
    add_custom_command(
      OUTPUT "${zq_build_dir}/man/firmware-updater.1.gz"
      # To a copy: the page itself must stay, or the next build would miss its input.
      COMMAND "${ZQ_GZIP}" -9n -c "${zq_build_dir}/man/firmware-updater.1" >
              "${zq_build_dir}/man/firmware-updater.1.gz"
      DEPENDS "${zq_build_dir}/man/firmware-updater.1"
      VERBATIM)
    list(APPEND zq_packaging_outputs "${zq_build_dir}/man/firmware-updater.1.gz")

    install(FILES ${zq_packaging_outputs} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  endif()

  # The changelog must name the version being built, or the package would claim another.
  file(STRINGS "${ZQ_PACKAGING_DIR}/debian/changelog" zq_changelog_top LIMIT_COUNT 1)
  if(NOT zq_changelog_top MATCHES "^${ZQ_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog does not start with version "
                        "${PROJECT_VERSION}: add an entry for it")
  endif()
  add_custom_command(
    OUTPUT "${zq_build_dir}/changelog.gz"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${zq_build_dir}"
    COMMAND "${ZQ_GZIP}" -9n -c "${ZQ_PACKAGING_DIR}/debian/changelog" > "${zq_build_dir}/changelog.gz"
    DEPENDS "${ZQ_PACKAGING_DIR}/debian/changelog"
    VERBATIM)
  list(APPEND zq_packaging_outputs "${zq_build_dir}/changelog.gz")
  add_custom_target(packaging-files ALL DEPENDS ${zq_packaging_outputs})

  install(FILES "${ZQ_PACKAGING_DIR}/bash-completion/zq417-flash"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
  # A station as a service: the unit template and an example of its settings. Their places are
  # the system's, not under the prefix, so they are the package's alone: the unit runs
  # /usr/bin/zq417-flash.
  install(FILES "${ZQ_PACKAGING_DIR}/systemd/zq417-station@.service"
          DESTINATION /lib/systemd/system)
  install(FILES "${ZQ_PACKAGING_DIR}/systemd/example.conf" DESTINATION /etc/zq417-station)
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${ZQ_PACKAGING_DIR}/debian/copyright"
                "${zq_build_dir}/changelog.gz"
          DESTINATION "${ZQ_DOC_DIR}")

  if(ZQ_BUILD_TESTS)
    add_test(NAME bash_completion
             COMMAND bash "${PROJECT_SOURCE_DIR}/tests/packaging/completion_test.sh"
                     "${ZQ_PACKAGING_DIR}/bash-completion/zq417-flash"
                     "$<TARGET_FILE:zq417-flash>")
    if(ZQ_MAN_PAGES)
      add_test(NAME documented_options
               COMMAND bash "${PROJECT_SOURCE_DIR}/tests/packaging/docs_options_test.sh"
                       "$<TARGET_FILE:zq417-flash>" "${zq_build_dir}/man/zq417-flash.1.gz"
                       "${ZQ_PACKAGING_DIR}/windows/README.txt.in")
    endif()
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies are the packages of the libraries the programs link (Qt, libstdc++, libc).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The settings file under /etc is the administrator's once installed: an upgrade asks first.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${ZQ_PACKAGING_DIR}/debian/conffiles")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # CPack puts the summary in front and indents each line as the control file wants.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
         "Firmware Updater puts firmware on boards built around the ZQ417 chip over\n"
         "an RS-232 serial line (COM1 to COM4, 14400 baud). The technician picks a\n"
         "port and presses Download (board in download mode) or Update (board in\n"
         "update mode); the tool probes the board's mode, sends the image, has the\n"
         "board program its EEPROM and reports the outcome. It never reports success\n"
         "unless the board confirmed it.\n"
         ".\n"
         "This package holds the window (firmware-updater), a production station\n"
         "window that flashes every board plugged in (firmware-updater --station),\n"
         "the same operations for scripts and production lines (zq417-flash), a\n"
         "systemd unit that runs a station unattended (zq417-station@.service) and a\n"
         "virtual board on a pseudo-terminal for trying the tool without hardware\n"
         "(zq417-sim).")
else()
  # The zip holds the programs at its top, beside their README and licence, with Windows line
  # ends so that Notepad shows them as written.
  install(TARGETS firmware-updater RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  # The line ends of the template are converted, those of what goes into it are not.
  string(REPLACE "\n" "\r\n" ZQ_EXIT_STATUSES "${ZQ_EXIT_STATUSES}")
  configure_file("${ZQ_PACKAGING_DIR}/windows/README.txt.in" "${CMAKE_BINARY_DIR}/README.txt"
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file("${PROJECT_SOURCE_DIR}/LICENSE" "${CMAKE_BINARY_DIR}/LICENSE.txt" @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES "${CMAKE_BINARY_DIR}/README.txt" "${CMAKE_BINARY_DIR}/LICENSE.txt"
          DESTINATION "${CMAKE_INSTALL_BINDIR}")

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "${ZQ_PACKAGE_NAME}-${PROJECT_VERSION}-windows-x64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()

set(CPACK_PACKAGE_NAME "${ZQ_PACKAGE_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Firmware Updater developers")
set(CPACK_PACKAGE_CONTACT "Firmware Updater maintainers <maintainers@firmware-updater.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "install firmware on ZQ417 boards over RS-232")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
# Directories as a package wants them whatever the umask of the one who builds it.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_OUTPUT_FILE_PREFIX "${PROJECT_SOURCE_DIR}/dist")
include(CPack)

# Writes a program's manual page from its --help with help2man, gzipped as Debian wants it.
# Run as a script at build time, so the page follows the options the program really has:
#
#   cmake -DPROGRAM=path -DNAME=... -DINCLUDE=file.h2m -DVERSION=x.y -DOUTPUT=prog.1.gz
#         -DHELP2MAN=path -DGZIP=path -P ManPage.cmake
#
# A program with subcommands lists them under "Subcommands:" in its --help; each one's own --help
# is put into the page as well (usage, options, notes and examples), so every option of every
# subcommand is documented. A ZQ417_*
# name that --help mentions must be explained in the include file: the build stops otherwise,
# rather than ship a page that is silent about it.

foreach(variable PROGRAM NAME INCLUDE VERSION OUTPUT HELP2MAN GZIP)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "ManPage.cmake: ${variable} is not set")
  endif()
endforeach()

get_filename_component(program_name "${PROGRAM}" NAME)
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status TIMEOUT 30)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${program_name} --help failed (${status})")
endif()

# The subcommands: the indented first words of the lines after "Subcommands:" up to a blank line.
set(subcommands "")
string(REPLACE "\n" ";" help_lines "${help}")
set(in_list FALSE)
foreach(line IN LISTS help_lines)
  if(line MATCHES "^Subcommands:")
    set(in_list TRUE)
  elseif(in_list AND line MATCHES "^  +([a-z][a-z0-9-]*)")
    list(APPEND subcommands "${CMAKE_MATCH_1}")
  elseif(in_list AND NOT line MATCHES "^ ")
    set(in_list FALSE)
  endif()
endforeach()

# help2man reads roff-free text from --help; the subcommands' pages go in as a section of their
# own, each as its usage line followed by its options.
set(generated "")
set(all_help "${help}")
if(subcommands)
  string(APPEND generated "[COMMANDS]\n")
  foreach(command IN LISTS subcommands)
    execute_process(COMMAND "${PROGRAM}" ${command} --help OUTPUT_VARIABLE command_help
                    RESULT_VARIABLE status TIMEOUT 30)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${program_name} ${command} --help failed (${status})")
    endif()
    string(APPEND all_help "${command_help}")
    string(REGEX MATCH "Usage: [^\n]*" usage "${command_help}")
    string(REGEX REPLACE "^Usage: " "" usage "${usage}")
    string(REGEX REPLACE "\\\\" "\\\\e" usage "${usage}")
    string(APPEND generated ".SS \"${usage}\"\n")
    # The description is the text before "Usage:"; the options follow "Options:"/"Positionals:".
    string(REGEX REPLACE "\nUsage:.*" "" summary "${command_help}")
    string(REGEX REPLACE "\n" " " summary "${summary}")
    string(REPLACE " --" " \\-\\-" summary "${summary}")
    string(APPEND generated "${summary}\n")
    # A ";" in the text would split the list of lines.
    string(REPLACE ";" "@semicolon@" command_lines "${command_help}")
    string(REPLACE "\n" ";" command_lines "${command_lines}")
    # The options come after "Usage:"; the first line after them that is not indented starts the
    # footer: paragraphs of text, and "Examples:" followed by indented command lines.
    set(part head)
    set(lone_term "")
    foreach(line IN LISTS command_lines)
      if(part STREQUAL "head")
        if(line MATCHES "^Usage:")
          set(part options)
        endif()
        continue()
      endif()
      if(part STREQUAL "options" AND line MATCHES "^[^ ]" AND NOT line MATCHES
                                                             "^(Positionals|Options):$")
        set(part footer)
      endif()
      if(part STREQUAL "examples" AND line MATCHES "^  +(.*)$")
        set(example "${CMAKE_MATCH_1}")
        string(REPLACE "\\" "\\e" example "${example}")
        if(example MATCHES "^\\$ ")
          # Typed with minus signs, so that a copied command line works.
          string(REPLACE "-" "\\-" example "${example}")
        endif()
        string(APPEND generated "${example}\n")
        continue()
      elseif(part STREQUAL "examples")
        string(APPEND generated ".RE\n.fi\n")
        set(part footer)
      endif()
      if(part STREQUAL "footer")
        if(line STREQUAL "Examples:")
          string(APPEND generated ".PP\nExamples:\n.nf\n.RS\n")
          set(part examples)
        elseif(NOT line STREQUAL "")
          string(REPLACE "\\" "\\e" line "${line}")
          string(REPLACE " --" " \\-\\-" line "${line}")
          string(APPEND generated ".PP\n${line}\n")
        endif()
        continue()
      endif()
      set(term "")
      if(lone_term AND line MATCHES "^  +([^ ].*)$")
        set(term "${lone_term}")
        set(text "${CMAKE_MATCH_1}")
        set(lone_term "")
      elseif(line MATCHES "^  +([^ ].*[^ ]|[^ ])  +([^ ].*)$")
        set(term "${CMAKE_MATCH_1}")
        set(text "${CMAKE_MATCH_2}")
      elseif(line MATCHES "^  +(-[^ ].*)$")
        set(lone_term "${CMAKE_MATCH_1}")
        continue()
      endif()
      if(term)
        if(term STREQUAL "-h,--help")
          continue()
        endif()
        string(REGEX REPLACE " REQUIRED$" "" term "${term}")
        string(REPLACE "\\" "\\e" text "${text}")
        # Options are typed with minus signs; hyphens inside words stay hyphens.
        string(REPLACE " --" " \\-\\-" text "${text}")
        string(REPLACE "-" "\\-" term "${term}")
        string(APPEND generated ".TP\n.B ${term}\n${text}\n")
      elseif(line MATCHES "^  +([^ ].*)$" AND generated MATCHES "\n\\.TP\n[^\n]*\n[^\n]*\n$")
        # A wrapped description continues the last item.
        string(APPEND generated "${CMAKE_MATCH_1}\n")
      endif()
    endforeach()
    if(part STREQUAL "examples")
      string(APPEND generated ".RE\n.fi\n")
    endif()
  endforeach()
  string(REPLACE "@semicolon@" ";" generated "${generated}")
endif()

file(READ "${INCLUDE}" include_text)
string(REGEX MATCHALL "ZQ417_[A-Z_]+" mentioned "${all_help}")
list(REMOVE_DUPLICATES mentioned)
foreach(variable IN LISTS mentioned)
  string(FIND "${include_text}" "${variable}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${program_name} --help mentions ${variable}, which ${INCLUDE} does not "
                        "explain; add it to the ENVIRONMENT section")
  endif()
endforeach()

get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
set(generated_include "${page}.generated.h2m")
file(WRITE "${generated_include}" "${generated}")
set(include_options "--include=${INCLUDE}")
if(generated)
  list(PREPEND include_options "--include=${generated_include}")
endif()

execute_process(
  COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${NAME}" "--version-string=${VERSION}"
          "--source=Firmware Updater ${VERSION}" "--manual=User Commands"
          ${include_options} "--output=${page}" "${PROGRAM}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${program_name}")
endif()
# help2man makes the exit statuses that --help lists under a heading of its own a sub-section of
# OPTIONS; the page gives them the section readers look for.
file(READ "${page}" roff)
string(REGEX REPLACE "\n\\.SS \"Exit status[^\n]*\n" "\n.SH \"EXIT STATUS\"\n" roff "${roff}")
file(WRITE "${page}" "${roff}")
execute_process(COMMAND "${GZIP}" -9nf "${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${page}")
endif()

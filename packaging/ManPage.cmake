# Makes the manual page of a command-line program from its --help, so that the
# page never falls behind the program: in the template, @HELP@ becomes the help
# as the program prints it, @VERSION@ its --version and @DATE@ the build's date
# (SOURCE_DATE_EPOCH, where set).
# Usage: cmake -DPROGRAM=exe -DTEMPLATE=page.1.in -DOUTPUT=page.1 -P ManPage.cmake
foreach(option IN ITEMS help version)
  execute_process(COMMAND ${PROGRAM} --${option} OUTPUT_VARIABLE ${option} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --${option} failed: ${status}")
  endif()
endforeach()

# As roff text: a backslash is \e, a hyphen the minus sign \- that a user types,
# and a line that starts with a dot or an apostrophe no request.
function(roff_text text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(STRIP "${help}" help)
string(STRIP "${version}" version)
roff_text("${help}" HELP)
roff_text("${version}" VERSION)
string(TIMESTAMP DATE "%Y-%m-%d" UTC)
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)

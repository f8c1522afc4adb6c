# Makes the player's guide, HTML and plain text, from its Markdown source. The plain text is
# the source without its heading and list marks, which a screen reader would read out. Run at install time with GUIDE_SOURCE, GUIDE_PROGRAMS (the folder of
# the installed vesquin and vesquin-details; not for Windows), GUIDE_OUTPUT, GUIDE_VERSION,
# GUIDE_SCORE_SERVER and GUIDE_MARKDOWN (markdown_py) set.

# The runtime packages are what the installed programs link, found as a .deb's Depends is;
# a guide for Windows (no GUIDE_PROGRAMS) names none.
set(work "${GUIDE_OUTPUT}/.guide-work")
set(packages "")
if(GUIDE_PROGRAMS)
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}/debian")
  file(WRITE "${work}/debian/control" "")
  execute_process(
    COMMAND dpkg-shlibdeps -O "${GUIDE_PROGRAMS}/vesquin" "${GUIDE_PROGRAMS}/vesquin-details"
    WORKING_DIRECTORY "${work}"
    OUTPUT_VARIABLE depends ERROR_VARIABLE problems RESULT_VARIABLE status)
  file(REMOVE_RECURSE "${work}")
  if(NOT status EQUAL 0 OR NOT depends MATCHES "shlibs:Depends=")
    message(FATAL_ERROR "dpkg-shlibdeps found no runtime packages: ${problems}")
  endif()
  string(REGEX REPLACE ".*shlibs:Depends=([^\n]*).*" "\\1" depends "${depends}")
  string(REPLACE "," ";" depends "${depends}")
  set(packages)
  foreach(dependency IN LISTS depends)
    string(STRIP "${dependency}" dependency)
    string(REGEX REPLACE "[ (|].*" "" name "${dependency}")
    list(APPEND packages "${name}")
  endforeach()
  list(REMOVE_DUPLICATES packages)
  list(SORT packages)
  list(JOIN packages " " packages)
endif()

file(READ "${GUIDE_SOURCE}" text)
string(REPLACE "@VERSION@" "${GUIDE_VERSION}" text "${text}")
string(REPLACE "@SCORE_SERVER@" "${GUIDE_SCORE_SERVER}" text "${text}")
string(REPLACE "@RUNTIME_PACKAGES@" "${packages}" text "${text}")
file(WRITE "${work}.md" "${text}")
execute_process(
  COMMAND "${GUIDE_MARKDOWN}" -o html "${work}.md"
  OUTPUT_VARIABLE body ERROR_VARIABLE problems RESULT_VARIABLE status)
file(REMOVE "${work}.md")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "The guide's HTML could not be made (python3-markdown): ${problems}")
endif()
file(WRITE "${GUIDE_OUTPUT}/player-guide.html" "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>Vesquin ${GUIDE_VERSION}: the player's guide</title>
</head>
<body>
<main>
${body}</main>
</body>
</html>
")

string(REGEX REPLACE "^# " "" text "${text}")
string(REGEX REPLACE "\n#+ " "\n" text "${text}")
string(REPLACE "\n- " "\n  " text "${text}")
file(WRITE "${GUIDE_OUTPUT}/player-guide.txt" "${text}")

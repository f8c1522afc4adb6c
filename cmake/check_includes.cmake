# The include rules of src/ (cmake -DSRC=<src folder> -P check_includes.cmake):
# - machine/, the machine's seam, includes nothing of the game: only machine/;
# - sound/ includes only sound/ and machine/: never shell/ nor the other game rooms;
# - nothing but the drivers (platform/, sim/, windows/) includes platform/ or sim/.
# Every line that breaks a rule is named; any such line fails the check.

if(NOT SRC)
  message(FATAL_ERROR "usage: cmake -DSRC=<src folder> -P check_includes.cmake")
endif()

get_filename_component(SRC ${SRC} ABSOLUTE)
set(broken 0)
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" room ${file})
  file(STRINGS ${SRC}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" included "${line}")
    string(REGEX MATCH "^[^/]+/" target_room "${included}")
    set(rule "")
    if(room STREQUAL "machine" AND NOT target_room STREQUAL "machine/")
      set(rule "the machine's seam includes nothing of the game")
    elseif(room STREQUAL "sound" AND NOT target_room MATCHES "^(sound|machine)/$")
      set(rule "sound/ includes only sound/ and machine/")
    elseif(NOT room MATCHES "^(platform|sim|windows)$" AND target_room MATCHES "^(platform|sim)/$")
      set(rule "only the drivers include platform/ or sim/")
    endif()
    if(rule)
      message("src/${file}: #include \"${included}\": ${rule}")
      math(EXPR broken "${broken} + 1")
    endif()
  endforeach()
endforeach()

if(broken GREATER 0)
  message(FATAL_ERROR "${broken} include line(s) break the rules of src/")
endif()

# Copies the data folder SRC into DST. best.dat is copied only where none exists, so that a
# player's list survives every rebuild and update.
if(NOT EXISTS "${SRC}")
  return()
endif()
file(GLOB_RECURSE entries RELATIVE "${SRC}" "${SRC}/*")
foreach(entry IN LISTS entries)
  if(entry STREQUAL "best.dat" AND EXISTS "${DST}/best.dat")
    continue()
  endif()
  get_filename_component(dir "${DST}/${entry}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${SRC}/${entry}" "${DST}/${entry}" ONLY_IF_DIFFERENT)
endforeach()

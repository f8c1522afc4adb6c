# Included by tests/CMakeLists.txt once the vesquin_tests target exists: the
# checks over the committed clips (tests/assets_test.cpp) measure loudness
# with libebur128 (Debian package libebur128-dev).
pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)
target_link_libraries(vesquin_tests PRIVATE PkgConfig::EBUR128)
# The intelligibility checks (tests/intelligibility_test.cpp) listen to the
# clips with pocketsphinx and its US English model (Debian packages
# libpocketsphinx-dev, pocketsphinx-en-us), resampled by libsamplerate.
pkg_check_modules(POCKETSPHINX REQUIRED pocketsphinx)
pkg_check_modules(SAMPLERATE REQUIRED IMPORTED_TARGET samplerate)
pkg_get_variable(POCKETSPHINX_MODELDIR pocketsphinx modeldir)
# Debian's pocketsphinx.pc names an include folder that the package lacks.
foreach(dir IN LISTS POCKETSPHINX_INCLUDE_DIRS)
  if(EXISTS ${dir})
    target_include_directories(vesquin_tests SYSTEM PRIVATE ${dir})
  endif()
endforeach()
target_link_libraries(vesquin_tests PRIVATE ${POCKETSPHINX_LINK_LIBRARIES} PkgConfig::SAMPLERATE)
target_compile_definitions(vesquin_tests PRIVATE VESQUIN_POCKETSPHINX_MODELDIR="${POCKETSPHINX_MODELDIR}")

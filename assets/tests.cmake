# Included by tests/CMakeLists.txt once the vesquin_tests target exists: the
# checks over the committed clips (tests/assets_test.cpp) measure loudness
# with libebur128 (Debian package libebur128-dev).
pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)
target_link_libraries(vesquin_tests PRIVATE PkgConfig::EBUR128)

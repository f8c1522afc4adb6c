# The sources of the game core and of the machine's seam, relative to src/: one list for the
# native build (src/CMakeLists.txt), the browser build (web/CMakeLists.txt) and the Windows
# build (windows/CMakeLists.txt).
set(VESQUIN_MACHINE_SOURCES
  machine/tick_timer.cpp
)
set(VESQUIN_CORE_SOURCES
  shell/event_pump.cpp
  shell/main_window.cpp
  shell/routing.cpp
  sound/clip_file.cpp
  sound/sound.cpp
  screens/intro.cpp
  screens/main_menu.cpp
  screens/number_words.cpp
  screens/learn_sounds.cpp
  screens/speaker_test.cpp
  screens/score_screen.cpp
  scores/best_scores.cpp
  scores/player_details.cpp
  scores/send_score.cpp
  level/level_setup.cpp
  level/play.cpp
  level/game_over.cpp
)
# The transcript of what the player hears, printed by the simulator, the browser build and
# the Windows test mode.
set(VESQUIN_TRANSCRIPT_SOURCES
  sim/transcript.cpp
)
# The prepared filter table that stands in for libmysofa where it is missing, and no rate
# conversion (every clip is at the mixer's rate): the browser and Windows builds.
set(VESQUIN_PREPARED_HRTF_SOURCES
  platform/prepared_hrtf/sofa_table.cpp
  platform/prepared_hrtf/rate_converter_none.cpp
)

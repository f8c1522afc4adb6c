# The game core's sources, relative to src/: one list for every build of the game (the native
# one, the browser's and Windows').
set(VESQUIN_CORE_SOURCES
  shell/main_window.cpp
  shell/routing.cpp
  shell/tick_timer.cpp
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
# The prepared filter table that stands in for libmysofa where it is missing, and no rate
# conversion (every clip is at the mixer's rate).
set(VESQUIN_PREPARED_HRTF_SOURCES
  prepared_hrtf/sofa_table.cpp
  prepared_hrtf/rate_converter_none.cpp
)

# The Extended Module writer, the song compiler and the show's two songs.
morva_test(music_tests ${CMAKE_CURRENT_SOURCE_DIR}/music morva_song morva_xmwrite morva_sound)

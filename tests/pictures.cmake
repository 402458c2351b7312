# The show's pictures: the archive's entries read back, keying, seamless textures, the flute
# loop, the program resources and the generator's building blocks.
morva_test(pictures_tests ${CMAKE_CURRENT_SOURCE_DIR}/pictures morva_filelib mkpictures_core morva_resources)
if(TARGET pictures_tests AND TARGET morva_pictures)
  add_dependencies(pictures_tests morva_pictures)
endif()

# What cmake --install puts under the prefix: the sound library, static and shared (with the
# platform layer it stands on: files, threads, locks and the sound output), its public headers
# (sound/sound.h and what it includes, under include/morva), a pkg-config file (morvasound),
# the programs, and the show's data beside them in share/morva (the show runs from that folder).
include(GNUInstallDirs)
set(MORVA_SOUND_VERSION 1.1.2)

# Both libraries are made of the objects the programs link: built once, position-independent.
foreach(part morva_sound morva_platform)
  set_target_properties(${part} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  # A library's own calls stay direct (and inlined) as in a program.
  target_compile_options(${part} PRIVATE -fno-semantic-interposition)
endforeach()
set(morva_sound_objects $<TARGET_OBJECTS:morva_sound> $<TARGET_OBJECTS:morva_platform>)
add_library(morvasound SHARED ${morva_sound_objects})
# For the libraries they use (SDL2, Dear ImGui, OpenGL, threads): every object is there already,
# so nothing of the two archives is linked twice.
target_link_libraries(morvasound PRIVATE morva_sound)
set_target_properties(morvasound PROPERTIES VERSION ${MORVA_SOUND_VERSION} SOVERSION 1)
add_library(morvasound_static STATIC ${morva_sound_objects})
set_target_properties(morvasound_static PROPERTIES OUTPUT_NAME morvasound)

install(TARGETS morvasound morvasound_static
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
set(morva_headers ${CMAKE_INSTALL_INCLUDEDIR}/morva/sound)
install(FILES sound/sound.h DESTINATION ${morva_headers})
install(FILES sound/api/render.h sound/api/soundapi.h DESTINATION ${morva_headers}/api)
install(FILES sound/player/gmplayer.h DESTINATION ${morva_headers}/player)
install(FILES sound/formats/module.h DESTINATION ${morva_headers}/formats)
file(RELATIVE_PATH MORVA_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" MORVA_PC_TO_PREFIX "${MORVA_PC_TO_PREFIX}")
configure_file(cmake/morvasound.pc.in ${CMAKE_BINARY_DIR}/morvasound.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/morvasound.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS virezplay morva morva-capture flb RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${MORVA_DATA_DIR}/morva.flb ${MORVA_DATA_DIR}/mopart1.xm ${MORVA_DATA_DIR}/mopart2.xm
        DESTINATION ${CMAKE_INSTALL_DATADIR}/morva)

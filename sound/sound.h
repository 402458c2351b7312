// The sound library: tracker modules (Extended Module, Scream Tracker 3,
// Impulse Tracker, Protracker) loaded, played and mixed into sound output.
// Programs include this header and use the sound_ calls of api/soundapi.h
// (playing through the library's own sound devices, as the show does) and
// api/render.h (rendering into the program's buffers, with exact positions
// and subsongs); everything else in the folders below is the library's own.
//
// The folders, by job (each one's main header opens with a paragraph on it):
//   api/      the programming interface and what stands behind it: global
//             state, the polling thread, the internal start-up and fatal layer,
//             the error codes
//   formats/  the module model, the checked reader the loaders share, one
//             loader per format with its format record, the list of those
//             records, the WAVE reader
//   player/   the player engine and its effect-command tables
//   mixer/    the mixer core, the channel mixing loop, the mixing routines and
//             the output filter
//   output/   the sound-device record and the three devices
//   setup/    the sound setup dialog and the stored settings
//   sys/      the memory layer and the file layer
//
// The units keep the stems their function names come from:
//   soundapi  programming interface (sound_*)       api/
//   render    render interface (sound_render_*)     api/
//   mglobals  library globals and options            api/
//   mpoll     polling thread and library lock        api/
//   virez     internal start-up, fatal reporting     api/
//   errors    error codes and messages               api/
//   module    the in-memory song, the shared command  formats/
//             numbers, sample types and loop modes
//   loader    checked reads shared by the loaders    formats/
//   loadxm, loads3m, loadit, loadmod  the loaders    formats/
//   formats   format records, reading a module file  formats/
//   waveread  WAVE file reader                       formats/
//   gmplayer  player engine (gmp_*)                  player/
//   gmpcmds   effect commands per play mode          player/
//   songscan  a song walked by the player alone:     player/
//             its end, duration, rows and subsongs
//   dsm       mixer core                             mixer/
//   dsmmix    channel mixing loop                    mixer/
//   mix_mi, mix_mf, mix_si, mix_sf, mix_mfi, mix_sfi  mixing routines (mono/stereo,
//             integer/float, interpolating)          mixer/
//   dsmfilt   output filter                          mixer/
//   sdevice   the sound-device record                output/
//   winwave   wave output device                     output/
//   dsound    looping-buffer ("DirectSound") device  output/
//   dsmnsnd   silent device                          output/
//   win32cnf  sound setup dialog, stored settings    setup/
//   mmem      memory layer                           sys/
//   file      checked file routines                  sys/
//   rawf_nt   the host's file calls                  sys/
#pragma once

#include "sound/api/render.h"
#include "sound/api/soundapi.h"

// Global state shared inside the sound library.
#pragma once

struct SoundDevice;

// The sound device in use: loaders hand samples to it and the module
// freeing routine removes them from it. Null until a device is chosen.
extern SoundDevice* currentDevice;

#include "sound/mglobals.h"

SoundDevice* currentDevice = nullptr;

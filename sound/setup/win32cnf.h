// setup/: the sound setup dialog and the stored sound settings. The dialog changes the library's settings
// in memory (the devices read them when the library opens one); five of them can be kept in the
// settings store (the model of the registry) or in a 20-byte file, and everything the dialog sets
// (the five, the sound card and "Never Use DirectSound") in a 28-byte sound setup file.
#pragma once

#include <cstdint>

struct SettingsKey;

// The bounds the stored and typed settings are held to: rates an output can play, and buffer
// lengths the devices can work with (the wave output needs at least one 15 ms block) without
// their byte counts overflowing.
inline constexpr int minimumMixingRate = 1000;
inline constexpr int maximumMixingRate = 192000;
inline constexpr int minimumBufferLength = 15;
inline constexpr int minimumDSoundBufferLength = 1;
inline constexpr int maximumBufferLength = 2000;

// Control ids of the setup dialog and the custom quality dialog.
enum SoundSetupControl : int {
    idPresetVeryLow = 1001,
    idPresetLow = 1002,
    idPresetMedium = 1003,
    idPresetHigh = 1004,
    idPresetVeryHigh = 1005,
    idCustom = 1006,
    idStereo = 1008,
    idSoundCard = 1011,
    idSoundCardLabel = 1013,
    idBufferLabel = 1014,
    idBufferLength = 1015,
    idBufferUnit = 1016,
    idDSoundBufferLength = 1017,
    idDSoundBufferLabel = 1018,
    idDSoundBufferUnit = 1019, // the setup dialog's second "ms"
    idMixingRate = 1019,       // the custom dialog's rate box (the same number in the other dialog)
    idMixingRateLabel = 1020,
    idMixingModeGroup = 1021,
    idNormalMixing = 1022,
    idInterpolatingMixing = 1023,
    idAdvancedGroup = 1024,
    idNeverDirectSound = 1026,
};

// The private message that opens the custom quality dialog from the setup dialog.
inline constexpr std::uint32_t msgOpenCustomQuality = 0x1B42;

// Runs the setup dialog modally without owner. Returns 1 when confirmed with OK (the settings are
// changed), 0 when cancelled; 0 with last error 1 when a dialog could not be created.
int showSoundSetup();

// Reads the five settings from the values under root/subKey (root null: the user's top level).
// Returns 1, or 0 with last error 1 at the first missing, mistyped or impossible value; the values
// read before it stay taken.
int loadSettingsFromRegistry(SettingsKey* root, const char* subKey);

// Writes the five settings under root/subKey, creating the key. Returns 1, or 0 with last error 1.
int saveSettingsToRegistry(SettingsKey* root, const char* subKey);

// Reads the five settings from a 20-byte file. Returns 1 (the last error left as it was), or 0
// with the file layer's error as the last error; a short, long or impossible file changes nothing.
int loadSettingsFromFile(const char* fileName);

// Writes the five settings as a 20-byte file, whole or not at all. Returns 1, or 0 with the file
// layer's error as the last error.
int saveSettingsToFile(const char* fileName);

// The sound setup file: the 20 bytes of the settings file followed by the sound card the dialog
// chose (chosen_device_number: -1 "Default", 2 "No Sound") and "Never Use DirectSound" (0 or 1),
// 28 bytes of little-endian 32-bit numbers.

// Reads the whole setup from a sound setup file. Returns 1, or 0 with the file layer's error as
// the last error; a short, long or impossible file changes nothing.
int loadSoundSetupFromFile(const char* fileName);

// Writes the whole setup as a sound setup file, whole or not at all. Returns 1, or 0 with the
// file layer's error as the last error.
int saveSoundSetupToFile(const char* fileName);

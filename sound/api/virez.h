// The library's internal layer: the start-up and shut-down steps behind the
// programming interface, each returning an error code, and the fatal path
// for errors nobody can return to (inside the poll, or from the internal
// start-up): shut everything down, then report "VIREZ Error: " and the
// message through the error-report hook, whose default ends the process.
#pragma once

// Detects a device in list order (DirectSound, wave output, silent): *number
// is the first that reports itself present. None present: errHardwareFailure.
int virez_detect_device(int* number);

// Picks the device (option 13, chosen_device_number or detection), writes the
// hardware overrides into it, opens it with options 1 and 2 and starts the
// player. Each step's flag is set only once it has succeeded.
int virez_init_device();

// Opens count device channels with none taken, and applies the amplification percentage.
int virez_open_channels(int count);

// Closes the device channels and forgets which were taken.
int virez_close_channels();

// The lowest free device channel, now taken, or -1 when all are taken.
int virez_take_channel();

// Stops the song in a slot of the song table: the player lets it go, its
// channels fall silent and are freed, and channels it opened are closed.
int virez_stop_song(int slot);

// Undoes start-up (every song, the player, the channels, the device), under
// the library lock; the polling thread is the caller's to stop. With onError
// null the first failing step ends it; otherwise each error goes there and the
// steps go on. Returns the first error.
int virez_shutdown(void (*onError)(int code));

// Passes text to the error-report hook (the default reporter when none is set).
void virez_report(const char* text);

// The default hook: text and a line feed to standard error, then exit code 255.
void virez_default_report(const char* text);

// Shuts the library down and reports "VIREZ Error: " + the message for code;
// an error during that shut-down is reported as "FATAL VIREZ uninitialization
// failure: " + its message.
void virez_fatal(int code);

// Start-up with default options and initialisation; any error is fatal.
void virez_init();

// Stops background play and shuts the library down; any error is fatal.
void virez_close();

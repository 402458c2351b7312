// Error codes of the sound library and their message texts.
//
// Every internal routine of the library returns one of these codes (0 =
// success) and passes results through out-parameters.
#pragma once

enum ErrorCode : int {
    errOK = 0,
    errUndefined = 1,
    errOutOfMemory = 2,
    errHeapCorrupted = 3,
    errInvalidBlock = 4,
    errOutOfEMS = 5,
    errEMSHeapCorrupted = 6,
    errInvalidEMSBlock = 7,
    errEMMFailure = 8,
    errOutOfCardMemory = 9,
    errCardHeapCorrupted = 10,
    errInvalidCardBlock = 11,
    errNoSampleHandles = 12,
    errFileOpen = 13,
    errFileRead = 14,
    errInvalidModule = 15,
    errInvalidInstrument = 16,
    errInvalidPattern = 17,
    errInvalidChannel = 18,
    errInvalidSampleHandle = 19,
    errNoChannels = 20,
    errHardwareFailure = 21,
    errInvalidArguments = 22,
    errFileNotFound = 23,
    errInvalidFileHandle = 24,
    errAccessDenied = 25,
    errFileExists = 26,
    errTooManyFiles = 27,
    errDiskFull = 28,
    errEndOfFile = 29,
    errInvalidPath = 30,
    errFileWrite = 31,
    errVDSLock = 32,
    errVDSUnavailable = 33,
    errVDSVersion = 34,
    errDPMIFailure = 35,
    errInvalidDescriptor = 36,
    errOutOfResources = 37,
    errInvalidDevice = 38,
    errUnsupported = 39,
    errDeviceNotAvailable = 40,
    errDeviceBusy = 41,
    errBadOutputMode = 42,
    errUnableToLock = 43,
    errNoDSoundWindow = 44,
    errInvalidADPCM = 45,
    errInvalidSampleType = 46,
    errNoModulePlaying = 47,
    errOutOfChannels = 48,
    errNoDSoundDll = 49,
    errBadWave = 50,
    errUnsupportedFormat = 51,
};

// Number of entries in the message table (codes 0..errorCodeCount-1).
inline constexpr int errorCodeCount = 52;

// The message table, indexed by error code.
extern const char* const errorMessages[errorCodeCount];

// Message text for an error code; codes outside the table give "Undefined error".
const char* errorMessage(int code);

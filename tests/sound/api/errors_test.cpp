#include "sound/api/errors.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(ErrorTable, MessagesAreTheLibrarysOwnTexts) {
    EXPECT_STREQ(errorMessage(errOK), "OK");
    EXPECT_STREQ(errorMessage(errOutOfMemory), "Out of memory");
    EXPECT_STREQ(errorMessage(errInvalidBlock), "Invalid memory block");
    EXPECT_STREQ(errorMessage(errFileOpen), "Unable to open file");
    EXPECT_STREQ(errorMessage(errInvalidModule), "Invalid module file");
    EXPECT_STREQ(errorMessage(errInvalidInstrument), "Invalid instrument in module");
    EXPECT_STREQ(errorMessage(errInvalidPattern), "Invalid pattern data in module");
    EXPECT_STREQ(errorMessage(errNoChannels), "Sound Device channels not open");
    EXPECT_STREQ(errorMessage(errEndOfFile), "Unexpected end of file");
    EXPECT_STREQ(errorMessage(errVDSVersion), "Invalid Virtual DMA Service version");
    EXPECT_STREQ(errorMessage(errNoDSoundWindow), "DirectSound Window Handle not set");
    EXPECT_STREQ(errorMessage(errNoDSoundDll), "Couldn't load dsound.dll");
    EXPECT_STREQ(errorMessage(errBadWave), "Bad WAVE file");
    EXPECT_STREQ(errorMessage(errUnsupportedFormat), "Unsupported sample data format");
}

TEST(ErrorTable, EveryCodeHasItsOwnMessage) {
    std::set<std::string> texts;
    for (int code = 0; code < errorCodeCount; code++) {
        ASSERT_NE(errorMessages[code], nullptr) << code;
        EXPECT_EQ(errorMessage(code), errorMessages[code]);
        texts.insert(errorMessages[code]);
    }
    EXPECT_EQ(texts.size(), 52u);
    EXPECT_EQ(errorCodeCount, 52);
}

TEST(ErrorTable, CodesOutsideTheTableReadAsUndefined) {
    EXPECT_STREQ(errorMessage(52), "Undefined error");
    EXPECT_STREQ(errorMessage(-1), "Undefined error");
}

// The web back end's windows as the page gets them (JSON of the records) and what the page's user
// does to them, on the headless back end: this half of the web back end does not talk to the page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/headless.h"
#include "platform/web/webui.h"

namespace {

class WebUi : public ::testing::Test {
protected:
    void SetUp() override {
        HeadlessOptions options;
        options.modes = headlessAllModes();
        headlessConfigure(options, HeadlessRecorder{});
        platformInit(headlessBackend());
        webUiTakeChanged(); // nothing left from an earlier test
        WindowDesc desc{};
        desc.className = "TEST";
        desc.title = "A \"quoted\" title\\";
        desc.style = windowDialog;
        desc.width = 300;
        desc.height = 200;
        window = createWindow(desc);
        check = createControl(window, controlCheckBox, "&Stereo", 8, 8, 100, 16, styleTabStop, 1008);
        edit = createControl(window, controlEdit, "500", 8, 30, 40, 18, styleTabStop | styleNumber, 1015);
        list = createControl(window, controlComboBox, nullptr, 8, 52, 120, 80, styleTabStop, 1011);
        button = createControl(window, controlButton, "OK", 200, 8, 60, 20, styleTabStop | styleDefault, 1);
        controlAddString(list, "No Sound");
        controlAddString(list, "Default\nline");
        showWindow(window);
        clearQueue();
    }

    void TearDown() override {
        webUiTakeChanged();
        platformShutdown(0);
    }

    void clearQueue() {
        Message message;
        while (peekMessage(&message)) {
        }
    }

    WebEvent event(WebEventKind kind, WindowHandle handle, std::int32_t value = 0, const char* text = "") {
        WebEvent e{};
        e.kind = kind;
        e.handle = handle;
        e.value = value;
        std::strncpy(e.text, text, sizeof e.text - 1);
        return e;
    }

    WindowHandle window = 0, check = 0, edit = 0, list = 0, button = 0;
};

} // namespace

TEST_F(WebUi, TheJsonHoldsTheWindowAndEveryControlWithTextsEscaped) {
    const std::string json = webUiJson(window);
    EXPECT_NE(json.find("\"title\":\"A \\\"quoted\\\" title\\\\\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"w\":294,\"ht\":173"), std::string::npos) << json; // the client area
    EXPECT_NE(json.find("\"text\":\"&Stereo\""), std::string::npos);
    EXPECT_NE(json.find("\"entries\":[\"No Sound\",\"Default\\nline\"]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"id\":1015"), std::string::npos);
    EXPECT_NE(json.find("\"active\":1"), std::string::npos);
    // Every control once, in creation order.
    EXPECT_LT(json.find("\"h\":" + std::to_string(check)), json.find("\"h\":" + std::to_string(button)));
    EXPECT_EQ(webUiJson(9999), "null");
}

TEST_F(WebUi, APictureNamesThePixelsOfItsBitmap) {
    static const std::uint32_t pixels[4] = {0xFF000000u, 0xFFFFFFFFu, 0xFF00FF00u, 0xFF0000FFu};
    setProgramBitmap("Logo", pixels, 2, 2);
    const WindowHandle picture = createControl(window, controlPicture, "logo", 0, 0, 2, 2, 0, 0);
    const std::string json = webUiJson(window);
    const std::string expected =
        "\"bitmap\":[" + std::to_string(reinterpret_cast<std::uintptr_t>(pixels)) + ",2,2]";
    EXPECT_NE(json.find(expected), std::string::npos) << json;
    EXPECT_NE(picture, 0);
}

TEST_F(WebUi, ChangesAreCollectedOncePerTopLevelWindowAndGoneWindowsDropped) {
    webUiTakeChanged();
    webUiChanged(check);
    webUiChanged(edit);
    webUiChanged(window);
    WindowDesc desc{};
    desc.title = "show";
    desc.style = windowPopup;
    const WindowHandle show = createWindow(desc);
    webUiChanged(show); // the show window is the stage, not a window of the page
    EXPECT_EQ(webUiTakeChanged(), std::vector<WindowHandle>{window});
    EXPECT_TRUE(webUiTakeChanged().empty());
    webUiChanged(button);
    destroyWindow(window);
    EXPECT_TRUE(webUiTakeChanged().empty());
}

TEST_F(WebUi, AClickTogglesTheBoxAndTellsTheWindow) {
    EXPECT_EQ(webUiApply(event(webEventClick, check)), 1);
    EXPECT_EQ(controlGetCheck(check), 1);
    Message message;
    ASSERT_EQ(peekMessage(&message), 1);
    EXPECT_EQ(message.kind, msgCommand);
    EXPECT_EQ(commandId(message), 1008);
    enableWindow(check, 0);
    EXPECT_EQ(webUiApply(event(webEventClick, check)), 0);
    EXPECT_EQ(controlGetCheck(check), 1);
}

TEST_F(WebUi, TypingIntoADigitsOnlyFieldRefusesLettersAndSendsTheOldTextBack) {
    EXPECT_EQ(webUiApply(event(webEventType, edit, 0, "250")), 1);
    char text[16];
    getWindowText(edit, text, sizeof text);
    EXPECT_STREQ(text, "250");
    webUiTakeChanged();
    EXPECT_EQ(webUiApply(event(webEventType, edit, 0, "25x")), 0);
    getWindowText(edit, text, sizeof text);
    EXPECT_STREQ(text, "250");
    EXPECT_EQ(webUiTakeChanged(), std::vector<WindowHandle>{window}); // the page shows "250" again
}

TEST_F(WebUi, ChoosingPicksTheEntryAndOutOfRangeIsRefused) {
    EXPECT_EQ(webUiApply(event(webEventChoose, list, 1)), 1);
    EXPECT_EQ(controlGetSelection(list), 1);
    EXPECT_EQ(webUiApply(event(webEventChoose, list, 5)), 0);
    EXPECT_EQ(controlGetSelection(list), 1);
}

TEST_F(WebUi, KeysGoToTheActiveWindowThroughTheSharedKeyboardRules) {
    setFocus(check);
    WebEvent tab = event(webEventKey, 0);
    tab.key = keyTab;
    EXPECT_EQ(webUiApply(tab), 1);
    EXPECT_EQ(getFocus(), edit);
    WebEvent enter = event(webEventKey, 0);
    enter.key = keyReturn;
    webUiApply(enter); // the default button
    Message message;
    ASSERT_EQ(peekMessage(&message), 1);
    EXPECT_EQ(commandId(message), idOk);
}

TEST_F(WebUi, TheCloseBoxAsksTheWindowButNotWhileADialogHoldsIt) {
    EXPECT_EQ(webUiApply(event(webEventClose, window)), 1);
    Message message;
    ASSERT_EQ(peekMessage(&message), 1);
    EXPECT_EQ(message.kind, msgClose);
    EXPECT_EQ(webUiApply(event(webEventClose, check)), 0); // a control has no close box
    enableWindow(window, 0);
    EXPECT_EQ(webUiApply(event(webEventClose, window)), 0);
}

TEST_F(WebUi, FocusFollowsThePageButNotOntoADisabledControl) {
    EXPECT_EQ(webUiApply(event(webEventFocus, list)), 1);
    EXPECT_EQ(getFocus(), list);
    enableWindow(button, 0);
    EXPECT_EQ(webUiApply(event(webEventFocus, button)), 0);
    EXPECT_EQ(getFocus(), list);
    EXPECT_EQ(webUiApply(event(static_cast<WebEventKind>(99), list)), 0);
}

// Controls, the keyboard between them, modal dialogs and the headless user, on the shared window
// code that both back ends use.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless.h"

namespace {

std::vector<std::string> heard; // "command <id>", "key <code>", "init", "close"

std::intptr_t listen(WindowHandle, const Message& message) {
    switch (message.kind) {
    case msgCommand: heard.push_back("command " + std::to_string(commandId(message))); break;
    case msgKeyDown: heard.push_back("key " + std::to_string(message.wParam)); break;
    case msgInitDialog: heard.push_back("init"); break;
    case msgClose: heard.push_back("close"); break;
    default: break;
    }
    return 0;
}

void start(std::vector<std::string> script = {}) {
    HeadlessOptions options;
    options.modes = headlessAllModes();
    options.script = std::move(script);
    headlessConfigure(options, HeadlessRecorder{});
    platformInit(headlessBackend());
    heard.clear();
}

WindowHandle window() {
    WindowDesc desc{"TEST", "Test", windowDialog, 0, 0, 400, 300, listen};
    const WindowHandle w = createWindow(desc);
    showWindow(w);
    return w;
}

// Dispatches everything queued.
void drain() {
    Message message;
    while (peekMessage(&message))
        dispatchMessage(message);
}

} // namespace

TEST(Controls, RadioButtonsClearTheRestOfTheirRunOnly) {
    start();
    const WindowHandle w = window();
    const WindowHandle a = createControl(w, controlRadioButton, "A", 0, 0, 10, 10, 0, 11);
    const WindowHandle b = createControl(w, controlRadioButton, "B", 0, 0, 10, 10, 0, 12);
    const WindowHandle c = createControl(w, controlRadioButton, "C", 0, 0, 10, 10, styleGroup, 13);
    const WindowHandle d = createControl(w, controlRadioButton, "D", 0, 0, 10, 10, 0, 14);
    controlSetCheck(a, 1);
    controlSetCheck(c, 1);
    EXPECT_EQ(controlClick(b), 1);
    EXPECT_EQ(controlGetCheck(a), 0);
    EXPECT_EQ(controlGetCheck(b), 1);
    EXPECT_EQ(controlGetCheck(c), 1); // another group
    controlClick(d);
    EXPECT_EQ(controlGetCheck(c), 0);
    EXPECT_EQ(controlGetCheck(b), 1);
    drain();
    EXPECT_EQ(heard, (std::vector<std::string>{"command 12", "command 14"}));
    platformShutdown(0);
}

TEST(Controls, DisabledOrHiddenControlsTakeNoClickAndTypingObeysDigitsOnly) {
    start();
    const WindowHandle w = window();
    const WindowHandle box = createControl(w, controlCheckBox, "Use MMX", 0, 0, 10, 10);
    const WindowHandle hidden = createControl(w, controlButton, "Hidden", 0, 0, 10, 10, styleHidden);
    enableWindow(box, 0);
    EXPECT_EQ(controlClick(box), 0);
    EXPECT_EQ(controlGetCheck(box), 0);
    EXPECT_EQ(controlClick(hidden), 0);
    const WindowHandle edit = createControl(w, controlEdit, "500", 0, 0, 10, 10, styleNumber);
    EXPECT_EQ(controlType(edit, "12a"), 0);
    char text[8];
    getWindowText(edit, text, sizeof text);
    EXPECT_STREQ(text, "500");
    EXPECT_EQ(controlType(edit, ""), 1);
    getWindowText(edit, text, sizeof text);
    EXPECT_STREQ(text, "");
    drain();
    EXPECT_TRUE(heard.empty());
    platformShutdown(0);
}

TEST(Controls, ComboBoxWithEditFieldShowsTheChosenEntryAndTypingLeavesTheList) {
    start();
    const WindowHandle w = window();
    const WindowHandle combo = createControl(w, controlComboEdit, nullptr, 0, 0, 10, 10);
    controlAddString(combo, "8000");
    controlAddString(combo, "44100");
    EXPECT_EQ(controlChoose(combo, 1), 1);
    char text[16];
    getWindowText(combo, text, sizeof text);
    EXPECT_STREQ(text, "44100");
    EXPECT_EQ(controlType(combo, "48000 Hz"), 1); // no digits-only rule here
    EXPECT_EQ(controlGetSelection(combo), -1);
    getWindowText(combo, text, sizeof text);
    EXPECT_STREQ(text, "48000 Hz");
    EXPECT_EQ(controlChoose(combo, 5), 0);
    // A plain drop-down list keeps the order it is given unless sorted, and reads as its entry.
    const WindowHandle list = createControl(w, controlComboBox, nullptr, 0, 0, 10, 10);
    controlAddString(list, "No Sound");
    controlSetSelection(list, controlAddString(list, "Default"));
    getWindowText(list, text, sizeof text);
    EXPECT_STREQ(text, "Default");
    EXPECT_EQ(controlGetSelection(list), 1);
    platformShutdown(0);
}

TEST(Keyboard, TabVisitsTabStopsInOrderAndEntersARadioGroupAtItsCheckedButton) {
    start();
    const WindowHandle w = window();
    createControl(w, controlLabel, "&Buffer Length:", 0, 0, 10, 10, styleTabStop);
    const WindowHandle edit = createControl(w, controlEdit, "", 0, 0, 10, 10, styleTabStop | styleNumber);
    createControl(w, controlGroupBox, "Quality", 0, 0, 10, 10, styleTabStop);
    const WindowHandle r1 = createControl(w, controlRadioButton, "&One", 0, 0, 10, 10, styleTabStop);
    const WindowHandle r2 = createControl(w, controlRadioButton, "&Two", 0, 0, 10, 10);
    const WindowHandle off = createControl(w, controlButton, "Off", 0, 0, 10, 10, styleTabStop);
    const WindowHandle ok = createControl(w, controlButton, "OK", 0, 0, 10, 10, styleTabStop | styleDefault, 1);
    enableWindow(off, 0);
    controlSetCheck(r2, 1);
    hostKeyDown(w, keyTab, 0);
    EXPECT_EQ(getFocus(), edit);
    hostKeyDown(w, keyTab, 0);
    EXPECT_EQ(getFocus(), r2); // the group's checked button, not its first
    hostKeyDown(w, keyTab, 0);
    EXPECT_EQ(getFocus(), ok); // the disabled button is passed over
    hostKeyDown(w, keyTab, 0);
    EXPECT_EQ(getFocus(), edit); // round again
    hostKeyDown(w, keyTab, modShift);
    EXPECT_EQ(getFocus(), ok);
    // Arrows move the check within the group and click; Alt+letter finds mnemonics.
    setFocus(r2);
    hostKeyDown(w, keyDown, 0);
    EXPECT_EQ(getFocus(), r1);
    EXPECT_EQ(controlGetCheck(r1), 1);
    EXPECT_EQ(controlGetCheck(r2), 0);
    hostKeyDown(w, 'B', modAlt);
    EXPECT_EQ(getFocus(), edit); // a label hands over to the control after it
    hostKeyDown(w, 'T', 0);      // a plain letter in an edit is typing, not a mnemonic
    EXPECT_EQ(getFocus(), edit);
    hostKeyDown(w, 'T', modAlt);
    EXPECT_EQ(getFocus(), r2);
    EXPECT_EQ(controlGetCheck(r2), 1);
    drain();
    EXPECT_EQ(heard.back(), "command 0");
    platformShutdown(0);
}

TEST(Keyboard, EnterPressesTheDefaultOrFocusedButtonAndSpaceTheFocusedControl) {
    start();
    const WindowHandle w = window();
    const WindowHandle box = createControl(w, controlCheckBox, "Box", 0, 0, 10, 10, styleTabStop, 7);
    const WindowHandle other = createControl(w, controlButton, "Other", 0, 0, 10, 10, styleTabStop, 8);
    createControl(w, controlButton, "GO!", 0, 0, 10, 10, styleTabStop | styleDefault, 9);
    const WindowHandle list = createControl(w, controlComboBox, nullptr, 0, 0, 10, 10, styleTabStop);
    controlAddString(list, "a");
    controlAddString(list, "b");
    controlSetSelection(list, 0);
    hostKeyDown(w, keyReturn, 0);
    setFocus(other);
    hostKeyDown(w, keyReturn, 0);
    setFocus(box);
    hostKeyDown(w, keySpace, 0);
    EXPECT_EQ(controlGetCheck(box), 1);
    setFocus(list);
    hostKeyDown(w, keyDown, 0);
    EXPECT_EQ(controlGetSelection(list), 1);
    hostKeyDown(w, keyDown, 0);
    EXPECT_EQ(controlGetSelection(list), 1); // stays at the end
    hostKeyDown(w, keyEscape, 0);           // not a dialog: the window hears the key
    drain();
    EXPECT_EQ(heard, (std::vector<std::string>{"command 9", "command 8", "command 7", "key 27"}));
    platformShutdown(0);
}

namespace {

constexpr DialogItem items[] = {
    {100, controlEdit, styleTabStop, 10, 20, 40, 12, nullptr},
    {idOk, controlButton, styleDefault | styleTabStop, 100, 4, 50, 14, "OK"},
    {idCancel, controlButton, styleTabStop, 100, 22, 50, 14, "Cancel"},
};
constexpr DialogTemplate dialog{"Dialog", 160, 60, items};

WindowHandle ownerWindow = 0;
int ownerEnabledInside = -1;
int shownAtInit = -1;
std::int32_t editX = 0, editHeight = 0;

std::intptr_t dialogProc(WindowHandle d, const Message& message) {
    listen(d, message);
    if (message.kind == msgInitDialog) {
        const WindowRecord* record = windowRecord(d);
        shownAtInit = record->visible;
        ownerEnabledInside = isWindowEnabled(ownerWindow);
        editX = windowRecord(dialogItem(d, 100))->x;
        editHeight = windowRecord(dialogItem(d, 100))->height;
        return 1;
    }
    if (message.kind == msgCommand && (commandId(message) == idOk || commandId(message) == idCancel))
        endDialog(d, commandId(message) == idOk ? 10 : 20);
    return 0;
}

} // namespace

TEST(Dialogs, RunModallyFromTheTemplateWithTheOwnerDisabledAndReturnTheEndResult) {
    start({"key:enter"});
    ownerWindow = window();
    EXPECT_EQ(dialogBox(dialog, ownerWindow, dialogProc), 10);
    EXPECT_EQ(shownAtInit, 0);          // initialised before it is shown
    EXPECT_EQ(ownerEnabledInside, 0);   // the owner waits
    EXPECT_EQ(isWindowEnabled(ownerWindow), 1);
    EXPECT_EQ(editX, dialogUnitsX(10)); // placed in dialog units
    EXPECT_EQ(editHeight, dialogUnitsY(12));
    EXPECT_EQ(heard, (std::vector<std::string>{"init", "command 1"}));
    EXPECT_EQ(activeWindow(), ownerWindow); // the dialog is gone
    platformShutdown(0);
}

TEST(Dialogs, EscapeAndTheCloseBoxAreTheCancelButton) {
    start({"key:escape"});
    EXPECT_EQ(dialogBox(dialog, 0, dialogProc), 20);
    heard.clear();
    HeadlessOptions options;
    options.user = [](WindowHandle active) {
        postMessage(active, msgClose, 0, 0);
        return 1;
    };
    headlessConfigure(options, HeadlessRecorder{});
    platformInit(headlessBackend());
    EXPECT_EQ(dialogBox(dialog, 0, dialogProc), 20);
    EXPECT_EQ(heard, (std::vector<std::string>{"init", "close", "command 2"}));
    platformShutdown(0);
}

TEST(HeadlessUser, ActsOnControlsByTheirShownTextLabelsIdsAndListEntries) {
    start({"Box", "Number:=12x", "Number:=250", "#100=7", "Default", "key:tab", "OK"});
    static WindowHandle box = 0, number = 0, other = 0, list = 0;
    static std::string numberText, otherText, focusName;
    static int boxChecked = -1, listSelection = -1;
    static constexpr DialogItem userItems[] = {
        {5, controlCheckBox, styleTabStop, 0, 0, 40, 10, "&Box"},
        {0, controlLabel, 0, 0, 12, 40, 8, "&Number:"},
        {6, controlEdit, styleTabStop | styleNumber, 40, 12, 30, 12, nullptr},
        {100, controlEdit, styleTabStop, 40, 30, 30, 12, nullptr},
        {7, controlComboBox, styleTabStop, 40, 50, 60, 40, nullptr},
        {idOk, controlButton, styleDefault | styleTabStop, 100, 4, 50, 14, "OK"},
    };
    static constexpr DialogTemplate userDialog{"User", 160, 90, userItems};
    const std::intptr_t result = dialogBox(userDialog, 0, [](WindowHandle d, const Message& message) -> std::intptr_t {
        if (message.kind == msgInitDialog) {
            box = dialogItem(d, 5);
            number = dialogItem(d, 6);
            other = dialogItem(d, 100);
            list = dialogItem(d, 7);
            controlAddString(list, "No Sound");
            controlSetSelection(list, controlAddString(list, "Default"));
            controlSetSelection(list, 0);
        }
        if (message.kind == msgCommand && commandId(message) == idOk) {
            char text[16];
            getWindowText(number, text, sizeof text);
            numberText = text;
            getWindowText(other, text, sizeof text);
            otherText = text;
            boxChecked = controlGetCheck(box);
            listSelection = controlGetSelection(list);
            focusName = getFocus() == list ? "list" : "other";
            endDialog(d, 1);
        }
        return 0;
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(boxChecked, 1);
    EXPECT_EQ(numberText, "250"); // "12x" was refused as typing into a digits-only field
    EXPECT_EQ(otherText, "7");
    EXPECT_EQ(listSelection, 1); // "Default": no control has that name, the list has the entry
    EXPECT_EQ(focusName, "other"); // the OK click moved the focus off the list
    platformShutdown(0);
}

TEST(HeadlessUser, WithNothingLeftADialogIsCancelledAndAWindowGetsEnterThenIsClosed) {
    start();
    EXPECT_EQ(dialogBox(dialog, 0, dialogProc), 20);
    // A window whose default button does not end the wait is closed in the end.
    const WindowHandle w = window();
    createControl(w, controlButton, "Stay", 0, 0, 10, 10, styleDefault | styleTabStop, 3);
    heard.clear();
    Message message;
    while (getMessage(&message)) {
        dispatchMessage(message);
        if (!heard.empty() && heard.back() == "close") break;
    }
    EXPECT_EQ(heard, (std::vector<std::string>{"command 3", "command 3", "close"}));
    platformShutdown(0);
}

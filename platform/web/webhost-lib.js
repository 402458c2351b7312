// The calls of platform/web/webpage.h as emscripten sees them: each hands over to the page side
// (MorvaWebHost, webhost-pre.js). The two that wait (morvaWebWait, morvaWebMessageBox) suspend
// the program through Asyncify until the page resumes it.
mergeInto(LibraryManager.library, {
  morvaWebWait: function (ms, wakeOnInput) {
    return Asyncify.handleSleep(function (wakeUp) {
      MorvaWebHost.wait(ms, wakeOnInput, wakeUp);
    });
  },
  morvaWebTakeEvent: function (event) {
    return MorvaWebHost.takeEvent(event);
  },
  morvaWebWindowSync: function (json) {
    MorvaWebHost.ui.sync(JSON.parse(UTF8ToString(json)));
  },
  morvaWebWindowRemove: function (handle) {
    MorvaWebHost.ui.remove(handle);
  },
  morvaWebStageShow: function () {
    MorvaWebHost.stage.show();
  },
  morvaWebStageMode: function (width, height) {
    MorvaWebHost.stage.mode(width, height);
  },
  morvaWebStagePresent: function (rgba, width, height, timeUs) {
    MorvaWebHost.stage.present(rgba, width, height, timeUs);
  },
  morvaWebStageHide: function () {
    MorvaWebHost.stage.hide();
  },
  morvaWebCursor: function (show) {
    MorvaWebHost.stage.cursor(show);
  },
  morvaWebMessageBox: function (text, caption) {
    return Asyncify.handleSleep(function (wakeUp) {
      MorvaWebHost.messageBox(UTF8ToString(text), UTF8ToString(caption), wakeUp);
    });
  },
  morvaWebScreenWidth: function () {
    return window.innerWidth | 0;
  },
  morvaWebScreenHeight: function () {
    return window.innerHeight | 0;
  },
  morvaWebFinished: function (exitCode, timeUs) {
    MorvaWebHost.finished(exitCode, timeUs);
  },
  morvaWebAudioAvailable: function () {
    return MorvaWebHost.audio.available() ? 1 : 0;
  },
  morvaWebAudioOpen: function (rate, channels, bits) {
    return MorvaWebHost.audio.open(rate, channels, bits);
  },
  morvaWebAudioWrite: function (data, bytes) {
    MorvaWebHost.audio.write(data, bytes);
  },
  morvaWebAudioPlayed: function () {
    return MorvaWebHost.audio.played();
  },
  morvaWebAudioReset: function () {
    MorvaWebHost.audio.reset();
  },
  morvaWebAudioClose: function () {
    MorvaWebHost.audio.close();
  },
  morvaWebAudioCapture: function (startFrame, rate, channels, bits, data, bytes) {
    MorvaWebHost.audio.capture(startFrame, rate, channels, bits, data, bytes);
  },
  morvaWebAudioCut: function (frame, rate) {
    MorvaWebHost.audio.cut(frame, rate);
  },
  morvaWebOptionVirtualClock: function () {
    return MorvaWebHost.options().virtualClock ? 1 : 0;
  },
});

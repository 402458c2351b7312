// The show page: hands the page's elements to the program (Module.morva, read by the web back end)
// and says how the show went. Options in the address, for tests and screenshots:
//   ?test          the virtual clock (the show runs as fast as the machine allows, exactly as
//                  morva-capture records it); message boxes are noted and closed at once
//   go             press "GO!" as soon as the configuration window is there
//   do=A;B;...     click these controls, one after another as each appears in the window that
//                  has the keyboard: buttons, boxes and entries of a drop-down list by their text
//   stills=MS,...  keep the canvas as it stands at these show times (PNG)
//   audio=SECONDS  keep the first seconds of sound, played off line through Web Audio
//   escape=MS      press Escape at this show time
//   hold=MS        stop the show at this show time (for a screenshot)
//   report         the results below also on the page's own clock
//   post           the results also sent to the server that served the page (POST results)
// With ?test (or report) the results go into #results as JSON once the program has ended: the
// exit code, the show time at the end, frames, message boxes, stills, sound, and timings (the
// page time from the "GO!" click to the first frame, and between frames).
(function () {
  'use strict';

  var params = new URLSearchParams(location.search);
  var test = params.has('test');
  var numbers = function (name) {
    return (params.get(name) || '').split(',').filter(Boolean).map(Number).filter(function (n) {
      return n >= 0;
    }).sort(function (a, b) { return a - b; });
  };
  var stillTimes = numbers('stills');
  var audioSeconds = Number(params.get('audio') || 0);
  var escapeAt = params.has('escape') ? Number(params.get('escape')) : -1;
  var holdAt = params.has('hold') ? Number(params.get('hold')) : -1;

  var desktop = document.getElementById('desktop');
  var stage = document.getElementById('stage');
  var canvas = document.getElementById('canvas');
  var status = document.getElementById('status');

  var results = {
    exitCode: null,
    endMs: null,
    frames: 0,
    messages: [],
    stills: {},
    audio: null,
    timings: {},
  };
  var goPressedAt = -1;
  var firstFrameAt = -1;
  var presentTimes = []; // page time of every frame
  var presentShowMs = []; // and its show time
  var escapeSent = false;
  var held = false;
  var goClicked = false;
  var actions = (params.get('do') || '').split(';').filter(Boolean);

  var kept = []; // sound kept off line: { start, bytes }
  var keptFormat = null;

  function keepStillsBefore(timeUs) {
    while (stillTimes.length && stillTimes[0] * 1000 < timeUs)
      results.stills[stillTimes.shift()] = canvas.toDataURL('image/png');
  }

  var hooks = {
    present: function (timeUs) {
      var now = performance.now();
      if (firstFrameAt < 0) firstFrameAt = now;
      presentTimes.push(now);
      presentShowMs.push(timeUs / 1000);
      results.frames++;
      keepStillsBefore(timeUs);
      if (escapeAt >= 0 && !escapeSent && timeUs >= escapeAt * 1000) {
        escapeSent = true;
        document.dispatchEvent(new KeyboardEvent('keydown', { key: 'Escape', code: 'Escape', bubbles: true }));
      }
      if (holdAt >= 0 && !held && timeUs >= holdAt * 1000) {
        held = true;
        MorvaWebHost.pause();
        status.textContent = 'Stopped at ' + (timeUs / 1000).toFixed(0) + ' ms of the show.';
      }
    },
    window: function (json) {
      if (!json.active) return;
      var element = MorvaWebHost.ui.windowElement(json.h);
      if (actions.length) {
        if (act(element, actions[0])) actions.shift();
        return;
      }
      // "GO!" pressed for the test, as a user would: a click on the button.
      if (params.has('go') && !goClicked && act(element, 'GO!')) goClicked = true;
    },
    messageBox: function (caption, text) {
      results.messages.push(caption + '|' + text);
    },
    audio: function (startFrame, format, bytes) {
      if (!audioSeconds) return;
      if (!keptFormat) keptFormat = format;
      if (startFrame < audioSeconds * keptFormat.rate) kept.push({ start: startFrame, bytes: bytes });
    },
    cut: function (frame) {
      // A reset dropped what had not been played: it never sounded.
      if (!keptFormat) return;
      var frameBytes = keptFormat.channels * keptFormat.bits / 8;
      kept = kept.filter(function (block) { return block.start < frame; }).map(function (block) {
        var frames = Math.min(block.bytes.length / frameBytes, frame - block.start);
        return { start: block.start, bytes: block.bytes.subarray(0, frames * frameBytes) };
      });
    },
    finished: function (exitCode, timeUs) {
      keepStillsBefore(Infinity);
      results.exitCode = exitCode;
      results.endMs = Math.round(timeUs / 1000);
      status.textContent = endText(exitCode);
      var again = document.createElement('a');
      again.href = location.pathname;
      again.textContent = ' Play it again.';
      status.appendChild(again);
      if (test || params.has('report')) report();
    },
  };

  // Clicks the control of the window shown with this text (a button, a box by its label, an entry
  // of a drop-down list), once the page's turn comes, as a user would. False when there is none.
  function act(element, name) {
    if (!element) return false;
    var controls = element.querySelectorAll('button, label, option');
    var target = Array.prototype.find.call(controls, function (c) {
      if (c.textContent !== name) return false;
      if (c.tagName === 'OPTION') return !c.parentNode.disabled;
      if (c.tagName === 'LABEL') return !c.querySelector('input').disabled && c.offsetParent !== null;
      return !c.disabled && c.offsetParent !== null;
    });
    if (!target) return false;
    setTimeout(function () {
      if (target.tagName !== 'OPTION') return target.click();
      var list = target.parentNode;
      list.selectedIndex = target.index;
      list.dispatchEvent(new Event('change'));
    }, 0);
    return true;
  }

  function endText(exitCode) {
    switch (exitCode) {
      case 1: return 'The show has ended.';
      case 0: return 'The show was ended by the user.';
      case 255: return 'The sound library stopped the show with a fatal error.';
      default: return 'The show stopped (exit code ' + exitCode + ').';
    }
  }

  function base64(bytes) {
    var text = '';
    for (var i = 0; i < bytes.length; i += 0x8000)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }

  function frameTimes() {
    var gaps = [];
    for (var i = 1; i < presentTimes.length; ++i) gaps.push(presentTimes[i] - presentTimes[i - 1]);
    if (!gaps.length) return null;
    var sorted = gaps.slice().sort(function (a, b) { return a - b; });
    var mean = gaps.reduce(function (a, b) { return a + b; }, 0) / gaps.length;
    return { mean: mean, median: sorted[sorted.length >> 1], p95: sorted[Math.floor(sorted.length * 0.95)],
             max: sorted[sorted.length - 1] };
  }

  // Mean page time between frames for every 10 s of show time.
  function frameTimesByTenSeconds() {
    var sums = [], counts = [];
    for (var i = 1; i < presentTimes.length; ++i) {
      var bucket = Math.floor(presentShowMs[i] / 10000);
      sums[bucket] = (sums[bucket] || 0) + presentTimes[i] - presentTimes[i - 1];
      counts[bucket] = (counts[bucket] || 0) + 1;
    }
    return sums.map(function (sum, bucket) { return Math.round(sum / counts[bucket] * 100) / 100; });
  }

  function report() {
    results.timings = {
      goToFirstFrameMs: goPressedAt >= 0 && firstFrameAt >= 0 ? firstFrameAt - goPressedAt : null,
      frameMs: frameTimes(),
      frameMsPerTenSeconds: frameTimesByTenSeconds(),
      pageLoadToEndMs: performance.now(),
    };
    var write = function () {
      var out = document.getElementById('results');
      out.textContent = JSON.stringify(results);
      out.hidden = false;
      document.title = 'Morva: ended ' + results.exitCode;
      if (params.has('post')) fetch('results', { method: 'POST', body: out.textContent });
    };
    if (!audioSeconds || !keptFormat) return write();
    var frames = Math.round(audioSeconds * keptFormat.rate);
    MorvaWebHost.audio.renderOffline(kept, keptFormat, frames).then(function (rendered) {
      var pcm = new Int16Array(frames * rendered.numberOfChannels);
      for (var c = 0; c < rendered.numberOfChannels; ++c) {
        var data = rendered.getChannelData(c);
        for (var i = 0; i < frames; ++i)
          pcm[i * rendered.numberOfChannels + c] = Math.max(-32768, Math.min(32767, Math.round(data[i] * 32768)));
      }
      results.audio = { rate: keptFormat.rate, channels: rendered.numberOfChannels, frames: frames,
                        pcm16: base64(new Uint8Array(pcm.buffer)) };
      write();
    }, function (error) {
      results.audio = { error: String(error) };
      write();
    });
  }

  // The moment "GO!" is pressed, for the time to the first frame.
  document.addEventListener('click', function (event) {
    var button = event.target && event.target.closest && event.target.closest('button');
    if (goPressedAt < 0 && button && button.textContent === 'GO!') goPressedAt = performance.now();
  }, true);

  document.getElementById('fullscreen').addEventListener('click', function () {
    MorvaWebHost.stage.fullScreen();
  });

  window.Module = {
    morva: {
      desktop: desktop,
      stage: stage,
      canvas: canvas,
      virtualClock: test,
      autoDismiss: test,
      hooks: hooks,
    },
    setStatus: function (text) {
      if (results.exitCode === null) status.textContent = text ? text.replace(/\.\.\./, '…') : '';
    },
    print: function (text) { console.log(text); },
    printErr: function (text) { console.warn(text); },
    onAbort: function (what) {
      status.textContent = 'The page stopped: ' + what;
    },
  };
})();

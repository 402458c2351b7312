// The page side of the web back end (platform/web/webhost.cpp): the program's windows with
// controls as elements of the page, the show's stage with its canvas, message boxes, the keys and
// clicks the program takes, the waits that give the page its turn, and sound through Web Audio.
// The page hands its elements and hooks in Module.morva before the program starts:
//   desktop      element the windows with controls go into
//   stage        element shown while the show window is, holding
//   canvas       the canvas the frames go to
//   virtualClock true: the headless back end's virtual clock (a test run)
//   autoDismiss  true: message boxes are noted and closed at once (a test run)
//   hooks        optional functions: present(timeUs) before a frame is drawn, finished(exitCode,
//                timeUs), messageBox(caption, text), window(json) after a window was drawn,
//                audio(startFrame, format, bytes) and cut(frame, rate) for sound off line.
var MorvaWebHost = (function () {
  'use strict';

  function page() {
    return Module['morva'] || {};
  }
  function hook(name) {
    var hooks = page().hooks || {};
    return typeof hooks[name] === 'function' ? hooks[name] : null;
  }

  // --- waits -------------------------------------------------------------------------------

  // A turn of the event loop without the clamping of nested timers.
  var turnChannel = new MessageChannel();
  var turnQueue = [];
  turnChannel.port1.onmessage = function () {
    var next = turnQueue.shift();
    if (next) next();
  };
  function nextTurn(callback) {
    turnQueue.push(callback);
    turnChannel.port2.postMessage(0);
  }

  var events = [];
  var waker = null; // ends the program's wait for input early

  var paused = false;
  var heldWait = null; // a wait that ended while paused: it finishes on resume

  function wait(ms, wakeOnInput, wakeUp) {
    var done = false;
    var timer = 0;
    function finish() {
      if (done) return;
      done = true;
      if (timer) clearTimeout(timer);
      if (waker === finish) waker = null;
      if (paused) heldWait = wakeUp;
      else wakeUp();
    }
    if (wakeOnInput) {
      if (events.length) {
        nextTurn(finish);
        return;
      }
      waker = finish;
    }
    if (ms === 0) nextTurn(finish);
    else if (ms > 0) timer = setTimeout(finish, ms);
  }

  // Something the user did: kept for the program's next pump; a program waiting for input goes
  // on at once, still inside the page's event (so sound may start there).
  function pushEvent(event) {
    events.push(event);
    if (waker) {
      var resume = waker;
      waker = null;
      resume();
    }
  }

  // The program stops at its next wait until resume (a still for a screenshot, a pause button).
  function pause() {
    paused = true;
  }
  function resume() {
    paused = false;
    var held = heldWait;
    heldWait = null;
    if (held) held();
  }

  var eventKinds = { click: 1, type: 2, choose: 3, key: 4, close: 5, focus: 6 };

  function takeEvent(pointer) {
    var event = events.shift();
    if (!event) return 0;
    var at = pointer >> 2;
    HEAP32[at] = eventKinds[event.kind];
    HEAP32[at + 1] = event.handle | 0;
    HEAP32[at + 2] = event.value | 0;
    HEAP32[at + 3] = event.key | 0;
    HEAP32[at + 4] = event.modifiers | 0;
    HEAP32[at + 5] = 0;
    stringToUTF8(event.text || '', pointer + 24, 256);
    return 1;
  }

  // --- windows with controls ---------------------------------------------------------------

  var kind = { button: 1, checkBox: 2, groupBox: 3, comboBox: 4, listBox: 5, picture: 6, label: 7, radio: 8,
               edit: 9, comboEdit: 10 };
  var style = { defaultButton: 4, pushLike: 8, right: 32, number: 64, border: 128, clientEdge: 256,
                staticEdge: 512 };

  var windows = new Map(); // handle -> { element, client, title, controls: Map(handle -> element) }
  var focusing = false;    // the program moves the focus: not reported back

  // A control text with its mnemonic: "&Stereo" shows S underlined, "&&" a plain '&'.
  function setMnemonicText(element, text) {
    element.textContent = '';
    for (var i = 0; i < text.length; ++i) {
      var c = text[i];
      if (c === '&' && i + 1 < text.length) {
        ++i;
        if (text[i] !== '&') {
          var u = document.createElement('u');
          u.textContent = text[i];
          element.appendChild(u);
          continue;
        }
        c = '&';
      }
      element.appendChild(document.createTextNode(c));
    }
  }

  function makeControl(w, c) {
    var element;
    switch (c.kind) {
      case kind.button:
        element = document.createElement('button');
        element.type = 'button';
        element.addEventListener('click', function () { pushEvent({ kind: 'click', handle: c.h }); });
        break;
      case kind.checkBox:
      case kind.radio:
        if (c.kind === kind.checkBox && (c.style & style.pushLike)) {
          element = document.createElement('button');
          element.type = 'button';
          element.className = 'mw-pushlike';
          element.addEventListener('click', function () { pushEvent({ kind: 'click', handle: c.h }); });
          break;
        }
        element = document.createElement('label');
        var box = document.createElement('input');
        box.type = c.kind === kind.radio ? 'radio' : 'checkbox';
        box.name = 'mw-' + c.h; // the program, not the page, keeps radio groups
        box.addEventListener('click', function () { pushEvent({ kind: 'click', handle: c.h }); });
        element.appendChild(box);
        element.appendChild(document.createElement('span'));
        element.mwInput = box;
        break;
      case kind.groupBox:
        element = document.createElement('fieldset');
        element.appendChild(document.createElement('legend'));
        break;
      case kind.comboBox:
        element = document.createElement('select');
        element.addEventListener('change', function () {
          pushEvent({ kind: 'choose', handle: c.h, value: element.selectedIndex });
        });
        break;
      case kind.comboEdit:
        element = document.createElement('input');
        element.type = 'text';
        var list = document.createElement('datalist');
        list.id = 'mw-list-' + c.h;
        element.setAttribute('list', list.id);
        element.mwList = list;
        element.addEventListener('input', function () {
          pushEvent({ kind: 'type', handle: c.h, text: element.value });
        });
        break;
      case kind.edit:
        element = document.createElement('input');
        element.type = 'text';
        if (c.style & style.number) element.inputMode = 'numeric';
        element.addEventListener('input', function () {
          pushEvent({ kind: 'type', handle: c.h, text: element.value });
        });
        break;
      case kind.listBox:
        element = document.createElement('div');
        element.className = 'mw-listbox';
        break;
      case kind.picture:
        element = document.createElement('canvas');
        break;
      default:
        element = document.createElement('span');
        element.className = 'mw-label';
    }
    element.classList.add('mw-control');
    element.addEventListener('focus', function () {
      if (!focusing) pushEvent({ kind: 'focus', handle: c.h });
    }, true);
    element.style.left = c.x + 'px';
    element.style.top = c.y + 'px';
    element.style.width = c.w + 'px';
    // A drop-down list is given the height it has open; closed it is one line.
    element.style.height = (c.kind === kind.comboBox || c.kind === kind.comboEdit ? 21 : c.ht) + 'px';
    if (element.mwList) w.client.appendChild(element.mwList);
    w.client.appendChild(element);
    return element;
  }

  function updateControl(element, c) {
    element.style.display = c.visible ? '' : 'none';
    var disabled = !c.enabled;
    switch (c.kind) {
      case kind.button:
        setMnemonicText(element, c.text);
        element.disabled = disabled;
        element.classList.toggle('mw-default', (c.style & style.defaultButton) !== 0);
        break;
      case kind.checkBox:
      case kind.radio:
        if (element.mwInput) {
          setMnemonicText(element.lastChild, c.text);
          element.mwInput.checked = !!c.checked;
          element.mwInput.disabled = disabled;
          element.classList.toggle('mw-disabled', disabled);
        } else {
          setMnemonicText(element, c.text);
          element.disabled = disabled;
          element.classList.toggle('mw-pressed', !!c.checked);
          element.setAttribute('aria-pressed', c.checked ? 'true' : 'false');
        }
        break;
      case kind.groupBox:
        setMnemonicText(element.firstChild, c.text);
        element.firstChild.style.display = c.text ? '' : 'none';
        break;
      case kind.comboBox:
        if (element.mwEntries !== JSON.stringify(c.entries)) {
          element.mwEntries = JSON.stringify(c.entries);
          element.textContent = '';
          c.entries.forEach(function (text) {
            var option = document.createElement('option');
            option.textContent = text;
            element.appendChild(option);
          });
        }
        element.selectedIndex = c.sel;
        element.disabled = disabled;
        break;
      case kind.comboEdit:
        if (element.mwEntries !== JSON.stringify(c.entries)) {
          element.mwEntries = JSON.stringify(c.entries);
          element.mwList.textContent = '';
          c.entries.forEach(function (text) {
            var option = document.createElement('option');
            option.value = text;
            element.mwList.appendChild(option);
          });
        }
        if (element.value !== c.text) element.value = c.text;
        element.disabled = disabled;
        break;
      case kind.edit:
        if (element.value !== c.text) element.value = c.text;
        element.disabled = disabled;
        break;
      case kind.listBox:
        var lines = element.childNodes.length;
        if (lines > c.entries.length) {
          element.textContent = '';
          lines = 0;
        }
        for (var i = lines; i < c.entries.length; ++i) {
          var line = document.createElement('div');
          line.textContent = c.entries[i] || '\u00a0';
          element.appendChild(line);
        }
        if (lines !== c.entries.length) element.scrollTop = element.scrollHeight;
        break;
      case kind.picture:
        if (c.bitmap && !element.mwDrawn) {
          drawBitmap(element, c.bitmap[0], c.bitmap[1], c.bitmap[2]);
          element.mwDrawn = true;
        }
        break;
      default:
        setMnemonicText(element, c.text);
        element.style.textAlign = (c.style & style.right) ? 'right' : 'left';
    }
    if (c.kind === kind.label || element.mwInput) fitText(element);
    element.classList.toggle('mw-client-edge', (c.style & style.clientEdge) !== 0);
    element.classList.toggle('mw-static-edge', (c.style & (style.staticEdge | style.border)) !== 0);
  }

  // A text wider than its control (the page's font is not the one the dialog was laid out for)
  // is set a little smaller rather than run into the next control.
  function fitText(element) {
    element.style.fontSize = '';
    if (element.style.display === 'none' || !element.clientWidth) return;
    var needed = element.scrollWidth, room = element.clientWidth;
    if (needed > room) element.style.fontSize = (parseFloat(getComputedStyle(element).fontSize) * room / needed) + 'px';
  }

  // The program's picture: 0xAARRGGBB words in its memory.
  function drawBitmap(canvas, pointer, width, height) {
    canvas.width = width;
    canvas.height = height;
    var image = canvas.getContext('2d').createImageData(width, height);
    var words = HEAPU32.subarray(pointer >> 2, (pointer >> 2) + width * height);
    for (var i = 0; i < words.length; ++i) {
      var argb = words[i];
      image.data[i * 4] = (argb >>> 16) & 255;
      image.data[i * 4 + 1] = (argb >>> 8) & 255;
      image.data[i * 4 + 2] = argb & 255;
      image.data[i * 4 + 3] = (argb >>> 24) & 255;
    }
    canvas.getContext('2d').putImageData(image, 0, 0);
  }

  function makeWindow(json) {
    var element = document.createElement('div');
    element.className = 'mw-window';
    element.setAttribute('role', 'dialog');
    var bar = document.createElement('div');
    bar.className = 'mw-title';
    var title = document.createElement('span');
    var close = document.createElement('button');
    close.type = 'button';
    close.className = 'mw-close';
    close.title = 'Close';
    close.textContent = '\u00d7';
    close.addEventListener('click', function () { pushEvent({ kind: 'close', handle: json.h }); });
    bar.appendChild(title);
    bar.appendChild(close);
    var client = document.createElement('div');
    client.className = 'mw-client';
    element.appendChild(bar);
    element.appendChild(client);
    var holder = element;
    if (json.dialog) {
      // A dialog sits over the page, which waits behind it.
      holder = document.createElement('div');
      holder.className = 'mw-modal';
      holder.appendChild(element);
    }
    (page().desktop || document.body).appendChild(holder);
    return { holder: holder, element: element, title: title, client: client, controls: new Map() };
  }

  function sync(json) {
    var w = windows.get(json.h);
    if (!w) {
      w = makeWindow(json);
      windows.set(json.h, w);
    }
    w.holder.style.display = json.visible ? '' : 'none';
    w.title.textContent = json.title;
    w.element.dataset.className = json.className;
    w.client.style.width = json.w + 'px';
    w.client.style.height = json.ht + 'px';
    w.element.classList.toggle('mw-disabled', !json.enabled);
    w.element.classList.toggle('mw-active', !!json.active);
    var seen = new Set();
    json.controls.forEach(function (c) {
      var element = w.controls.get(c.h);
      if (!element) {
        element = makeControl(w, c);
        w.controls.set(c.h, element);
      }
      updateControl(element, c);
      seen.add(c.h);
    });
    w.controls.forEach(function (element, handle) {
      if (seen.has(handle)) return;
      element.remove();
      if (element.mwList) element.mwList.remove();
      w.controls.delete(handle);
    });
    // The program's focus is the page's, while the stage does not cover the window.
    var focused = w.controls.get(json.focus);
    if (json.active && json.visible && focused && !stageShown) {
      var target = focused.mwInput || focused;
      if (document.activeElement !== target) {
        focusing = true;
        target.focus();
        focusing = false;
      }
    }
    var after = hook('window');
    if (after) after(json);
  }

  function remove(handle) {
    var w = windows.get(handle);
    if (!w) return;
    w.holder.remove();
    windows.delete(handle);
  }

  // The element a window was drawn as (tests and the page's own script).
  function windowElement(handle) {
    var w = windows.get(handle);
    return w ? w.element : null;
  }

  // --- keys --------------------------------------------------------------------------------

  var namedKeys = { Escape: 0x1b, Enter: 0x0d, Tab: 0x09, ' ': 0x20, ArrowLeft: 0x25, ArrowUp: 0x26,
                    ArrowRight: 0x27, ArrowDown: 0x28 };

  function virtualKey(event) {
    if (namedKeys[event.key] !== undefined) return namedKeys[event.key];
    var code = event.code || '';
    if (/^Key[A-Z]$/.test(code)) return code.charCodeAt(3);
    if (/^Digit[0-9]$/.test(code)) return code.charCodeAt(5);
    return 0;
  }

  function isTextField(target) {
    return target && target.tagName === 'INPUT' && target.type === 'text';
  }

  function isPressable(target) {
    return target && (target.tagName === 'BUTTON' ||
                      (target.tagName === 'INPUT' && (target.type === 'checkbox' || target.type === 'radio')));
  }

  function keyDown(event) {
    if (messageBoxOpen && (event.key === 'Enter' || event.key === 'Escape' || event.key === ' ')) {
      event.preventDefault();
      messageBoxOpen();
      return;
    }
    if (event.ctrlKey || event.metaKey) return; // the browser's own shortcuts
    var key = virtualKey(event);
    if (!key) return;
    var modifiers = (event.shiftKey ? 1 : 0) | (event.altKey ? 2 : 0);
    if (stageShown) {
      event.preventDefault();
      pushEvent({ kind: 'key', key: key, modifiers: 0 });
      return;
    }
    if (!windows.size) return;
    var target = event.target;
    if (key === 0x20 && isPressable(target)) return; // the page's own click follows
    if (isTextField(target) && !event.altKey && (key === 0x25 || key === 0x27 || key === 0x20 ||
                                                 (key >= 0x30 && key <= 0x5a))) return; // typing
    event.preventDefault();
    pushEvent({ kind: 'key', key: key, modifiers: modifiers });
  }

  // --- the stage -------------------------------------------------------------------------

  var stageShown = false;
  var context2d = null;

  // The frame as large as the stage allows, every pixel square.
  function fit() {
    var p = page();
    if (!p.stage || !p.canvas || !p.canvas.width) return;
    var box = p.stage.getBoundingClientRect();
    var scale = Math.min(box.width / p.canvas.width, box.height / p.canvas.height);
    if (!(scale > 0)) return;
    p.canvas.style.width = Math.floor(p.canvas.width * scale) + 'px';
    p.canvas.style.height = Math.floor(p.canvas.height * scale) + 'px';
  }

  var stage = {
    show: function () {
      var p = page();
      stageShown = true;
      if (p.stage) p.stage.hidden = false;
      if (document.activeElement && document.activeElement.blur) document.activeElement.blur();
      fit();
    },
    mode: function (width, height) {
      var p = page();
      if (!p.canvas) return;
      p.canvas.width = width;
      p.canvas.height = height;
      context2d = p.canvas.getContext('2d', { alpha: false });
      context2d.fillStyle = '#000';
      context2d.fillRect(0, 0, width, height);
      fit();
    },
    present: function (pointer, width, height, timeUs) {
      var before = hook('present');
      if (before) before(timeUs);
      if (!context2d) return;
      var pixels = new Uint8ClampedArray(HEAPU8.buffer, pointer, width * height * 4);
      context2d.putImageData(new ImageData(pixels, width, height), 0, 0);
    },
    hide: function () {
      var p = page();
      stageShown = false;
      if (p.stage) p.stage.hidden = true;
      if (document.fullscreenElement && document.exitFullscreen) document.exitFullscreen().catch(function () {});
    },
    cursor: function (show) {
      var p = page();
      if (p.canvas) p.canvas.style.cursor = show ? '' : 'none';
    },
    // The stage full screen; Escape then still reaches the show where the browser allows it.
    fullScreen: function () {
      var p = page();
      if (!p.stage || !p.stage.requestFullscreen) return;
      p.stage.requestFullscreen().then(function () {
        if (navigator.keyboard && navigator.keyboard.lock) navigator.keyboard.lock(['Escape']).catch(function () {});
      }).catch(function () {});
    },
    fit: fit,
  };

  // --- message boxes -----------------------------------------------------------------------

  var messageBoxOpen = null; // closes the open box

  function messageBox(text, caption, wakeUp) {
    var noted = hook('messageBox');
    if (noted) noted(caption, text);
    var p = page();
    var holder = document.createElement('div');
    holder.className = 'mw-modal';
    var box = document.createElement('div');
    box.className = 'mw-window mw-messagebox mw-active';
    box.setAttribute('role', 'alertdialog');
    var bar = document.createElement('div');
    bar.className = 'mw-title';
    bar.textContent = caption;
    var body = document.createElement('div');
    body.className = 'mw-message';
    body.textContent = text;
    var ok = document.createElement('button');
    ok.type = 'button';
    ok.textContent = 'OK';
    box.appendChild(bar);
    box.appendChild(body);
    box.appendChild(ok);
    holder.appendChild(box);
    (p.desktop || document.body).appendChild(holder);
    function close() {
      if (messageBoxOpen !== close) return;
      messageBoxOpen = null;
      if (!p.autoDismiss) holder.remove();
      else holder.classList.add('mw-dismissed');
      wakeUp();
    }
    messageBoxOpen = close;
    ok.addEventListener('click', close);
    if (p.autoDismiss) nextTurn(close);
    else ok.focus();
  }

  // --- sound -------------------------------------------------------------------------------

  var AudioContextClass = window.AudioContext || window.webkitAudioContext;
  var live = null; // { context, format, written, played, queue: [{end, endFrame, source}], nextTime }
  var finishedRun = false;

  // The program's samples (8-bit unsigned or 16-bit signed, channels interleaved) as an
  // AudioBuffer of the context's kind; live play and the off-line render share it.
  function toAudioBuffer(context, format, bytes) {
    var frameBytes = format.channels * format.bits / 8;
    var frames = Math.floor(bytes.length / frameBytes);
    var buffer = context.createBuffer(format.channels, Math.max(frames, 1), format.rate);
    var channels = [];
    for (var c = 0; c < format.channels; ++c) channels.push(buffer.getChannelData(c));
    if (format.bits === 16) {
      var view = new DataView(bytes.buffer, bytes.byteOffset, frames * frameBytes);
      for (var i = 0, at = 0; i < frames; ++i)
        for (var k = 0; k < format.channels; ++k, at += 2) channels[k][i] = view.getInt16(at, true) / 32768;
    } else {
      for (var j = 0, b = 0; j < frames; ++j)
        for (var m = 0; m < format.channels; ++m, ++b) channels[m][j] = (bytes[b] - 128) / 128;
    }
    return buffer;
  }

  // Blocks that have ended count as played.
  function catchUp() {
    if (!live) return 0;
    var now = live.context.currentTime;
    while (live.queue.length && live.queue[0].end <= now) live.played = live.queue.shift().endFrame;
    return live.played;
  }

  // Starts the page's sound where the browser waits for the user: at every click and key.
  function wakeSound() {
    if (live && live.context.state === 'suspended') live.context.resume().catch(function () {});
  }

  var audio = {
    available: function () {
      return !!AudioContextClass;
    },
    open: function (rate, channels, bits) {
      if (!AudioContextClass) return 6; // no driver
      try {
        var context = live && live.context.sampleRate === rate ? live.context : new AudioContextClass({ sampleRate: rate });
        if (live && live.context !== context) live.context.close().catch(function () {});
        live = { context: context, format: { rate: rate, channels: channels, bits: bits }, written: 0, played: 0,
                 queue: [], nextTime: 0 };
      } catch (error) {
        return 32; // this rate cannot be played
      }
      wakeSound();
      return 0;
    },
    write: function (pointer, bytes) {
      if (!live) return;
      var buffer = toAudioBuffer(live.context, live.format, HEAPU8.subarray(pointer, pointer + bytes));
      var source = live.context.createBufferSource();
      source.buffer = buffer;
      source.connect(live.context.destination);
      // Straight after the block before it; after a gap, a little ahead of now.
      var start = Math.max(live.nextTime, live.context.currentTime + 0.02);
      source.start(start);
      live.nextTime = start + buffer.length / live.format.rate;
      live.written += buffer.length;
      var entry = { end: live.nextTime, endFrame: live.written, source: source };
      live.queue.push(entry);
      var owner = live;
      source.onended = function () {
        if (live !== owner || finishedRun) return;
        catchUp();
        Module['_morva_web_sound_played']();
      };
    },
    played: function () {
      return catchUp();
    },
    reset: function () {
      if (!live) return;
      live.queue.forEach(function (entry) {
        entry.source.onended = null;
        try { entry.source.stop(); } catch (error) { /* not started yet */ }
      });
      live.queue = [];
      live.played = live.written;
      live.nextTime = 0;
    },
    close: function () {
      audio.reset();
      if (live) live.context.suspend().catch(function () {});
    },
    capture: function (startFrame, rate, channels, bits, pointer, bytes) {
      var kept = hook('audio');
      if (kept) kept(startFrame, { rate: rate, channels: channels, bits: bits }, HEAPU8.slice(pointer, pointer + bytes));
    },
    cut: function (frame, rate) {
      var kept = hook('cut');
      if (kept) kept(frame, rate);
    },
    // Sound kept off line, played through Web Audio off line: blocks [{start, bytes}] of one
    // format laid on a timeline of `frames` frames (gaps silent), rendered by an
    // OfflineAudioContext at the format's rate. Resolves to the rendered AudioBuffer.
    renderOffline: function (blocks, format, frames) {
      var frameBytes = format.channels * format.bits / 8;
      var timeline = new Uint8Array(frames * frameBytes);
      if (format.bits === 8) timeline.fill(128);
      blocks.forEach(function (block) {
        if (block.start >= frames) return;
        var length = Math.min(block.bytes.length, (frames - block.start) * frameBytes);
        timeline.set(block.bytes.subarray(0, length), block.start * frameBytes);
      });
      var context = new OfflineAudioContext(format.channels, frames, format.rate);
      var source = context.createBufferSource();
      source.buffer = toAudioBuffer(context, format, timeline);
      source.connect(context.destination);
      source.start(0);
      return context.startRendering();
    },
  };

  // --- start and end -----------------------------------------------------------------------

  function finished(exitCode, timeUs) {
    finishedRun = true;
    var after = hook('finished');
    if (after) after(exitCode, timeUs);
  }

  function options() {
    return page();
  }

  if (typeof document !== 'undefined') {
    // The program's end (exitProcess) unwinds it with emscripten's ExitStatus, from wherever the
    // page had resumed it: that is its normal way out, not an error of the page.
    window.addEventListener('error', function (event) {
      if (event.error instanceof ExitStatus) event.preventDefault();
    });
    document.addEventListener('keydown', keyDown);
    document.addEventListener('pointerdown', wakeSound, true);
    document.addEventListener('keydown', wakeSound, true);
    window.addEventListener('resize', fit);
    document.addEventListener('fullscreenchange', fit);
  }

  return {
    wait: wait,
    takeEvent: takeEvent,
    ui: { sync: sync, remove: remove, windowElement: windowElement },
    stage: stage,
    messageBox: messageBox,
    audio: audio,
    finished: finished,
    options: options,
    pause: pause,
    resume: resume,
  };
})();

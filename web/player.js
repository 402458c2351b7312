// The module player page: files chosen or dropped go to the sound library's render interface
// (web/player.cpp), whose float frames are queued into Web Audio a little ahead of what is heard.
// The position shown is the one of the frame being heard; a seek is exact (the library renders
// from the chosen time as playing to it would). Options in the address, for tests:
//   ?file=URL (several allowed)  load these modules from the server as a playlist
//   test                         play each file for a second, seek into it, make its WAVE file,
//                                go on with "Next file", and write what was found into #results
//   post                         and send it to the server that served the page (POST results)
(function () {
  'use strict';

  var params = new URLSearchParams(location.search);
  var test = params.has('test');
  var chunkFrames = 2048; // rendered at a time
  var ahead = 0.35;       // seconds queued ahead of what is heard

  var $ = function (id) { return document.getElementById(id); };
  var files = [];          // { name, bytes (Uint8Array) or file (File) }
  var current = -1;
  var info = null;
  var context = null;
  var queue = [];          // { time, end, position, source }: chunks queued into Web Audio
  var nextTime = 0;
  var paused = false;
  var renderEnded = false;
  var seeking = false;
  var ready = false;
  var results = { files: [] };

  function status(text) {
    $('status').textContent = text;
  }

  function clock(ms) {
    if (ms < 0) return 'unknown';
    var minutes = Math.floor(ms / 60000);
    var seconds = (ms % 60000) / 1000;
    return minutes + ':' + (seconds < 10 ? '0' : '') + seconds.toFixed(3);
  }

  function audio() {
    if (!context) {
      var AudioContextClass = window.AudioContext || window.webkitAudioContext;
      context = new AudioContextClass();
    }
    if (context.state === 'suspended' && !paused) context.resume().catch(function () {});
    return context;
  }

  // Where the library stands now: frame, ms, subsong, order, pattern, row, rows, ended.
  function position() {
    var at = Module._malloc(32);
    Module._player_position(at);
    var p = HEAP32.subarray(at >> 2, (at >> 2) + 8);
    var result = { frame: p[0], ms: p[1], subsong: p[2], order: p[3], pattern: p[4], row: p[5], rows: p[6],
                   ended: p[7] };
    Module._free(at);
    return result;
  }

  function stopQueued() {
    queue.forEach(function (chunk) {
      chunk.source.onended = null;
      try { chunk.source.stop(); } catch (error) { /* never started */ }
    });
    queue = [];
    nextTime = 0;
    renderEnded = false;
  }

  // Keeps Web Audio fed: chunks rendered and queued back to back until `ahead` seconds are.
  function pump() {
    if (!context || current < 0 || paused || seeking) return;
    var rate = info.rate;
    while (!renderEnded && nextTime < context.currentTime + ahead) {
      if (nextTime < context.currentTime + 0.02) nextTime = context.currentTime + 0.05; // ran dry
      var at = position();
      var frames = Module._player_render(chunkFrames);
      if (frames <= 0) {
        renderEnded = true;
        break;
      }
      var buffer = context.createBuffer(2, frames, rate);
      var left = buffer.getChannelData(0), right = buffer.getChannelData(1);
      var samples = HEAPF32.subarray(Module._player_chunk() >> 2, (Module._player_chunk() >> 2) + frames * 2);
      for (var i = 0; i < frames; ++i) {
        left[i] = samples[2 * i];
        right[i] = samples[2 * i + 1];
      }
      var source = context.createBufferSource();
      source.buffer = buffer;
      source.connect(context.destination);
      source.start(nextTime);
      source.onended = pump;
      queue.push({ time: nextTime, end: nextTime + frames / rate, position: at, source: source });
      nextTime += frames / rate;
    }
    while (queue.length > 1 && queue[1].time <= context.currentTime) queue.shift();
    if (renderEnded && queue.length && context.currentTime >= queue[queue.length - 1].end) songEnded();
  }

  // The position of the frame being heard.
  function heard() {
    if (!queue.length || !context) return position();
    var chunk = queue[0];
    var into = Math.max(0, context.currentTime - chunk.time);
    var p = Object.assign({}, chunk.position);
    p.ms += Math.floor(into * 1000);
    return p;
  }

  function show() {
    if (current < 0 || !info) return;
    var p = heard();
    $('order').textContent = p.order;
    $('row').textContent = p.row;
    $('rows').textContent = p.rows;
    $('time').textContent = clock(p.ms);
    if (!seeking) $('seek').value = String(p.ms);
  }

  function subsongInfo() {
    return info.subsongs[position().subsong] || info.subsongs[0];
  }

  function describe() {
    var file = files[current];
    var song = subsongInfo();
    $('now').hidden = false;
    $('title').textContent = info.name.trim() || file.name;
    var meta = info.format + ' · ' + info.channels + ' channels · ' + info.orders + ' orders · ' +
               info.instruments + ' instruments · ' + file.name;
    if (info.samplesCut) meta += ' · the file ends early: ' + info.samplesCut + ' samples cut short';
    $('meta').textContent = meta;
    $('orders').textContent = info.orders;
    $('duration').textContent = clock(song.ms);
    $('seek').max = String(Math.max(song.ms, 0));
    $('seek').disabled = song.ms < 0;
    var list = $('subsong');
    list.textContent = '';
    info.subsongs.forEach(function (s, i) {
      var option = document.createElement('option');
      option.textContent = (i + 1) + ' (order ' + s.start + ', ' + clock(s.ms) + ')';
      list.appendChild(option);
    });
    list.selectedIndex = position().subsong;
    $('subsongs').hidden = info.subsongs.length < 2;
    Array.prototype.forEach.call($('playlist').children, function (item, i) {
      item.classList.toggle('current', i === current);
    });
  }

  function bytesOf(file) {
    if (file.bytes) return Promise.resolve(file.bytes);
    return file.file.arrayBuffer().then(function (buffer) { return new Uint8Array(buffer); });
  }

  function load(index) {
    if (!ready || !files.length) return Promise.resolve(false);
    index = (index + files.length) % files.length;
    stopQueued();
    current = -1;
    status('Loading ' + files[index].name + '…');
    return bytesOf(files[index]).then(function (bytes) {
      var rate = audio().sampleRate;
      var at = Module._malloc(bytes.length);
      HEAPU8.set(bytes, at);
      var loaded = Module._player_load(at, bytes.length, Math.min(Math.max(rate, 8000), 96000));
      Module._free(at);
      if (!loaded) {
        status(files[index].name + ': ' + UTF8ToString(Module._player_error()));
        return false;
      }
      info = JSON.parse(UTF8ToString(Module._player_info()));
      current = index;
      describe();
      status('');
      pump();
      return true;
    });
  }

  function songEnded() {
    stopQueued();
    if (files.length > 1 && !test) load(current + 1);
    else {
      paused = true;
      $('play').textContent = 'Play';
      status('The song has ended.');
    }
  }

  function addFiles(list) {
    var first = files.length;
    Array.prototype.forEach.call(list, function (entry) {
      files.push(entry);
      var item = document.createElement('li');
      var button = document.createElement('button');
      button.type = 'button';
      button.textContent = entry.name;
      var index = files.length - 1;
      button.addEventListener('click', function () { paused = false; $('play').textContent = 'Pause'; load(index); });
      item.appendChild(button);
      $('playlist').appendChild(item);
    });
    if (current < 0 && files.length > first) load(first);
  }

  function seekTo(ms) {
    stopQueued();
    Module._player_seek(ms);
    pump();
  }

  function waveFile() {
    status('Rendering the song as a WAVE file…');
    return new Promise(function (resolve) {
      setTimeout(function () {
        var size = Module._player_make_wave();
        if (!size) {
          status('No WAVE file: ' + UTF8ToString(Module._player_error()));
          return resolve(null);
        }
        var bytes = HEAPU8.slice(Module._player_wave(), Module._player_wave() + size);
        Module._player_free_wave();
        status('');
        resolve(bytes);
      }, 30);
    });
  }

  // --- the page's controls -----------------------------------------------------------------

  $('files').addEventListener('change', function (event) {
    addFiles(Array.prototype.map.call(event.target.files, function (f) { return { name: f.name, file: f }; }));
    event.target.value = '';
  });
  var drop = $('drop');
  ['dragenter', 'dragover'].forEach(function (kind) {
    drop.addEventListener(kind, function (event) {
      event.preventDefault();
      drop.classList.add('over');
    });
  });
  ['dragleave', 'drop'].forEach(function (kind) {
    drop.addEventListener(kind, function () { drop.classList.remove('over'); });
  });
  drop.addEventListener('drop', function (event) {
    event.preventDefault();
    addFiles(Array.prototype.map.call(event.dataTransfer.files, function (f) { return { name: f.name, file: f }; }));
  });
  $('play').addEventListener('click', function () {
    if (!context) return;
    paused = !paused;
    $('play').textContent = paused ? 'Play' : 'Pause';
    if (paused) context.suspend();
    else if (renderEnded && !queue.length) { paused = false; seekTo(0); context.resume(); }
    else context.resume().then(pump);
  });
  $('next').addEventListener('click', function () {
    paused = false;
    $('play').textContent = 'Pause';
    load(current + 1);
  });
  $('seek').addEventListener('input', function () {
    seeking = true;
    $('time').textContent = clock(Number($('seek').value));
  });
  $('seek').addEventListener('change', function () {
    seeking = false;
    seekTo(Number($('seek').value));
  });
  $('subsong').addEventListener('change', function () {
    stopQueued();
    Module._player_subsong($('subsong').selectedIndex);
    describe();
    pump();
  });
  $('wave').addEventListener('click', function () {
    var name = files[current].name.replace(/\.[^.]*$/, '') + '.wav';
    waveFile().then(function (bytes) {
      if (!bytes) return;
      var link = document.createElement('a');
      link.href = URL.createObjectURL(new Blob([bytes], { type: 'audio/wav' }));
      link.download = name;
      document.body.appendChild(link);
      link.click();
      setTimeout(function () { URL.revokeObjectURL(link.href); link.remove(); }, 10000);
    });
  });
  document.addEventListener('keydown', function (event) {
    if (event.target.tagName === 'INPUT' && event.target.type !== 'range') return;
    if (event.key === ' ' && current >= 0) { event.preventDefault(); $('play').click(); }
    if (event.key === 'n' && current >= 0) $('next').click();
  });

  setInterval(pump, 50);
  (function frame() {
    show();
    requestAnimationFrame(frame);
  })();

  // --- a test run ----------------------------------------------------------------------------

  function until(condition, timeoutMs) {
    var started = Date.now();
    return new Promise(function (resolve) {
      (function check() {
        if (condition()) return resolve(true);
        if (Date.now() - started > timeoutMs) return resolve(false);
        setTimeout(check, 20);
      })();
    });
  }

  // Each file: loaded, heard for a second, a seek to a third of the song, its WAVE file; then Next.
  function testFile(index) {
    var found = { file: files[index].name };
    results.files.push(found);
    return until(function () { return current === index; }, 20000).then(function () {
      found.name = info.name;
      found.format = info.format;
      found.channels = info.channels;
      found.durationMs = subsongInfo().ms;
      found.durationFrames = subsongInfo().frames;
      found.rate = info.rate;
      found.subsongs = info.subsongs.length;
      return until(function () { return heard().ms >= 1000; }, 30000);
    }).then(function (played) {
      found.played = played;
      found.heardMs = heard().ms;
      var target = Math.floor(Math.max(found.durationMs, 0) / 3);
      stopQueued();
      Module._player_seek(target);
      found.seekTarget = target;
      found.afterSeek = position();
      pump();
      return waveFile();
    }).then(function (bytes) {
      found.waveBytes = bytes ? bytes.length : 0;
      if (index + 1 < files.length) {
        $('next').click();
        return testFile(index + 1);
      }
    });
  }

  function runTest() {
    testFile(0).then(function () {
      var out = $('results');
      out.textContent = JSON.stringify(results);
      out.hidden = false;
      document.title = 'virezplay: tested';
      if (params.has('post')) fetch('results', { method: 'POST', body: out.textContent });
    });
  }

  window.Module = {
    onRuntimeInitialized: function () {
      ready = true;
      status(files.length ? '' : 'Choose or drop module files to play them.');
      var urls = params.getAll('file');
      if (!urls.length) return load(0);
      Promise.all(urls.map(function (url) {
        return fetch(url).then(function (response) {
          if (!response.ok) throw new Error(url + ': ' + response.status);
          return response.arrayBuffer();
        }).then(function (buffer) {
          return { name: decodeURIComponent(url.split('/').pop()), bytes: new Uint8Array(buffer) };
        });
      })).then(function (list) {
        addFiles(list);
        if (test) runTest();
      }, function (error) { status(String(error)); });
    },
    print: function (text) { console.log(text); },
    printErr: function (text) { console.warn(text); },
  };
})();

#!/usr/bin/env python3
"""The web pages' tests: the pages in headless Chromium, served from 127.0.0.1 with the module
corpus beside them, compared with the native programs of the same sources. Each test page sends
what it found back to the server (POST /results) and the browser is closed.

    web/test/run.py NATIVE_BUILD WEB_BUILD

- the show page on its virtual clock plays to its end, as morva-capture records the show;
- canvas snapshots at chosen show times equal morva-capture's stills of the same times;
- the page's first seconds of sound, played off line through Web Audio, equal the sound
  morva-capture renders natively for the same song;
- Escape ends the show with its message;
- the sound setup chosen in the page ("Audio Config", a quality, OK) mixes as natively;
- the floating-point tables the page builds equal the native ones (if not: which, by how much);
- the player page plays a corpus module of each format one after another ("Next file") and reports
  the duration virezplay --info reports; a seek lands on its frame; the WAVE file is the whole song.

Ends with one line "N passed, N failed"; the exit code is 1 when anything failed.
"""
import base64
import functools
import http.server
import json
import os
import shutil
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import png  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", ".."))
MODULES = os.path.abspath(os.path.join(SOURCE, "..", "shared", "modules"))

STILLS = [5000, 15000, 40000, 60000, 120000, 150000]  # warning, lens, title, water, tunnel twice
SOUND_SECONDS = 8  # the music starts after the 3 s warning screen
ESCAPE_AT = 20000

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--autoplay-policy=no-user-gesture-required", "--window-size=1024,768", "--mute-audio",
]


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            print("ok      %s%s" % (name, (": " + detail) if detail else ""))
        else:
            self.failed += 1
            print("FAILED  %s%s" % (name, (": " + detail) if detail else ""))
        sys.stdout.flush()


class PageHandler(http.server.SimpleHTTPRequestHandler):
    """Serves the pages, and takes the results a test page POSTs to /results."""

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(min(length, 64 << 20))
        self.send_response(204)
        self.end_headers()
        if self.path.split("?")[0] == "/results":
            self.server.results = body
            self.server.arrived.set()


class Server:
    """The pages on 127.0.0.1, on a free port, with a corpus module beside them for the player."""

    def __init__(self, root):
        handler = functools.partial(PageHandler, directory=root)
        socketserver.TCPServer.allow_reuse_address = True
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.httpd.results = None
        self.httpd.arrived = threading.Event()
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def page_results(server, page, profile, timeout=600):
    """Opens the page in headless Chromium on the page's own clock and waits for the results it
    POSTs when its test is done. Returns (results or None, seconds taken)."""
    started = time.time()
    server.httpd.results = None
    server.httpd.arrived.clear()
    command = [chromium()] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile, server.url(page + "&post")]
    browser = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        server.httpd.arrived.wait(timeout)
    finally:
        browser.terminate()
        try:
            browser.wait(20)
        except subprocess.TimeoutExpired:
            browser.kill()
            browser.wait()
    elapsed = time.time() - started
    body = server.httpd.results
    return (json.loads(body.decode("utf-8")) if body else None), elapsed


def wav_data(path):
    """The sample bytes and the format of a PCM WAVE file."""
    with open(path, "rb") as f:
        data = f.read()
    at, fmt = 12, None
    while at + 8 <= len(data):
        kind, length = struct.unpack("<4sI", data[at:at + 8])
        if kind == b"fmt ":
            fmt = struct.unpack("<HHIIHH", data[at + 8:at + 24])
        if kind == b"data":
            return data[at + 8:at + 8 + length], fmt
        at += 8 + length + (length & 1)
    raise ValueError("no data in " + path)


def compare_pixels(a, b):
    differing = sum(1 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3])
    largest = max((abs(x - y) for x, y in zip(a, b)), default=0)
    return differing, largest


def native_capture(native_build, folder, extra):
    command = [os.path.join(native_build, "bin", "morva-capture"), "--out", folder] + extra
    done = subprocess.run(command, cwd=os.path.join(native_build, "data"), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=600)
    events = open(os.path.join(folder, "events.tsv")).read().splitlines()
    frames = sum(1 for line in events if line.split("\t")[1] == "present")
    end = [int(line.split("\t")[0]) for line in events if line.split("\t")[1] == "exit"]
    boxes = [line.split("\t")[2] for line in events if line.split("\t")[1] == "messagebox"]
    return {"exitCode": done.returncode, "frames": frames, "endMs": end[0] if end else None, "messages": boxes}


def test_show(results, server, native_build, work):
    url = "show.html?test&go&stills=%s&audio=%d" % (",".join(map(str, STILLS)), SOUND_SECONDS)
    page, seconds = page_results(server, url, os.path.join(work, "profile-show"))
    timing = ""
    if page and page["timings"].get("frameMs"):
        frame = page["timings"]["frameMs"]
        timing = "; a frame takes %.1f ms on average (median %.1f, 95%% within %.1f)" % (
            frame["mean"], frame["median"], frame["p95"])
    results.check("show page runs on its virtual clock and reports", page is not None,
                  "%.1f s in Chromium%s" % (seconds, timing))
    if page is None:
        return
    capture = os.path.join(work, "capture")
    native = native_capture(native_build, capture, ["--stills", ",".join(map(str, STILLS))])
    # The native run ends 20 ms later: its polling thread takes up to one sleep to stop, where the
    # page stops polling at once.
    results.check("show plays to its end", page["exitCode"] == 1 and page["frames"] == native["frames"]
                  and abs(page["endMs"] - native["endMs"]) <= 20 and not page["messages"],
                  "exit code %s, %d frames at %s ms (native: exit code %d, %d frames at %s ms)" % (
                      page["exitCode"], page["frames"], page["endMs"], native["exitCode"], native["frames"],
                      native["endMs"]))
    for ms in STILLS:
        shown = page["stills"].get(str(ms))
        if not shown:
            results.check("still at %d ms" % ms, False, "the page kept no snapshot")
            continue
        width, height, web_rgb = png.read_rgb(base64.b64decode(shown.split(",", 1)[1]))
        native_w, native_h, native_rgb = png.read_rgb(open(os.path.join(capture, "still-%d.png" % ms), "rb").read())
        if (width, height) != (native_w, native_h):
            results.check("still at %d ms" % ms, False, "%dx%d against %dx%d" % (width, height, native_w, native_h))
            continue
        differing, largest = compare_pixels(web_rgb, native_rgb)
        results.check("canvas at %d ms equals morva-capture's still" % ms, differing == 0,
                      "%d of %d pixels differ, by up to %d" % (differing, width * height, largest) if differing else "")
    sound = page.get("audio") or {}
    if "pcm16" not in sound:
        results.check("sound of the first %d s" % SOUND_SECONDS, False, sound.get("error", "none kept"))
        return
    web_pcm = base64.b64decode(sound["pcm16"])
    native_pcm, fmt = wav_data(os.path.join(capture, "audio.wav"))
    native_pcm = native_pcm[:len(web_pcm)]
    same_format = fmt[1] == sound["channels"] and fmt[2] == sound["rate"] and fmt[5] == 16
    audible = sum(1 for i in range(0, len(web_pcm), 2) if web_pcm[i:i + 2] != b"\0\0")
    detail = "%d frames at %d Hz, %d samples not silent" % (sound["frames"], sound["rate"], audible)
    if web_pcm != native_pcm:
        first = next(i for i in range(min(len(web_pcm), len(native_pcm))) if web_pcm[i] != native_pcm[i])
        detail += "; first difference at byte %d" % first
    results.check("first %d s of sound equal the native render" % SOUND_SECONDS,
                  same_format and audible > 0 and web_pcm == native_pcm, detail)
    shutil.rmtree(capture, ignore_errors=True)


def test_sound_setup(results, server, native_build, work):
    """The sound setup in the page: "Audio Config", "Low" (32000 Hz), OK, then "GO!"; the page's
    sound is what morva-capture mixes after the same choice."""
    actions = "Audio%20Config;Low;OK;GO!"
    url = "show.html?test&do=%s&audio=%d&escape=%d" % (actions, SOUND_SECONDS, SOUND_SECONDS * 1000 + 1000)
    page, _ = page_results(server, url, os.path.join(work, "profile-setup"))
    sound = (page or {}).get("audio") or {}
    if "pcm16" not in sound:
        results.check("the page's sound setup sets the sound", False, sound.get("error", "no sound kept"))
        return
    capture = os.path.join(work, "capture-setup")
    native_capture(native_build, capture, ["--audio-setup", "open;preset=&Low;ok",
                                           "--escape-at", str(SOUND_SECONDS * 1000 + 1000)])
    native_pcm, fmt = wav_data(os.path.join(capture, "audio.wav"))
    web_pcm = base64.b64decode(sound["pcm16"])
    results.check("\"Audio Config\", \"Low\", OK in the page: the sound is mixed as natively", sound["rate"] == 32000
                  and fmt[2] == 32000 and web_pcm == native_pcm[:len(web_pcm)] and len(native_pcm) >= len(web_pcm),
                  "%d Hz, %d frames (native: %d Hz)" % (sound["rate"], sound["frames"], fmt[2]))
    shutil.rmtree(capture, ignore_errors=True)


def test_escape(results, server, native_build, work):
    url = "show.html?test&go&escape=%d" % ESCAPE_AT
    page, _ = page_results(server, url, os.path.join(work, "profile-escape"))
    if page is None:
        results.check("Escape ends the show", False, "the page reported nothing")
        return
    message = "User interruption|Demonstration aborted, darn it..."
    results.check("Escape ends the show with its message",
                  page["exitCode"] == 0 and page["messages"] == [message] and ESCAPE_AT <= page["endMs"] < ESCAPE_AT + 100,
                  "exit code %s at %s ms, message boxes %s" % (page["exitCode"], page["endMs"], page["messages"]))


def test_tables(results, native_build, web_build, work):
    """The floating-point tables: the page's (web_tables.js under node) against native ones."""
    node = shutil.which("node")
    script = os.path.join(web_build, "cmake", "web_tables.js")
    compiler = shutil.which("c++") or shutil.which("g++")
    if not (node and os.path.exists(script) and compiler):
        results.check("tables equal the native ones", False, "node, web_tables.js or a C++ compiler is missing")
        return
    native = os.path.join(work, "tables")
    sources = [os.path.join(SOURCE, "web", "test", "tables.cpp")] + [
        os.path.join(SOURCE, "effects", name) for name in sorted(os.listdir(os.path.join(SOURCE, "effects")))
        if name.endswith(".cpp")]
    subprocess.run([compiler, "-std=c++20", "-O2", "-I", SOURCE] + sources + ["-o", native], check=True)
    parse = lambda text: {line.split()[0]: list(map(int, line.split()[1:])) for line in text.splitlines() if line}
    mine = parse(subprocess.run([native], stdout=subprocess.PIPE, check=True).stdout.decode())
    # Debian's node is not always the one on the path; a newer one needs this to run emscripten's output.
    page = parse(subprocess.run([node, "--no-experimental-fetch", script], stdout=subprocess.PIPE,
                                check=True).stdout.decode())
    for name, values in mine.items():
        other = page.get(name, [])
        differing = [(a, b) for a, b in zip(values, other) if a != b]
        results.check("table %s equals the native one" % name, len(other) == len(values) and not differing,
                      "%d of %d entries differ, by up to %d" % (
                          len(differing), len(values), max((abs(a - b) for a, b in differing), default=0))
                      if differing else "%d entries" % len(values))


# One module of each format the player reads, from the corpus beside the sources.
PLAYER_MODULES = ["bugsquish__corpses.mod", "flobopuyo__flobopuyo_gameover.xm", "gweled__autonom.s3m",
                  "pingus-data__gd-matth.it"]


def virezplay_info(native_build, path):
    done = subprocess.run([os.path.join(native_build, "bin", "virezplay"), "--info", path], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    fields = {}
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        key, _, value = line.partition(": ")
        fields[key] = value
    return fields


def test_player(results, server, native_build, work):
    """The player page plays corpus modules one after another (Next file) and reports what virezplay
    --info reports; a seek lands exactly; the WAVE file holds the whole song."""
    present = [name for name in PLAYER_MODULES if os.path.exists(os.path.join(MODULES, name))]
    if not present:
        print("skipped player page: no corpus modules in %s" % MODULES)
        return
    query = "&".join("file=modules/%s" % name for name in present)
    page, _ = page_results(server, "player.html?test&" + query, os.path.join(work, "profile-player"))
    if page is None:
        results.check("player page plays the corpus modules", False, "the page reported nothing")
        return
    played = {entry["file"]: entry for entry in page["files"]}
    for name in present:
        entry = played.get(name)
        info = virezplay_info(native_build, os.path.join(MODULES, name))
        if not entry or "durationMs" not in entry:
            results.check("player page plays %s" % name, False, "not reached")
            continue
        # As --info says it: m:ss.mmm, rounded down to the millisecond.
        millis = entry["durationFrames"] * 1000 // entry["rate"]
        duration = "%d:%02d.%03d" % (millis // 60000, millis // 1000 % 60, millis % 1000) \
            if entry["durationFrames"] >= 0 else "unknown"
        results.check("player page plays %s and reports virezplay's duration" % name,
                      entry["played"] and entry["format"] == info.get("format") and
                      info.get("duration", "").startswith(duration),
                      "%s, %s, heard to %d ms (virezplay --info: %s, %s)" % (
                          entry["format"], duration, entry["heardMs"], info.get("format"), info.get("duration")))
        results.check("player page seeks %s exactly and makes its WAVE file" % name,
                      entry["afterSeek"]["frame"] == entry["seekTarget"] * entry["rate"] // 1000 and
                      entry["waveBytes"] == 44 + 4 * entry["durationFrames"],
                      "seek to %d ms: at frame %d, order %d row %d; %d bytes of WAVE" % (
                          entry["seekTarget"], entry["afterSeek"]["frame"], entry["afterSeek"]["order"],
                          entry["afterSeek"]["row"], entry["waveBytes"]))


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    native_build, web_build = map(os.path.abspath, sys.argv[1:])
    results = Results()
    if not chromium():
        print("chromium is not installed (make web-test installs it)")
        return 1
    work = tempfile.mkdtemp(prefix="morva-web-test-")
    # The pages with the corpus beside them (linked, not copied), served from one folder.
    root = os.path.join(work, "site")
    os.mkdir(root)
    for name in os.listdir(web_build):
        if name != "cmake":
            os.symlink(os.path.join(web_build, name), os.path.join(root, name))
    if os.path.isdir(MODULES) and not os.path.exists(os.path.join(root, "modules")):
        os.symlink(MODULES, os.path.join(root, "modules"))
    server = Server(root)
    started = time.time()
    try:
        test_show(results, server, native_build, work)
        test_escape(results, server, native_build, work)
        test_sound_setup(results, server, native_build, work)
        test_tables(results, native_build, web_build, work)
        test_player(results, server, native_build, work)
    finally:
        server.close()
        shutil.rmtree(work, ignore_errors=True)
    print("web tests took %.0f s" % (time.time() - started))
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())

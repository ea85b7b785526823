#!/usr/bin/python3
"""The static site in a real browser: headless Chromium driven over the
DevTools protocol, the page served from its folder on 127.0.0.1.

  browser_test.py SITE_DIR TOLVANE            run the tests (status 0: all passed)
  browser_test.py SITE_DIR TOLVANE --measure  print frame rate and frame timings

A seeded, paused, frozen page must show exactly what `tolvane --render`
writes for the same options; keys and a drag change the picture as on the
desktop; K downloads the picture; a bad parameter is told and ignored; the
console stays free of errors.
"""

import base64
import functools
import http.server
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

import websocket  # Debian's python3-websocket

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WORLD = os.path.join(ROOT, "assets", "world.xml")
WIDTH, HEIGHT = 640, 480


def decode_png(data):
    """RGB rows of an 8-bit PNG: indexed (3), RGB (2) or RGBA (6)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, chunks = 8, []
    width = height = color = 0
    palette = b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, color, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and interlace == 0 and color in (2, 3, 6), "unexpected PNG layout"
        elif kind == b"PLTE":
            palette = body
        elif kind == b"IDAT":
            chunks.append(body)
    raw = zlib.decompress(b"".join(chunks))
    channels = {2: 3, 3: 1, 6: 4}[color]
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + pred) & 255
        rows.append(bytes(line))
        previous = line
    if color == 3:
        return width, height, b"".join(b"".join(palette[3 * i:3 * i + 3] for i in row) for row in rows)
    if color == 6:
        return width, height, b"".join(bytes(row[i] for i in range(len(row)) if i % 4 != 3) for row in rows)
    return width, height, b"".join(rows)


def render_native(tolvane, work, arguments):
    """The RGB picture `tolvane --render` writes for the sample world."""
    out = os.path.join(work, "native.png")
    command = [tolvane, "--render", out, "--world", WORLD] + arguments
    subprocess.run(command, check=True, stderr=subprocess.PIPE)
    with open(out, "rb") as file:
        width, height, rgb = decode_png(file.read())
    assert (width, height) == (WIDTH, HEIGHT)
    return rgb


class Site:
    """The site folder on a free port of 127.0.0.1."""

    def __init__(self, folder):
        handler = functools.partial(QuietHandler, directory=folder)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.requests = handler.func.requests = []
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]

    def close(self):
        self.server.shutdown()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    requests = []

    def log_message(self, *args):
        pass

    def log_request(self, code="-", size="-"):
        QuietHandler.requests.append((self.path, int(code) if str(code).isdigit() else code))


class Browser:
    """One headless Chromium with one page, spoken to over the DevTools protocol."""

    def __init__(self, downloads):
        self.profile = tempfile.mkdtemp(prefix="tolvane-chromium-")
        binary = shutil.which("chromium") or shutil.which("chromium-browser")
        if binary is None:
            raise RuntimeError("chromium is not installed (scripts/setup.sh --web installs it)")
        self.process = subprocess.Popen(
            [binary, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-features=Translate,MediaRouter,OptimizationHints", "--force-color-profile=srgb",
             "--force-device-scale-factor=1", "--hide-scrollbars", "--window-size=1400,1200",
             "--remote-debugging-port=0", "--user-data-dir=" + self.profile, "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + 30
        while not os.path.exists(port_file) or os.path.getsize(port_file) == 0:
            if time.time() > deadline or self.process.poll() is not None:
                raise RuntimeError("chromium did not start")
            time.sleep(0.1)
        time.sleep(0.2)
        port = open(port_file).read().split()[0]
        import urllib.request
        for _ in range(50):
            pages = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port))
            pages = [p for p in pages if p.get("type") == "page"]
            if pages:
                break
            time.sleep(0.1)
        self.socket = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], timeout=60,
                                                  suppress_origin=True)
        self.next_id = 0
        self.errors = []
        for domain in ("Runtime", "Log", "Page"):
            self.call(domain + ".enable")
        self.call("Page.setDownloadBehavior", behavior="allow", downloadPath=downloads)

    def close(self):
        try:
            self.socket.close()
        finally:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
            shutil.rmtree(self.profile, ignore_errors=True)

    def _event(self, message):
        method, params = message.get("method"), message.get("params", {})
        if method == "Runtime.consoleAPICalled" and os.environ.get("TOLVANE_BROWSER_LOG"):
            print("console %s: %s" % (params.get("type"), " ".join(str(a.get("value", a.get("description")))
                                                                   for a in params.get("args", []))))
        if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            self.errors.append("console: " + " ".join(str(a.get("value", a.get("description")))
                                                      for a in params.get("args", [])))
        elif method == "Runtime.exceptionThrown":
            details = params.get("exceptionDetails", {})
            self.errors.append("exception: " + str(details.get("exception", {}).get("description",
                                                                                   details.get("text"))))
        elif method == "Log.entryAdded" and params.get("entry", {}).get("level") == "error":
            self.errors.append("log: " + params["entry"].get("text", ""))

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self._event(message)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("page script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def wait_for(self, expression, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if self.evaluate(expression):
                return
            time.sleep(0.05)
        raise AssertionError("timed out waiting for %s; console: %s" % (expression, self.errors))

    def open(self, url, frames=3):
        self.call("Page.navigate", url=url)
        self.wait_for("typeof Module === 'object' && Module.frames && Module.frames.count >= %d" % frames)

    def frames_after(self, more):
        """Waits until `more` further frames have been drawn."""
        count = self.evaluate("Module.frames.count")
        self.wait_for("Module.frames.count >= %d" % (count + more))

    def canvas_rgb(self):
        encoded = self.evaluate("""(() => {
            const data = document.getElementById('canvas').getContext('2d').getImageData(0, 0, 640, 480).data;
            let text = '';
            for (let i = 0; i < data.length; i += 4) {
                if (data[i + 3] !== 255) return 'alpha ' + data[i + 3] + ' at ' + i / 4;
                text += String.fromCharCode(data[i], data[i + 1], data[i + 2]);
            }
            return btoa(text);
        })()""")
        if encoded.startswith("alpha"):
            raise AssertionError("canvas pixel not opaque: " + encoded)
        return base64.b64decode(encoded)

    def screenshot_rgb(self):
        shot = self.call("Page.captureScreenshot", format="png",
                         clip={"x": 0, "y": 0, "width": WIDTH, "height": HEIGHT, "scale": 1})
        width, height, rgb = decode_png(base64.b64decode(shot["data"]))
        assert (width, height) == (WIDTH, HEIGHT), (width, height)
        return rgb

    def key(self, char, code, key_code, repeats=0):
        """Presses and releases a key; `repeats` auto-repeated presses while it is held."""
        for kind, repeat in [("keyDown", False)] + [("keyDown", True)] * repeats + [("keyUp", False)]:
            self.call("Input.dispatchKeyEvent", type=kind, key=char, code=code, autoRepeat=repeat,
                      windowsVirtualKeyCode=key_code, nativeVirtualKeyCode=key_code)

    def drag(self, start, end, steps=4):
        (x0, y0), (x1, y1) = start, end
        self.call("Input.dispatchMouseEvent", type="mouseMoved", x=x0, y=y0)
        self.call("Input.dispatchMouseEvent", type="mousePressed", x=x0, y=y0, button="left", clickCount=1)
        for step in range(1, steps + 1):
            self.call("Input.dispatchMouseEvent", type="mouseMoved", x=x0 + (x1 - x0) * step / steps,
                      y=y0 + (y1 - y0) * step / steps, button="left", buttons=1)
        self.call("Input.dispatchMouseEvent", type="mouseReleased", x=x1, y=y1, button="left", clickCount=1)


KEYS = {"s": ("KeyS", 83), "r": ("KeyR", 82), "p": ("KeyP", 80), "x": ("KeyX", 88), "c": ("KeyC", 67),
        "g": ("KeyG", 71), "b": ("KeyB", 66), "q": ("KeyQ", 81), "k": ("KeyK", 75),
        "[": ("BracketLeft", 219), "]": ("BracketRight", 221)}


def first_difference(got, want):
    for i in range(0, min(len(got), len(want)), 3):
        if got[i:i + 3] != want[i:i + 3]:
            return "first difference at (%d, %d): page %s, native %s" % (
                (i // 3) % WIDTH, (i // 3) // WIDTH, tuple(got[i:i + 3]), tuple(want[i:i + 3]))
    return "sizes %d and %d" % (len(got), len(want))


class Run:
    def __init__(self, site, tolvane):
        self.work = tempfile.mkdtemp(prefix="tolvane-browser-")
        self.downloads = os.path.join(self.work, "downloads")
        os.mkdir(self.downloads)
        self.site = Site(site)
        self.browser = Browser(self.downloads)
        self.tolvane = tolvane
        self.failures = []

    def close(self):
        self.browser.close()
        self.site.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def check(self, name, ok, detail=""):
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail), flush=True)
        if not ok:
            self.failures.append(name)

    def press(self, char):
        self.browser.key(char, *KEYS[char])

    def exact(self, name, query, arguments, screenshot=False):
        self.browser.open(self.site.url + "?" + query)
        want = render_native(self.tolvane, self.work, arguments)
        got = self.browser.canvas_rgb()
        self.check(name + ": canvas equals --render", got == want, first_difference(got, want))
        self.browser.frames_after(3)
        again = self.browser.canvas_rgb()
        self.check(name + ": still the same picture three frames later", again == want,
                   first_difference(again, want))
        if screenshot:
            shot = self.browser.screenshot_rgb()
            self.check(name + ": the page shows it 1:1 at its top-left corner", shot == want,
                       first_difference(shot, want))

    def test_exactness(self):
        still = "&paused=1&frozen=1&scale=1"
        self.exact("stereogram", "seed=7&time=2.5&view=stereo" + still,
                   ["--seed", "7", "--time", "2.5"], screenshot=True)
        self.exact("depth view", "seed=11&time=4.25&view=depth" + still,
                   ["--seed", "11", "--time", "4.25", "--view", "depth"])
        self.exact("cross-eyed", "seed=3&time=1&view=stereo&cross-eyed" + still,
                   ["--seed", "3", "--time", "1", "--cross-eyed"])
        self.exact("every other option",
                   "seed=4000000000&time=0.75&view=stereo&camera=-300,25&pattern-width=96&grey-dots=1"
                   "&echo-free" + still,
                   ["--seed", "4000000000", "--time", "0.75", "--camera", "-300", "25", "--pattern-width", "96",
                    "--grey-dots", "--echo-free"])

    def test_keys_and_drag(self):
        b = self.browser
        # The window fits the canvas twice: 640 x 480 surface pixels shown as
        # 1280 x 960, centred.
        b.open(self.site.url + "?seed=5&paused=1")
        scale = b.evaluate("getComputedStyle(document.documentElement).getPropertyValue('--scale').trim()")
        self.check("the canvas takes the largest whole scale that fits", scale == "2", "scale " + str(scale))
        left, top = b.evaluate("(() => { const r = document.getElementById('canvas').getBoundingClientRect();"
                               " return [r.left, r.top]; })()")
        status = b.evaluate("document.getElementById('status').textContent")
        self.check("the status line tells the view", status.startswith("Depth view | time: paused"), status)
        title = b.evaluate("document.title")
        self.check("the caption is the page title", title.startswith("Tolvane Engine Demo - By Harwick - FPS: "),
                   title)
        depth = b.canvas_rgb()
        want = render_native(self.tolvane, self.work, ["--seed", "5", "--view", "depth"])
        self.check("paused=1 alone starts in the depth view at time 0", depth == want,
                   first_difference(depth, want))

        # A drag by 80 x 30 screen pixels is 40 x 15 surface pixels: the
        # camera moves as --camera 40 15 places it.
        b.drag((left + 400, top + 300), (left + 480, top + 330))
        b.frames_after(3)
        dragged = b.canvas_rgb()
        want = render_native(self.tolvane, self.work, ["--seed", "5", "--view", "depth", "--camera", "40", "15"])
        self.check("a drag moves the camera by the pointer's movement in surface pixels", dragged == want,
                   first_difference(dragged, want))

        def after(char):
            self.press(char)
            b.frames_after(3)
            return b.canvas_rgb()

        stereo = after("s")
        self.check("S shows the stereogram", stereo != dragged and b.evaluate(
            "document.getElementById('status').textContent.startsWith('Stereogram')"))
        b.frames_after(2)
        self.check("dots are renewed every frame", b.canvas_rgb() != stereo)
        frozen = after("r")
        b.frames_after(3)
        self.check("R freezes the dots", b.canvas_rgb() == frozen)
        crossed = after("x")
        self.check("X turns the depths round for crossed eyes", crossed != frozen)
        narrower = after("[")
        self.check("[ narrows the pattern", narrower != crossed and "pattern width: 112" in b.evaluate(
            "document.getElementById('status').textContent"))
        coloured = after("c")
        self.check("C gives new colours", coloured != narrower)
        grey = after("g")
        self.check("G brings the grey palette back", grey != coloured)
        running = after("p")
        b.frames_after(10)
        self.check("P sets time running", b.evaluate(
            "document.getElementById('status').textContent.includes('time: running')"))
        back = after("s")
        self.check("S again returns to the depth view", b.evaluate(
            "document.getElementById('status').textContent.startsWith('Depth view')") and back != running)

        # Held down, S acts once, as on the desktop.
        self.browser.key("s", *KEYS["s"], repeats=1)
        b.frames_after(3)
        self.check("a held key acts once", b.evaluate(
            "document.getElementById('status').textContent.startsWith('Stereogram')"))
        self.press("s")

        # K downloads what the canvas shows, exactly.
        self.press("p")
        b.frames_after(3)
        shown = b.canvas_rgb()
        self.press("k")
        target = os.path.join(self.downloads, "depth-0001.png")
        deadline = time.time() + 20
        while not os.path.exists(target) and time.time() < deadline:
            time.sleep(0.1)
        ok = os.path.exists(target)
        if ok:
            width, height, saved = decode_png(open(target, "rb").read())
            ok = (width, height) == (WIDTH, HEIGHT) and saved == shown
        self.check("K downloads the picture shown as a PNG", ok, "no download or a different picture")

    def test_bad_parameters(self):
        b = self.browser
        b.open(self.site.url + "?seed=abc&view=stereo&bogus=1&scale=9&time=2&paused=1&frozen=1")
        problems = b.evaluate("document.getElementById('problems').textContent").strip().split("\n")
        self.check("each bad parameter is told on one line", len(problems) == 3 and problems[0].startswith(
            "Ignored seed=abc: seed needs a whole number") and "bogus" in problems[1], repr(problems))
        self.check("the good parameters still apply", b.evaluate(
            "document.getElementById('status').textContent.startsWith('Stereogram | time: paused')"))

    def test_site(self):
        outside = [path for path, _ in self.site.requests if path.split("?")[0] not in (
            "/", "/index.html", "/tolvane.js", "/tolvane.wasm", "/tolvane.data")]
        failed = [(path, code) for path, code in self.site.requests if code not in (200, 304)]
        self.check("the page asks only for the site's files", not outside and not failed,
                   "unexpected: %s, failed: %s" % (outside, failed))
        self.check("no errors in the console", not self.browser.errors, "\n  ".join(self.browser.errors))

    def measure(self, seconds=10):
        """Frame rate and per-frame timings of the running demo, in both views:
        means, and medians, which shrug off frames delayed by other programs."""
        b = self.browser
        for view in ("stereo", "depth"):
            b.open(self.site.url + "?seed=1&scale=1&view=" + view, frames=30)
            b.evaluate("Object.assign(Module.frames, {count: 0, worldMs: 0, presentMs: 0, stepMs: 0, samples: []}),"
                       " window.measureStart = performance.now(), 0")
            time.sleep(seconds)
            samples, elapsed = b.evaluate("[Module.frames.samples, (performance.now() - window.measureStart) / 1000]")
            count = len(samples)
            columns = list(zip(*samples))
            mean = [sum(c) / count for c in columns]
            median = [sorted(c)[count // 2] for c in columns]
            print("%s view: %.1f frames per second (%d in %.1f s)" % (view, count / elapsed, count, elapsed))
            for name, figures in (("mean", mean), ("median", median)):
                print("  %s per frame: world step %.3f ms, present %.3f ms, whole frame step %.3f ms"
                      % ((name,) + tuple(figures)))
        print("(present: the stereogram transform, if any, and the copy into the canvas)")
        # The engine's work alone, as the native BM_SampleWorldFrame times it.
        runs = sorted(b.evaluate("Module._tolvaneMeasureFrames(200)") for _ in range(9))
        print("engine work per stereogram frame (clear, update, draw, renew the dots, transform), 9 runs of"
              " 200 frames: best %.3f ms, median %.3f ms" % (runs[0], runs[4]))


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    run = Run(sys.argv[1], sys.argv[2])
    try:
        if "--measure" in sys.argv[3:]:
            run.measure()
            return 0
        run.test_exactness()
        run.test_keys_and_drag()
        run.test_bad_parameters()
        run.test_site()
    finally:
        run.close()
    print("%d failed" % len(run.failures) if run.failures else "all passed")
    return 1 if run.failures else 0


if __name__ == "__main__":
    sys.exit(main())

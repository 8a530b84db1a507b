#!/usr/bin/python3
"""chronolume-cli web's page in a real browser: Debian's chromium, headless, driven through its
DevTools protocol, against the real program fed by real ArtTimeCode senders on loopback.

    webpage.py CHRONOLUME_CLI CHECK      (CHECK: layout, silence, reconnect)
    webpage.py CHRONOLUME_CLI screenshots DIRECTORY

Runs only inside a private network namespace (tests/support/netns-run); exits 77, a skip, where
chromium is not installed.
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import websocket

# The programs started here see no Qt setting of the desktop that runs the test.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support",
                       "qt-variables")) as variables:
    for name in variables.read().split():
        if name.startswith("QT_"):
            os.environ.pop(name, None)

PORT = 18080
DEBUG_PORT = 9222
BRIGHT = "rgb(242, 242, 242)"
DIM = "rgb(90, 90, 90)"


def art_timecode(frame, fps, type_, stream):
    # ID, OpCode 0x9700 LE, ProtVer 14, Filler1, StreamId, frames, seconds, minutes, hours, Type
    return (b"Art-Net\0" + bytes([0x00, 0x97, 0, 14, 0, stream, frame % fps, frame // fps % 60,
                                  frame // fps // 60 % 60, 10, type_]))


def poll_reply(ip, name):
    data = bytearray(240)
    data[0:8] = b"Art-Net\0"
    data[8:10] = bytes([0x00, 0x21])
    data[10:14] = socket.inet_aton(ip)
    data[26:26 + len(name)] = name.encode()
    return bytes(data)


class Sender(threading.Thread):
    """A controller on its own loopback address, sending at its rate until paused or stopped."""

    def __init__(self, address, fps, type_, stream=0, name=None):
        super().__init__(daemon=True)
        self.address, self.fps, self.type, self.stream = address, fps, type_, stream
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((address, 0))
        self.frame = 0
        self.running = threading.Event()
        self.running.set()
        self.ended = False
        if name:
            self.sock.sendto(poll_reply(address, name), ("127.0.0.1", 6454))
        self.start()

    def run(self):
        next_at = time.monotonic()
        while not self.ended:
            if self.running.is_set():
                self.sock.sendto(art_timecode(self.frame, self.fps, self.type, self.stream),
                                 ("127.0.0.1", 6454))
                self.frame += 1
            next_at += 1.0 / self.fps
            time.sleep(max(0.0, next_at - time.monotonic()))

    def text(self):
        f = self.frame - 1
        return "10:%02d:%02d:%02d" % (f // self.fps // 60 % 60, f // self.fps % 60, f % self.fps)


class Server:
    def __init__(self, cli):
        self.cli = cli
        self.process = None

    def start(self):
        self.process = subprocess.Popen([self.cli, "web", "--port", str(PORT), "--bind",
                                         "127.0.0.1"], stdout=subprocess.PIPE)
        line = self.process.stdout.readline().decode()
        assert "serving the clock page" in line, "web did not start: %r" % line

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(10)


class Browser:
    """Headless chromium with one page, spoken to over the DevTools protocol."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="chronolume-chromium-")
        self.process = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + self.profile, "--remote-debugging-port=%d" % DEBUG_PORT,
             "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        target = None
        for _ in range(200):
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/json" % DEBUG_PORT) as answer:
                    pages = [t for t in json.load(answer) if t["type"] == "page"]
                if pages:
                    target = pages[0]
                    break
            except OSError:
                pass
            time.sleep(0.1)
        assert target, "chromium offered no page to drive"
        self.ws = websocket.create_connection(target["webSocketDebuggerUrl"], timeout=30)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                assert "error" not in message, message
                return message["result"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result["result"].get("value")

    def open(self, width, height):
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=width < 800)
        self.call("Page.navigate", url="http://127.0.0.1:%d/" % PORT)

    def wait_for(self, expression, timeout=5.0):
        """Seconds until the expression is true; fails after timeout."""
        start = time.monotonic()
        while time.monotonic() - start < timeout:
            if self.evaluate(expression):
                return time.monotonic() - start
            time.sleep(0.02)
        raise AssertionError("not true within %.1f s: %s\npage: %r" % (
            timeout, expression, self.evaluate("document.body.innerText")))

    def close(self):
        self.ws.close()
        self.process.terminate()
        self.process.wait(10)
        shutil.rmtree(self.profile, ignore_errors=True)


TEXT = "document.body.innerText"
# Nothing wider than the viewport, no timecode wider than its box or on more than one line.
FITS = """(() => {
    const width = document.documentElement.clientWidth;
    if (document.documentElement.scrollWidth > width) return false;
    return [...document.querySelectorAll('.tc')].every(e => {
        const box = e.getBoundingClientRect();
        const line = parseFloat(getComputedStyle(e).fontSize) * 1.6;
        return box.left >= 0 && box.right <= width && e.scrollWidth <= e.clientWidth &&
               box.height < line;
    });
})()"""


def tc_colour(index=0):
    return "getComputedStyle(document.querySelectorAll('.tc')[%d]).color" % index


def check_layout(browser, server):
    desk = Sender("127.0.0.2", 25, 1, name="Desk A")
    for width, height in ((390, 844), (1920, 1080)):
        browser.open(width, height)
        browser.wait_for(TEXT + ".includes('25 FPS') && " + TEXT + ".includes('127.0.0.2')")
        assert browser.evaluate("document.getElementById('senders').className") == "one"
        assert browser.evaluate(FITS), "one sender does not fit %dx%d" % (width, height)
    # A second sender, on stream 2: one row each, in first-heard order.
    backup = Sender("127.0.0.3", 30, 3, stream=2)
    for width, height in ((390, 844), (844, 390), (1920, 1080)):
        browser.open(width, height)
        browser.wait_for(TEXT + ".includes('127.0.0.3 \u00b7 2')")
        browser.wait_for("document.getElementById('senders').className === 'many'")
        text = browser.evaluate(TEXT)
        for expected in ("25 FPS", "30 FPS", "Desk A", "127.0.0.2", "127.0.0.3 \u00b7 2"):
            assert expected in text, "%r missing at %dx%d: %r" % (expected, width, height, text)
        assert text.index("127.0.0.2") < text.index("127.0.0.3"), text
        # The timecodes shown are the senders' own, a frame or two behind at most.
        shown = browser.evaluate("[...document.querySelectorAll('.tc')].map(e => e.textContent)")
        assert shown[0][:5] == desk.text()[:5] and shown[1][:5] == backup.text()[:5], shown
        assert browser.evaluate(FITS), "two senders do not fit %dx%d" % (width, height)
    desk.ended = backup.ended = True


def check_silence(browser, server):
    desk = Sender("127.0.0.2", 25, 1)
    browser.open(390, 844)
    browser.wait_for(TEXT + ".includes('127.0.0.2')")
    assert browser.evaluate(tc_colour()) == BRIGHT
    desk.running.clear()
    stopped = time.monotonic()
    time.sleep(0.8)
    assert browser.evaluate(tc_colour()) == BRIGHT, "dimmed before a second of silence"
    browser.wait_for(tc_colour() + " === '%s'" % DIM, timeout=3)
    print("dimmed %.2f s after the last datagram" % (time.monotonic() - stopped))
    desk.running.set()
    browser.wait_for(tc_colour() + " === '%s'" % BRIGHT, timeout=3)
    desk.ended = True


def check_reconnect(browser, server):
    desk = Sender("127.0.0.2", 25, 1)
    backup = Sender("127.0.0.3", 30, 3)
    browser.open(390, 844)
    browser.wait_for(TEXT + ".includes('127.0.0.2') && " + TEXT + ".includes('127.0.0.3')")
    browser.evaluate("window.notReloaded = true")
    # The first sender falls silent before the server goes.
    desk.running.clear()
    browser.wait_for(tc_colour(0) + " === '%s'" % DIM, timeout=3)
    last = browser.evaluate("document.querySelector('.tc').textContent")
    server.stop()
    browser.wait_for(TEXT + ".includes('connection lost')")
    assert browser.evaluate(tc_colour(1)) == DIM, "the last time is not dimmed"
    assert browser.evaluate("document.querySelectorAll('.tc')[1].textContent").count(":") == 3
    server.start()
    browser.wait_for("!" + TEXT + ".includes('connection lost') && " + TEXT +
                     ".includes('127.0.0.3')", timeout=10)
    assert browser.evaluate("window.notReloaded === true"), "the page was reloaded"
    # The restarted server never heard the silent sender: the page keeps it, dimmed, with its
    # last time, in the place where it was first heard.
    meta = "[...document.querySelectorAll('.meta')].map(e => e.textContent)"
    shown = browser.evaluate(meta)
    assert len(shown) == 2 and "127.0.0.2" in shown[0] and "127.0.0.3" in shown[1], shown
    assert browser.evaluate("document.querySelector('.tc').textContent") == last
    assert browser.evaluate(tc_colour(0)) == DIM, "the silent sender is not dimmed"
    browser.wait_for(tc_colour(1) + " === '%s'" % BRIGHT)
    before = browser.evaluate("document.querySelectorAll('.tc')[1].textContent")
    browser.wait_for("document.querySelectorAll('.tc')[1].textContent !== '%s'" % before)
    # Back, it is live again in its own place.
    desk.running.set()
    browser.wait_for(tc_colour(0) + " === '%s'" % BRIGHT, timeout=3)
    assert "127.0.0.2" in browser.evaluate(meta)[0]
    desk.ended = backup.ended = True


def screenshots(browser, server, directory):
    senders = [Sender("127.0.0.2", 25, 1, name="FOH desk")]
    for width, height, name in ((390, 844, "web-phone.png"), (1920, 1080, "web-screen.png")):
        if name == "web-screen.png":
            senders += [Sender("127.0.0.3", 30, 3, stream=2, name="Video server"),
                        Sender("127.0.0.4", 24, 0)]
        browser.open(width, height)
        browser.wait_for(TEXT + ".includes('%s')" % senders[-1].address)
        time.sleep(0.3)
        data = browser.call("Page.captureScreenshot", format="png")["data"]
        import base64
        with open(os.path.join(directory, name), "wb") as out:
            out.write(base64.b64decode(data))
    for sender in senders:
        sender.ended = True


def main():
    cli, check = sys.argv[1], sys.argv[2]
    if os.environ.get("CHRONOLUME_NO_PRIVATE_NETWORK"):
        print("no private network namespace: " + os.environ["CHRONOLUME_NO_PRIVATE_NETWORK"])
        return 0
    if not shutil.which("chromium"):
        print("SKIP: chromium is not installed")
        return 77
    server = Server(cli)
    server.start()
    browser = Browser()
    try:
        if check == "screenshots":
            screenshots(browser, server, sys.argv[3])
        else:
            {"layout": check_layout, "silence": check_silence,
             "reconnect": check_reconnect}[check](browser, server)
    finally:
        browser.close()
        if server.process.poll() is None:
            server.stop()
    print("%s: passed" % check)
    return 0


if __name__ == "__main__":
    sys.exit(main())

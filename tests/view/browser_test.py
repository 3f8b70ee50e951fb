#!/usr/bin/env python3
"""The live page of nxt-bridge-sim in a real headless browser.

Starts nxt-bridge-sim with --view on free loopback ports and Debian's
chromium under chromedriver (spoken to over WebDriver's HTTP protocol, so no
client library is needed), then checks that the page and a TCP client see
the same brick: a goto turns motor A's dial, the touch button and the sonar
slider change what the client reads, a tone shows on the page; and that a
WebSocket client that never reads costs the TCP client nothing. With
--bt-pty, the page of nxt-brick-sim too, behind nxt-bridge-bt on a
pseudo-terminal: the dial and the touch button as above. With --world
default, the robot drives across the room on the page, and a drag with the
mouse puts it down elsewhere, where the client's sonar then measures from.
Every wait is bounded; every process started is stopped.

  browser_test.py --sim build/nxt-bridge-sim [--bt-pty build/nxt-bridge-bt-pty]
                  [--screenshot FILE] [--world-screenshot FILE]
"""
import argparse
import base64
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import traceback

CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(what, predicate, seconds=5.0):
    """Polls `predicate` until it returns a true value; fails after `seconds`."""
    deadline = time.monotonic() + seconds
    last = None
    while time.monotonic() < deadline:
        last = predicate()
        if last:
            return last
        time.sleep(0.05)
    raise AssertionError(f"{what}: not within {seconds} s (last: {last!r})")


def wait_or_kill(proc, seconds):
    """Waits up to `seconds` for `proc` to end, then kills it."""
    try:
        proc.wait(seconds)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


class Client:
    """A TCP client of the text protocol: one request, one reply line."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.rest = b""

    def ask(self, line):
        self.sock.sendall(line.encode() + b"\n")
        while b"\n" not in self.rest:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise AssertionError(f"connection closed after {line!r}")
            self.rest += chunk
        reply, self.rest = self.rest.split(b"\n", 1)
        return reply.decode()

    def close(self):
        self.sock.close()


class Browser:
    """Chromium under chromedriver, driven over WebDriver's HTTP protocol."""

    def __init__(self):
        self.port = free_port()
        self.driver = subprocess.Popen(
            [CHROMEDRIVER, f"--port={self.port}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until("chromedriver answers", self._ready, 15)
        caps = {"capabilities": {"alwaysMatch": {"goog:chromeOptions": {
            "binary": CHROMIUM,
            "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=1180,1020",
                     "--hide-scrollbars", "--autoplay-policy=no-user-gesture-required"]}}}}
        self.session = self._call("POST", "/session", caps)["sessionId"]

    def _ready(self):
        try:
            return self._call("GET", "/status").get("ready")
        except OSError:
            return False

    def _call(self, method, path, body=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            conn.request(method, path, json.dumps(body) if body is not None else None,
                         {"Content-Type": "application/json"})
            answer = json.loads(conn.getresponse().read() or b"{}")
        finally:
            conn.close()
        value = answer.get("value")
        if isinstance(value, dict) and "error" in value:
            raise AssertionError(f"WebDriver {path}: {value['error']}: {value.get('message')}")
        return value

    def call(self, method, path, body=None):
        return self._call(method, f"/session/{self.session}{path}", body)

    def open(self, url):
        self.call("POST", "/url", {"url": url})

    def js(self, script, *args):
        return self.call("POST", "/execute/sync", {"script": script, "args": list(args)})

    def text(self, element_id):
        return self.js("const e = document.getElementById(arguments[0]);"
                       "return e ? e.textContent : null;", element_id)

    def pointer(self, element_id, *steps):
        """Moves the mouse to the element's centre and does `steps` (down, up)."""
        x, y = self.js("const r = document.getElementById(arguments[0]).getBoundingClientRect();"
                       "return [Math.round(r.x + r.width / 2), Math.round(r.y + r.height / 2)];",
                       element_id)
        actions = [{"type": "pointerMove", "duration": 0, "x": x, "y": y, "origin": "viewport"}]
        actions += [{"type": "pointer" + s.capitalize(), "button": 0} for s in steps]
        self.call("POST", "/actions", {"actions": [
            {"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
             "actions": actions}]})

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("GET", "/screenshot")))

    def quit(self):
        try:
            self.call("DELETE", "")
        except Exception:
            pass
        self.driver.terminate()
        wait_or_kill(self.driver, 10)


class Sim:
    def __init__(self, path, *args):
        self.port = free_port()
        self.view = free_port()
        self.proc = subprocess.Popen(
            [path, "--port", str(self.port), "--view", str(self.view), *args],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.client = wait_until(f"{os.path.basename(path)} accepts a client", self._connect, 10)
        self.url = f"http://127.0.0.1:{self.view}/"

    def _connect(self):
        try:
            return Client(self.port)
        except OSError:
            return None

    def stop(self):
        if self.proc.returncode is not None:
            return
        try:
            self.client.sock.sendall(b"bye\n")  # ends the server
        except OSError:
            pass
        self.client.close()
        wait_or_kill(self.proc, 5)


def raw_websocket(port):
    """A WebSocket client by hand: the handshake, then the bare socket."""
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall((f"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
               f"Origin: http://127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
               f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
               "Sec-WebSocket-Version: 13\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = s.recv(1)
        if not chunk:
            raise AssertionError("no handshake answer")
        head += chunk
    assert head.startswith(b"HTTP/1.1 101"), head
    return s


def read_frame(s):
    """One unmasked server frame's payload."""
    def exactly(n):
        data = b""
        while len(data) < n:
            chunk = s.recv(n - len(data))
            if not chunk:
                raise AssertionError("socket closed")
            data += chunk
        return data
    b0, b1 = exactly(2)
    length = b1 & 0x7F
    if length == 126:
        length = int.from_bytes(exactly(2), "big")
    elif length == 127:
        length = int.from_bytes(exactly(8), "big")
    return b0 & 0x0F, exactly(length)


# ----- the cases


def test_goto_turns_dial(sim, browser):
    c = sim.client
    assert c.ask("nxt;open") == "ok"
    wait_until("page shows the link open", lambda: browser.text("link-state") == "open")
    assert c.ask("motor;goto;out_a;75;720;true") == "ok"
    # The braked motor may still settle a degree: compare with fresh readings.
    def dial_matches():
        count = c.ask("motor;getrotationcount;out_a")
        dial = browser.js("return document.getElementById('motor-A-dial').dataset.rotation")
        return count if dial == count and browser.text("motor-A-rotation") == count else None
    count = int(wait_until("dial A shows the client's count", dial_matches))
    assert count >= 720, count  # at or past the target; how far depends on the link's timing
    wait_until("motor A braked", lambda: browser.text("motor-A-state") == "braked")
    log = browser.text("log")
    assert "SETOUTPUTSTATE A power 75 regulated running" in log, log


def test_touch_button(sim, browser):
    c = sim.client
    assert c.ask("sensor;settouch;in_1") == "ok"
    wait_until("touch button shown", lambda: browser.text("sensor-1-touch") is not None)
    assert c.ask("sensor;getvalue;in_1") == "0"
    browser.pointer("sensor-1-touch", "down")
    wait_until("getvalue answers 1 while pressed", lambda: c.ask("sensor;getvalue;in_1") == "1")
    browser.pointer("sensor-1-touch", "up")
    wait_until("getvalue answers 0 once released", lambda: c.ask("sensor;getvalue;in_1") == "0")


def test_sonar_slider(sim, browser):
    c = sim.client
    assert c.ask("sensor;setsonar;in_4") == "ok"
    wait_until("distance slider shown", lambda: browser.text("sensor-4-distance") is not None)
    wait_until("sonar reads the option's 200", lambda: c.ask("sensor;getsonarvalue;in_4") == "200")
    browser.js("const s = document.getElementById('sensor-4-distance');"
               "s.value = 42; s.dispatchEvent(new Event('input'));")
    wait_until("getsonarvalue follows the slider",
               lambda: c.ask("sensor;getsonarvalue;in_4") == "42")
    wait_until("page shows 42 cm", lambda: browser.text("sensor-4-sonar") == "42 cm")


def test_playtone_shows(sim, browser):
    c = sim.client
    assert c.ask("nxt;playtone;440;200") == "ok"
    wait_until("last tone on the page", lambda: browser.text("tone-last") == "440 Hz, 200 ms")
    assert "PLAYTONE 440 Hz 200 ms" in browser.text("log")


def test_battery_edit(sim, browser):
    c = sim.client
    browser.js("const b = document.getElementById('battery');"
               "b.value = 7400; b.dispatchEvent(new Event('change'));")
    wait_until("batterylevel follows the page", lambda: c.ask("nxt;batterylevel") == "7400")


def test_stalled_watchers_cost_nothing(sim, browser):
    # One WebSocket client reads a frame and then never again, another never
    # reads at all; the page stays open. The TCP client's requests must all
    # be answered, and the page must go on showing new telegrams.
    c = sim.client
    reader = raw_websocket(sim.view)
    opcode, payload = read_frame(reader)
    assert opcode == 1, opcode
    state = json.loads(payload)
    assert [m["port"] for m in state["motors"]] == ["A", "B", "C"], state
    stalled = raw_websocket(sim.view)
    deadline = time.monotonic() + 30
    for i in range(3000):
        assert c.ask("motor;getrotationcount;out_b") == "0"
        assert time.monotonic() < deadline, f"only {i} requests answered in 30 s"
    before = int(browser.text("link-count"))
    c.ask("nxt;batterylevel")
    wait_until("page still live", lambda: int(browser.text("link-count")) > before)
    reader.close()
    stalled.close()


def world_pose(browser):
    return browser.js("const d = document.getElementById('world-map').dataset;"
                      "return d.x === undefined ? null : [Number(d.x), Number(d.y), Number(d.heading)];")


def test_world_robot_drives(sim, browser):
    # The built-in room: the robot starts at (150, 300) facing up (+y).
    c = sim.client
    wait_until("the room shown", lambda: world_pose(browser) == [150, 300, 90])
    assert c.ask("nxt;open") == "ok"
    assert c.ask("sensor;setsonar;in_4") == "ok"
    assert c.ask("motor;setforward;out_b;50") == "ok"
    assert c.ask("motor;setforward;out_c;50") == "ok"
    wait_until("the robot moves up the page", lambda: world_pose(browser)[1] > 500)
    assert c.ask("motor;stop;out_b;true") == "ok"
    assert c.ask("motor;stop;out_c;true") == "ok"
    x, y, heading = world_pose(browser)
    assert abs(x - 150) < 30 and (heading < 10 or heading > 350 or abs(heading - 90) < 10), (x, y, heading)
    # The page's sonar and the client's agree once the robot rests.
    time.sleep(0.5)
    wait_until("page and client see the same distance",
               lambda: browser.text("world-sonar") == c.ask("sensor;getsonarvalue;in_4") + " cm")


def test_world_drag_places_robot(sim, browser):
    # Drag the robot by the mouse to the room's middle; the client's sonar
    # then measures from there.
    c = sim.client
    x0, y0, _ = world_pose(browser)
    start, target = browser.js(
        "const c = document.getElementById('world-map'); const b = c.getBoundingClientRect();"
        "const s = b.width / c.width; const m = worldScale(c, world.last.room);"
        "const at = (x, y) => [Math.round(b.x + m.px(x) * s), Math.round(b.y + m.py(y) * s)];"
        "return [at(arguments[0], arguments[1]), at(1000, 700)];", x0, y0)
    actions = [{"type": "pointerMove", "duration": 0, "x": start[0], "y": start[1], "origin": "viewport"},
               {"type": "pointerDown", "button": 0},
               {"type": "pointerMove", "duration": 200, "x": target[0], "y": target[1], "origin": "viewport"},
               {"type": "pointerUp", "button": 0}]
    browser.call("POST", "/actions", {"actions": [
        {"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"}, "actions": actions}]})
    browser.call("DELETE", "/actions")
    wait_until("the robot put down near (1000, 700)",
               lambda: (lambda p: p and abs(p[0] - 1000) < 25 and abs(p[1] - 700) < 25)(world_pose(browser)))
    wait_until("the client's sonar measures from there",
               lambda: browser.text("world-sonar") == c.ask("sensor;getsonarvalue;in_4") + " cm")


CASES = [test_goto_turns_dial, test_touch_button, test_sonar_slider, test_playtone_shows,
         test_battery_edit, test_stalled_watchers_cost_nothing]


# The page of nxt-brick-sim, behind nxt-bridge-bt: the same page, the same
# brick model, reached through the Bluetooth framing.
BT_PTY_CASES = [test_goto_turns_dial, test_touch_button]

# The robot in the built-in room.
WORLD_CASES = [test_world_robot_drives, test_world_drag_places_robot]


def run_cases(cases, sim, browser, label=""):
    """Runs `cases` against `sim` on the open page; returns (passed, failed)."""
    passed = failed = 0
    for case in cases:
        try:
            case(sim, browser)
            passed += 1
            print(f"ok   {label}{case.__name__}")
        except Exception:
            failed += 1
            print(f"FAIL {label}{case.__name__}")
            traceback.print_exc()
    return passed, failed


def world_screenshot(sim, browser, path):
    """The built-in room with the robot on the line, driving an arc."""
    c = sim.client
    browser.js("send('pose 420 470 0');")
    wait_until("robot on the line", lambda: (world_pose(browser) or [0])[0] == 420)
    c.ask("sensor;settouch;in_1")
    c.ask("sensor;setlight;in_3;true")
    c.ask("motor;setforward;out_b;30")
    c.ask("motor;setforward;out_c;45")
    time.sleep(2.5)
    c.ask("motor;stop;out_b;true")
    c.ask("motor;stop;out_c;true")
    time.sleep(0.5)
    browser.screenshot(path)
    print(f"screenshot: {path}")


def open_page(browser, sim):
    browser.open(sim.url)
    wait_until("page live", lambda: browser.text("page-state") == "live", 10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--bt-pty", help="nxt-bridge-bt-pty: check nxt-brick-sim's page too")
    parser.add_argument("--screenshot", help="write the page as the cases left it to FILE")
    parser.add_argument("--world-screenshot", help="write the page with the built-in room to FILE")
    args = parser.parse_args()

    sim = Sim(args.sim, "--sonar", "in_4=200")
    browser = None
    try:
        browser = Browser()
        open_page(browser, sim)
        passed, failed = run_cases(CASES, sim, browser)
        if args.screenshot:
            sim.client.ask("motor;setforward;out_b;40")
            sim.client.ask("sensor;setlight;in_3;true")
            time.sleep(1.0)
            browser.screenshot(args.screenshot)
            print(f"screenshot: {args.screenshot}")
        sim.stop()
        sim = Sim(args.sim, "--world", "default")
        open_page(browser, sim)
        more = run_cases(WORLD_CASES, sim, browser, "world: ")
        passed, failed = passed + more[0], failed + more[1]
        if args.world_screenshot:
            world_screenshot(sim, browser, args.world_screenshot)
        sim.stop()
        if args.bt_pty:
            sim = Sim(args.bt_pty)
            open_page(browser, sim)
            more = run_cases(BT_PTY_CASES, sim, browser, "nxt-brick-sim: ")
            passed, failed = passed + more[0], failed + more[1]
    finally:
        if browser:
            browser.quit()
        sim.stop()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

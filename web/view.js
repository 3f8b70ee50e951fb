// The live page of nxt-bridge-sim: draws each state message that the
// server sends over /ws and sends console lines back for the controls.
"use strict";

const PLOT_SECONDS = 10;
const TOUCH_PRESSED_RAW = 183;
const TOUCH_RELEASED_RAW = 1023;

const $ = (id) => document.getElementById(id);
let socket = null;
let audio = null;         // the AudioContext, once the user allows sound
let toneCount = null;     // the last tone count seen
const history = { A: [], B: [], C: [] };  // [time s, rotation] per motor
const sensorKinds = {};   // the control shown on each sensor port

function send(line) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(line);
}

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
  for (const c of children) e.append(c);
  return e;
}

// ----- motors

function buildMotors() {
  for (const port of ["A", "B", "C"]) {
    const card = el("div", { class: "card", id: `motor-${port}` },
      el("h3", {}, `Motor ${port}`, el("span", { id: `motor-${port}-state`, class: "badge" }, "coasting")),
      el("canvas", { id: `motor-${port}-dial`, width: 120, height: 120, "data-rotation": "0" }),
      el("div", { class: "counters" },
        "power", el("b", { id: `motor-${port}-power` }, "0"),
        "rotation", el("b", { id: `motor-${port}-rotation` }, "0"),
        "tacho", el("b", { id: `motor-${port}-tacho` }, "0"),
        "block", el("b", { id: `motor-${port}-block` }, "0")),
      el("canvas", { id: `motor-${port}-plot`, width: 160, height: 56 }));
    $("motors").append(card);
  }
}

function drawDial(canvas, rotation, power) {
  const g = canvas.getContext("2d");
  const r = canvas.width / 2;
  g.clearRect(0, 0, canvas.width, canvas.height);
  g.save();
  g.translate(r, r);
  g.strokeStyle = "#d9dce3";
  g.lineWidth = 6;
  g.beginPath(); g.arc(0, 0, r - 6, 0, 2 * Math.PI); g.stroke();
  g.strokeStyle = "#9aa1ad";
  g.lineWidth = 1;
  for (let i = 0; i < 12; ++i) {
    const a = (i * Math.PI) / 6;
    g.beginPath();
    g.moveTo(Math.sin(a) * (r - 14), -Math.cos(a) * (r - 14));
    g.lineTo(Math.sin(a) * (r - 9), -Math.cos(a) * (r - 9));
    g.stroke();
  }
  // The hub turns with the rotation count: one turn of the needle is 360 degrees.
  const a = (rotation * Math.PI) / 180;
  g.strokeStyle = power === 0 ? "#263042" : "#e4781b";
  g.lineWidth = 4;
  g.lineCap = "round";
  g.beginPath(); g.moveTo(0, 0); g.lineTo(Math.sin(a) * (r - 18), -Math.cos(a) * (r - 18)); g.stroke();
  g.fillStyle = "#263042";
  g.beginPath(); g.arc(0, 0, 5, 0, 2 * Math.PI); g.fill();
  g.font = "12px system-ui, sans-serif";
  g.textAlign = "center";
  g.fillText(`${rotation}°`, 0, r / 2 + 4);
  g.restore();
}

function drawPlot(canvas, samples, now) {
  const g = canvas.getContext("2d");
  g.clearRect(0, 0, canvas.width, canvas.height);
  g.strokeStyle = "#d9dce3";
  g.strokeRect(0.5, 0.5, canvas.width - 1, canvas.height - 1);
  if (samples.length < 2) return;
  let lo = Infinity, hi = -Infinity;
  for (const [, v] of samples) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
  if (hi - lo < 10) { hi += 5; lo -= 5; }
  const x = (t) => ((t - (now - PLOT_SECONDS)) / PLOT_SECONDS) * (canvas.width - 2) + 1;
  const y = (v) => canvas.height - 3 - ((v - lo) / (hi - lo)) * (canvas.height - 6);
  g.strokeStyle = "#e4781b";
  g.lineWidth = 1.5;
  g.beginPath();
  samples.forEach(([t, v], i) => (i === 0 ? g.moveTo(x(t), y(v)) : g.lineTo(x(t), y(v))));
  g.lineTo(x(now), y(samples[samples.length - 1][1]));
  g.stroke();
  g.fillStyle = "#6b7280";
  g.font = "10px system-ui, sans-serif";
  g.fillText(`${hi}`, 3, 10);
  g.fillText(`${lo}`, 3, canvas.height - 3);
}

function showMotors(motors) {
  const now = performance.now() / 1000;
  for (const m of motors) {
    const p = m.port;
    const h = history[p];
    if (h.length === 0 || h[h.length - 1][1] !== m.rotation) h.push([now, m.rotation]);
    while (h.length > 2 && h[1][0] < now - PLOT_SECONDS) h.shift();
    const dial = $(`motor-${p}-dial`);
    dial.dataset.rotation = m.rotation;
    drawDial(dial, m.rotation, m.power);
    const dir = m.power > 0 ? "forward" : m.power < 0 ? "reverse" : "";
    $(`motor-${p}-power`).textContent =
      `${m.power} ${dir}${m.regulated ? " regulated" : ""}${m.load < 100 ? ` load ${m.load}%` : ""}`;
    $(`motor-${p}-rotation`).textContent = m.rotation;
    $(`motor-${p}-tacho`).textContent = m.tacho;
    $(`motor-${p}-block`).textContent = m.block;
    const state = $(`motor-${p}-state`);
    state.textContent = m.state;
    state.className = `badge state-${m.state}`;
    drawPlot($(`motor-${p}-plot`), h, now);
  }
}

// ----- sensors

function controlKind(s) {
  if (s.type === "SWITCH") return "touch";
  if (s.type === "LOWSPEED_9V" || s.type === "LOWSPEED") return "distance";
  if (s.type.startsWith("LIGHT")) return "light";
  if (s.type.startsWith("SOUND")) return "sound";
  return "raw";
}

function buildSensors() {
  for (const port of [1, 2, 3, 4]) {
    $("sensors").append(el("div", { class: "card", id: `sensor-${port}` },
      el("h3", {}, `Sensor ${port}`, el("span", { id: `sensor-${port}-type`, class: "muted" }, "")),
      el("div", { class: "counters" },
        "mode", el("b", { id: `sensor-${port}-mode` }, ""),
        "raw", el("b", { id: `sensor-${port}-raw` }, ""),
        "scaled", el("b", { id: `sensor-${port}-scaled` }, ""),
        "sonar", el("b", { id: `sensor-${port}-sonar` }, "")),
      el("div", { id: `sensor-${port}-control` })));
  }
}

function slider(port, id, label, max, value, line) {
  const input = el("input", { type: "range", id, min: 0, max, value });
  const shown = el("span", {}, `${value}`);
  input.addEventListener("input", () => {
    shown.textContent = input.value;
    send(line(input.value));
  });
  return el("label", {}, `${label} `, shown, input);
}

function buildControl(port, kind, s) {
  const box = $(`sensor-${port}-control`);
  box.replaceChildren();
  if (kind === "touch") {
    const b = el("button", { type: "button", class: "touch", id: `sensor-${port}-touch` }, "press");
    const press = (down) => (e) => {
      e.preventDefault();
      if (down && e.pointerId !== undefined) b.setPointerCapture(e.pointerId);
      if (b.classList.contains("pressed") === down) return;
      b.classList.toggle("pressed", down);
      send(`sensor in_${port}=${down ? TOUCH_PRESSED_RAW : TOUCH_RELEASED_RAW}`);
    };
    b.addEventListener("pointerdown", press(true));
    b.addEventListener("pointerup", press(false));
    b.addEventListener("pointercancel", press(false));
    box.append(b);
  } else if (kind === "distance") {
    box.append(slider(port, `sensor-${port}-distance`, "distance cm", 255,
      s.sonar === null ? 255 : s.sonar, (v) => `sonar in_${port}=${v}`));
  } else {
    const label = kind === "light" ? "light (raw)" : kind === "sound" ? "sound (raw)" : "raw";
    box.append(slider(port, `sensor-${port}-slider`, label, 1023, s.raw === null ? 1023 : s.raw,
      (v) => `sensor in_${port}=${v}`));
  }
}

function showSensors(sensors) {
  for (const s of sensors) {
    const p = s.port;
    $(`sensor-${p}-type`).textContent = s.type;
    $(`sensor-${p}-mode`).textContent = s.mode;
    $(`sensor-${p}-raw`).textContent = s.raw === null ? "-" : s.raw;
    $(`sensor-${p}-scaled`).textContent = s.scaled === null ? "-" : s.scaled;
    $(`sensor-${p}-sonar`).textContent = s.sonar === null ? "none" : `${s.sonar} cm`;
    const kind = controlKind(s);
    if (sensorKinds[p] !== kind) {
      sensorKinds[p] = kind;
      buildControl(p, kind, s);
    }
  }
}

// ----- brick, tones, link

function playTone(hz, ms) {
  if (!audio) return;
  const osc = audio.createOscillator();
  const gain = audio.createGain();
  osc.type = "square";
  osc.frequency.value = hz;
  gain.gain.value = 0.08;
  osc.connect(gain).connect(audio.destination);
  osc.start();
  osc.stop(audio.currentTime + ms / 1000);
}

function showBrick(b) {
  $("brick-name").textContent = b.name;
  const battery = $("battery");
  if (document.activeElement !== battery) battery.value = b.battery;
  $("program").textContent = b.program || "none";
  $("sound").textContent = b.sound ? `${b.sound}${b.soundLoops ? " (looping)" : ""}` : "none";
  if (b.tone.count > 0) $("tone-last").textContent = `${b.tone.hz} Hz, ${b.tone.ms} ms`;
  if (toneCount !== null && b.tone.count > toneCount) playTone(b.tone.hz, b.tone.ms);
  toneCount = b.tone.count;
}

function showLink(l) {
  const state = $("link-state");
  state.textContent = !l.attached ? "no brick" : l.open ? "open" : "closed";
  state.className = `badge ${l.open ? "on" : "off"}`;
  $("link-rate").textContent = Math.round(l.perSecond);
  $("link-count").textContent = l.telegrams;
}

function showLog(lines) {
  $("log").replaceChildren(...lines.map((t) => el("li", {}, t)));
}

// ----- the robot's room, seen from above

const TRAIL_POINTS = 3000;
const world = {
  last: null,      // the last world message
  trail: [],       // [x, y] of the axle's middle, oldest first
  drag: null,      // {turn, dx, dy, x, y, heading} while the robot is held
  held: null,      // the pose it was put down at, until a message shows it there
};

// The canvas's mapping from the room's millimetres (y up) to pixels.
function worldScale(canvas, room) {
  const pad = 8;
  const scale = Math.min((canvas.width - 2 * pad) / room[0], 480 / room[1]);
  const height = Math.round(room[1] * scale + 2 * pad);
  if (canvas.height !== height) canvas.height = height;
  return {
    px: (x) => pad + x * scale,
    py: (y) => pad + (room[1] - y) * scale,
    mm: (px, py) => [(px - pad) / scale, room[1] - (py - pad) / scale],
    scale,
  };
}

function polygon(g, m, points) {
  g.beginPath();
  points.forEach(([x, y], i) => (i === 0 ? g.moveTo(m.px(x), m.py(y)) : g.lineTo(m.px(x), m.py(y))));
  g.closePath();
}

// The robot's outline moved to `pose` from where the message shows it.
function movedBody(r, pose) {
  const a = ((pose.heading - r.heading) * Math.PI) / 180;
  const c = Math.cos(a), s = Math.sin(a);
  return r.body.map(([x, y]) => {
    const dx = x - r.x, dy = y - r.y;
    return [pose.x + dx * c - dy * s, pose.y + dx * s + dy * c];
  });
}

function drawWorld(w) {
  const canvas = $("world-map");
  const g = canvas.getContext("2d");
  const m = worldScale(canvas, w.room);
  const r = w.robot;
  g.clearRect(0, 0, canvas.width, canvas.height);
  const shade = (reflectance) => {
    const v = Math.round(40 + 215 * reflectance);
    return `rgb(${v},${v},${v})`;
  };
  g.fillStyle = shade(w.floor);
  g.fillRect(m.px(0), m.py(w.room[1]), w.room[0] * m.scale, w.room[1] * m.scale);
  g.lineCap = "round";
  g.lineJoin = "round";
  for (const line of w.lines) {
    g.strokeStyle = shade(line.reflectance);
    g.lineWidth = Math.max(1, line.width * m.scale);
    g.beginPath();
    line.points.forEach(([x, y], i) => (i === 0 ? g.moveTo(m.px(x), m.py(y)) : g.lineTo(m.px(x), m.py(y))));
    g.stroke();
  }
  g.fillStyle = "#8b5a2b";
  for (const [x, y, bw, bh] of w.obstacles) g.fillRect(m.px(x), m.py(y + bh), bw * m.scale, bh * m.scale);
  g.strokeStyle = "#263042";
  g.lineWidth = 4;
  g.strokeRect(m.px(0), m.py(w.room[1]), w.room[0] * m.scale, w.room[1] * m.scale);
  for (const [x1, y1, x2, y2] of w.walls) {
    g.beginPath(); g.moveTo(m.px(x1), m.py(y1)); g.lineTo(m.px(x2), m.py(y2)); g.stroke();
  }
  // The trail.
  g.strokeStyle = "rgba(228, 120, 27, 0.6)";
  g.lineWidth = 1.5;
  g.beginPath();
  world.trail.forEach(([x, y], i) => (i === 0 ? g.moveTo(m.px(x), m.py(y)) : g.lineTo(m.px(x), m.py(y))));
  g.stroke();
  // The sonar's cone out to what it sees (or its range).
  if (r.sonar) {
    const reach = r.sonar.cm === 255 ? r.sonar.range : r.sonar.cm * 10;
    const a0 = (-(r.sonar.heading + r.sonar.halfCone) * Math.PI) / 180;
    const a1 = (-(r.sonar.heading - r.sonar.halfCone) * Math.PI) / 180;
    g.fillStyle = "rgba(31, 157, 85, 0.18)";
    g.strokeStyle = "rgba(31, 157, 85, 0.8)";
    g.lineWidth = 1;
    g.beginPath();
    g.moveTo(m.px(r.sonar.x), m.py(r.sonar.y));
    g.arc(m.px(r.sonar.x), m.py(r.sonar.y), reach * m.scale, a0, a1);
    g.closePath();
    g.fill();
    g.stroke();
  }
  // The robot: where it is, and a ghost where the mouse holds it.
  polygon(g, m, r.body);
  g.fillStyle = r.blocked ? "rgba(192, 57, 43, 0.85)" : "rgba(38, 48, 66, 0.85)";
  g.fill();
  const h = (r.heading * Math.PI) / 180;
  g.strokeStyle = "#fff";
  g.lineWidth = 2;
  g.beginPath();
  g.moveTo(m.px(r.x), m.py(r.y));
  g.lineTo(m.px(r.x + 60 * Math.cos(h)), m.py(r.y + 60 * Math.sin(h)));
  g.stroke();
  g.strokeStyle = r.bumper.pressed ? "#c0392b" : "#f5c518";
  g.lineWidth = 4;
  g.beginPath();
  g.moveTo(m.px(r.bumper.from[0]), m.py(r.bumper.from[1]));
  g.lineTo(m.px(r.bumper.to[0]), m.py(r.bumper.to[1]));
  g.stroke();
  if (r.light) {
    g.fillStyle = r.light.lamp ? "rgba(255, 60, 40, 0.9)" : "rgba(255, 160, 150, 0.9)";
    g.beginPath();
    g.arc(m.px(r.light.x), m.py(r.light.y), Math.max(2, r.light.radius * m.scale), 0, 2 * Math.PI);
    g.fill();
  }
  const ghost = world.drag || world.held;
  if (ghost) {
    polygon(g, m, movedBody(r, ghost));
    g.strokeStyle = "#e4781b";
    g.lineWidth = 2;
    g.setLineDash([5, 4]);
    g.stroke();
    g.setLineDash([]);
  }
}

function showWorld(w) {
  $("world").hidden = !w;
  world.last = w;
  if (!w) return;
  const r = w.robot;
  const t = world.trail;
  const last = t[t.length - 1];
  const step = last ? Math.hypot(r.x - last[0], r.y - last[1]) : Infinity;
  if (step > 200) t.length = 0;  // picked up and put down elsewhere
  if (step >= 5) t.push([r.x, r.y]);
  if (t.length > TRAIL_POINTS) t.splice(0, t.length - TRAIL_POINTS);
  if (world.held && Math.hypot(r.x - world.held.x, r.y - world.held.y) < 1) world.held = null;
  const canvas = $("world-map");
  canvas.dataset.x = r.x;
  canvas.dataset.y = r.y;
  canvas.dataset.heading = r.heading;
  $("world-pose").textContent =
    `x ${Math.round(r.x)} mm, y ${Math.round(r.y)} mm, heading ${Math.round(r.heading) % 360}°` +
    (r.blocked ? " (against a wall)" : "");
  $("world-sonar").textContent = r.sonar ? (r.sonar.cm === 255 ? "nothing in range" : `${r.sonar.cm} cm`) : "none";
  $("world-bumper").textContent = r.bumper.pressed ? "pressed" : "free";
  $("world-light").textContent = r.light ? `${r.light.percent} %${r.light.lamp ? "" : " (lamp off)"}` : "none";
  drawWorld(w);
}

function worldPointer(e) {
  const canvas = $("world-map");
  const box = canvas.getBoundingClientRect();
  const m = worldScale(canvas, world.last.room);
  return m.mm((e.clientX - box.left) * (canvas.width / box.width),
              (e.clientY - box.top) * (canvas.height / box.height));
}

function buildWorld() {
  const canvas = $("world-map");
  canvas.addEventListener("pointerdown", (e) => {
    if (!world.last) return;
    const r = world.last.robot;
    const [x, y] = worldPointer(e);
    if (Math.hypot(x - r.x, y - r.y) > 150) return;
    canvas.setPointerCapture(e.pointerId);
    canvas.classList.add("dragging");
    world.drag = { turn: e.shiftKey, dx: r.x - x, dy: r.y - y, x: r.x, y: r.y, heading: r.heading };
  });
  canvas.addEventListener("pointermove", (e) => {
    const d = world.drag;
    if (!d) return;
    const [x, y] = worldPointer(e);
    if (d.turn) {
      d.heading = (Math.atan2(y - d.y, x - d.x) * 180) / Math.PI;
    } else {
      d.x = x + d.dx;
      d.y = y + d.dy;
    }
    drawWorld(world.last);
  });
  const drop = () => {
    const d = world.drag;
    if (!d) return;
    world.drag = null;
    canvas.classList.remove("dragging");
    const heading = ((Math.round(d.heading) % 360) + 360) % 360;
    world.held = { x: Math.round(d.x), y: Math.round(d.y), heading };
    send(`pose ${world.held.x} ${world.held.y} ${heading}`);
    setTimeout(() => { world.held = null; }, 1000);
  };
  canvas.addEventListener("pointerup", drop);
  canvas.addEventListener("pointercancel", drop);
}

function show(state) {
  showWorld(state.world);
  showLink(state.link);
  showBrick(state.brick);
  showMotors(state.motors);
  showSensors(state.sensors);
  showLog(state.log);
}

function connect() {
  const page = $("page-state");
  socket = new WebSocket(`${location.protocol === "https:" ? "wss" : "ws"}://${location.host}/ws`);
  socket.onopen = () => { page.textContent = "live"; page.className = "badge on"; };
  socket.onmessage = (e) => show(JSON.parse(e.data));
  socket.onclose = () => {
    page.textContent = "reconnecting";
    page.className = "badge warn";
    setTimeout(connect, 1000);
  };
}

$("battery").addEventListener("change", (e) => {
  const mv = Math.round(Number(e.target.value));
  if (Number.isFinite(mv) && mv >= 0 && mv <= 65535) send(`battery ${mv}`);
});

$("sound-toggle").addEventListener("click", (e) => {
  if (audio) {
    audio.close();
    audio = null;
  } else {
    audio = new (window.AudioContext || window.webkitAudioContext)();
  }
  e.target.textContent = `Play tones: ${audio ? "on" : "off"}`;
});

buildWorld();
buildMotors();
buildSensors();
connect();

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

function show(state) {
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

buildMotors();
buildSensors();
connect();

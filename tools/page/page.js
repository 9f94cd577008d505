// The live page of orva-sim: the panel drawn at each frame, the two push
// buttons, the controls built from the action table (GET /actions), the
// timeline and the program's output (GET /events), and the buzzer.
'use strict';

// The table's groups as a person looks for them; a group the page does not
// know comes last under its own name.
const GROUPS = {
  buttons: 'Push buttons',
  power: 'Power and battery',
  usb: 'USB',
  ethernet: 'Ethernet',
  gnss: 'PPS',
  bluetooth: 'Bluetooth remote',
  gsm: 'GSM network, call and socket',
};
// The colours of the pictures orva-sim saves: lit pixels dark.
const LIT = 'rgb(28, 36, 44)';
const BACKGROUND = 'rgb(216, 228, 196)';
const SCALE = 4;
const KEPT_LINES = 2000;
// A press lasts at least this long in the receiver's time, as a click's
// does, so that a program that polls the button sees it.
const SHORTEST_PRESS_MS = 100;

// What the page shows, for whoever looks (the browser test reads it).
const state = { timeScale: 0.05, helloMs: 0, helloAt: 0, ended: false, lastFrame: null, beeps: [] };
window.orvaPage = state;

const byId = (id) => document.getElementById(id);

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

function seconds(ms) {
  return (ms / 1000).toFixed(3) + ' s';
}

// ---- Actions: one at a time, in order, so a release never overtakes its press.

let queue = Promise.resolve();
let lastAnswerAt = 0;

function send(text, waitMs) {
  const sent = queue
    .then(() => new Promise((resolve) => setTimeout(resolve, waitMs ? waitMs() : 0)))
    .then(() => post(text));
  queue = sent.catch(() => {});
  return sent;
}

async function post(text) {
  let answer;
  try {
    const response = await fetch('/actions', { method: 'POST', body: text });
    answer = await response.json();
  } catch (error) {
    answer = { done: false, action: text, error: 'no answer (' + error.message + ')' };
  }
  lastAnswerAt = performance.now();
  const line = byId('answer');
  line.textContent = answer.done ? `${answer.action}: ${answer.text}` : `${answer.action} refused: ${answer.error}`;
  line.className = answer.done ? 'done' : 'refused';
  return answer;
}

function pushButton(button, name) {
  let held = false;
  const down = () => {
    if (held) return;
    held = true;
    button.classList.add('held');
    send('press=' + name);
  };
  const up = () => {
    if (!held) return;
    held = false;
    button.classList.remove('held');
    const shortest = SHORTEST_PRESS_MS * state.timeScale;
    send('release=' + name, () => Math.max(0, shortest - (performance.now() - lastAnswerAt)));
  };
  button.addEventListener('pointerdown', (event) => {
    button.setPointerCapture(event.pointerId);
    down();
  });
  for (const type of ['pointerup', 'pointercancel', 'lostpointercapture']) button.addEventListener(type, up);
  return { down, up };
}

function setUpButtons() {
  const keys = { r: pushButton(byId('button-record'), 'record'), s: pushButton(byId('button-scroll'), 'scroll') };
  const typing = (event) => event.target.closest('input, textarea');
  document.addEventListener('keydown', (event) => {
    const button = keys[event.key.toLowerCase()];
    if (!button || event.repeat || typing(event) || event.ctrlKey || event.metaKey || event.altKey) return;
    event.preventDefault();
    button.down();
  });
  document.addEventListener('keyup', (event) => {
    const button = keys[event.key.toLowerCase()];
    if (button) button.up();
  });
  window.addEventListener('blur', () => Object.values(keys).forEach((button) => button.up()));
}

// ---- Controls, from the action table.

// "battery|external" gives two buttons; "PERCENT|absent" a field and a
// button; "open[,ADDRESS]|close" two buttons (the optional part left out).
function actionRow(action) {
  const row = element('div', 'action');
  const values = element('div', 'values');
  row.title = action.help;
  row.append(element('span', 'name', action.name), values);
  const typed = [];
  for (const alternative of action.values.split('|')) {
    const word = alternative.replace(/\[[^\]]*\]/g, '');
    if (/^[a-z][a-z-]*$/.test(word)) {
      const button = element('button', null, word);
      button.type = 'button';
      button.addEventListener('click', () => send(`${action.name}=${word}`));
      values.append(button);
    } else {
      typed.push(alternative);
    }
  }
  if (typed.length) {
    const form = element('form');
    const input = element('input');
    input.placeholder = typed.join('|');
    input.setAttribute('aria-label', action.name);
    const set = element('button', null, 'set');
    form.append(input, set);
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      send(`${action.name}=${input.value}`);
    });
    values.append(form);
  }
  return row;
}

async function setUpControls() {
  const table = await (await fetch('/actions')).json();
  const groups = [...Object.keys(GROUPS), ...new Set(table.map((action) => action.group))];
  for (const group of new Set(groups)) {
    const actions = table.filter((action) => action.group === group);
    if (!actions.length) continue;
    const box = element('fieldset');
    box.append(element('legend', null, GROUPS[group] || group), ...actions.map(actionRow));
    byId('groups').append(box);
  }
  byId('free').addEventListener('submit', (event) => {
    event.preventDefault();
    send(byId('free-action').value.trim());
  });
}

// ---- What the receiver does.

function draw(frame) {
  state.lastFrame = frame;
  const canvas = byId('panel');
  const context = canvas.getContext('2d');
  context.fillStyle = BACKGROUND;
  context.fillRect(0, 0, canvas.width, canvas.height);
  // An unpowered panel shows nothing, whatever its memory holds.
  if (frame.shown) {
    context.fillStyle = LIT;
    for (let index = 0; index < 1024; index++) {
      const byte = parseInt(frame.ram.substr(index * 2, 2), 16);
      const column = index % 128;
      const top = Math.floor(index / 128) * 8;
      for (let bit = 0; bit < 8; bit++)
        if ((byte >> bit) & 1) context.fillRect(column * SCALE, (top + bit) * SCALE, SCALE, SCALE);
    }
  }
  canvas.classList.toggle('off', !frame.shown);
  byId('panel-off').hidden = frame.shown;
  const contrast = frame.contrast >= 0 ? `, contrast ${frame.contrast}` : '';
  byId('panel-caption').textContent = `frame ${frame.number} at ${seconds(frame.ms)}${contrast}`;
}

function append(logId, parts, className) {
  const log = byId(logId);
  const atEnd = log.scrollHeight - log.scrollTop - log.clientHeight < 30;
  const row = element('div', className);
  for (const [text, partClass] of parts) row.append(element('span', partClass, text));
  log.append(row);
  while (log.childElementCount > KEPT_LINES) log.firstElementChild.remove();
  if (atEnd) log.scrollTop = log.scrollHeight;
}

let audio = null;

// The buzzer: its time is the receiver's, shown at the page's pace, and never
// too short to hear.
function beep(hz, ms) {
  const length = Math.min(2, Math.max(0.08, (ms * state.timeScale) / 1000));
  state.beeps.push({ hz, seconds: length });
  if (!audio || !byId('sound').checked) return;
  const oscillator = audio.createOscillator();
  const gain = audio.createGain();
  oscillator.type = 'square';
  oscillator.frequency.value = hz;
  gain.gain.value = 0.05;
  oscillator.connect(gain).connect(audio.destination);
  oscillator.start();
  oscillator.stop(audio.currentTime + length);
}

function setUpSound() {
  // Browsers let a page play sound once the user did something on it.
  const wake = () => {
    if (!byId('sound').checked) return;
    audio = audio || new AudioContext();
    audio.resume();
  };
  for (const type of ['pointerdown', 'keydown']) document.addEventListener(type, wake, true);
  byId('sound').addEventListener('change', wake);
}

function setStatus(text, className) {
  byId('status').textContent = text;
  byId('status').className = className || '';
}

function tick() {
  if (!state.ended && state.helloAt)
    byId('clock').textContent =
      'receiver time ' + seconds(state.helloMs + (performance.now() - state.helloAt) / state.timeScale);
  setTimeout(tick, 100);
}

function listen() {
  const source = new EventSource('/events');
  const handlers = {};
  const on = (name, handler) => {
    handlers[name] = handler;
    source.addEventListener(name, (event) => handler(JSON.parse(event.data)));
  };
  // An event as the stream would bring it (the browser test's way in).
  state.receive = (name, data) => handlers[name](data);
  // Each connection starts with the whole history: what was shown goes.
  on('hello', (hello) => {
    Object.assign(state, { timeScale: hello.timeScale, helloMs: hello.now, helloAt: performance.now(), ended: false });
    byId('program').textContent = hello.program;
    document.title = `${hello.program} - orva-sim`;
    for (const id of ['events', 'output', 'report']) byId(id).textContent = '';
    byId('report-box').hidden = true;
    document.body.classList.remove('ended');
    setStatus('running');
  });
  on('frame', draw);
  on('log', (event) => {
    append('events', [[seconds(event.ms).padStart(12) + ' ', 'ms'], [event.source + ' ', 'source'], [event.text]]);
    const buzzer = /^buzzer on (\d+) Hz, (\d+) ms$/.exec(event.text);
    if (event.source === 'buzzer' && buzzer && event.ms >= state.helloMs) beep(Number(buzzer[1]), Number(buzzer[2]));
  });
  on('output', (line) => append('output', [[line.text]], line.stream === 'stderr' ? 'stderr' : ''));
  on('skipped', (gap) => append('events', [[`... ${gap.lines} older lines left out`]], 'note'));
  on('end', (end) => {
    state.ended = true;
    byId('clock').textContent = 'receiver time ' + seconds(end.ms);
    setStatus(`the program ended at ${seconds(end.ms)}; the page shows its last screen`, 'ended');
    document.body.classList.add('ended');
  });
  on('report', (report) => {
    byId('report').textContent = report.lines.join('\n');
    byId('report-box').hidden = false;
  });
  source.onerror = () => setStatus(state.ended ? 'orva-sim has stopped' : 'connection lost, retrying', 'lost');
}

setUpButtons();
setUpSound();
setUpControls();
listen();
tick();

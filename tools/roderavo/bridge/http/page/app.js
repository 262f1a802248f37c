// The page of the web face. It shows the bridge's state document as the event stream
// brings it, tells within 2 s when the bridge is lost (and greys what it shows), and
// reconnects by itself. Every text from the bridge goes in as text, never as markup.
'use strict';

// A silent stream is told from a lost bridge within 2 s: after SILENCE_MS (and at most
// one TICK_MS) the state is asked for, and no answer within PROBE_MS means lost.
const SILENCE_MS = 900;
const PROBE_MS = 700;
const TICK_MS = 200;
const RETRY_MS = 1000;  // between attempts to reconnect
const TOKEN_KEY = 'roderavo.token';

// The multiplexer's keypad: its 46 key codes, named by their character where they
// have a printable one.
const KEY_CODES = [9, 13, 14, 32, 35, 36, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 68, 70, 71,
  72, 75, 76, 77, 79, 82, 83, 85, 97, 99, 101, 102, 104, 105, 106, 107, 110, 112, 113, 114,
  115, 118, 119, 121, 122, 203, 205];
const KEY_NAMES = {9: 'HT', 13: 'CR', 14: 'SO', 32: 'space', 203: 'CB', 205: 'CD'};
const keyName = (code) => KEY_NAMES[code] || String.fromCharCode(code);

const CAMERA_WORDS = {fine: 'fine', alarm: 'ALARM', 'video-loss': 'no video', unknown: 'unknown'};

const page = {
  source: null, lastHeard: 0, live: false, lostOnce: false, probing: false, retry: null,
  sent: 0, cameras: new Map(), muxes: new Map(), writable: null,
};

const $ = (id) => document.getElementById(id);

function make(tag, attributes = {}, text = '') {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) element.setAttribute(name, value);
  if (text) element.textContent = text;
  return element;
}

function setText(element, text) {
  if (element.textContent !== text) element.textContent = text;
}

function setData(element, name, value) {
  if (element.dataset[name] !== value) element.dataset[name] = value;
}

// "2026-12-08T10:35:43.346+00:00" as "2026-12-08 10:35:43": the bridge's own clock.
const shownTime = (iso) => (iso ? iso.slice(0, 19).replace('T', ' ') : '');

// --- The connection -------------------------------------------------------------

function connect() {
  page.retry = null;
  const source = new EventSource('/api/v1/events');
  page.source = source;
  source.addEventListener('state', (event) => heard(event.data));
  source.onerror = () => {
    if (page.source === source) lose();
  };
}

function heard(text) {
  let state;
  try {
    state = JSON.parse(text);
  } catch (error) {
    return;
  }
  page.lastHeard = Date.now();
  if (!page.live) showConnection(true);
  render(state);
}

function lose() {
  if (page.source) page.source.close();
  page.source = null;
  if (page.live) showConnection(false);
  if (!page.retry) page.retry = setTimeout(connect, RETRY_MS);
}

function showConnection(live) {
  page.live = live;
  const banner = $('connection');
  const now = new Date().toLocaleTimeString();
  banner.dataset.connection = live ? 'live' : 'lost';
  document.body.classList.toggle('lost', !live);
  if (live) {
    banner.textContent = page.lostOnce ? `live: reconnected at ${now}` : 'live';
  } else {
    page.lostOnce = true;
    banner.textContent = `lost at ${now}: the bridge does not answer; reconnecting…`;
  }
}

// A stream can go silent without closing (a network gone, a bridge that hangs): when
// nothing came for a while, the state is asked for directly, and no answer in time
// means the bridge is lost.
async function probe() {
  if (!page.live || page.probing || Date.now() - page.lastHeard < SILENCE_MS) return;
  page.probing = true;
  try {
    const answer = await fetch('/api/v1/state', {cache: 'no-store',
      signal: AbortSignal.timeout(PROBE_MS)});
    if (!answer.ok) throw new Error(`status ${answer.status}`);
    heard(await answer.text());
  } catch (error) {
    lose();
  } finally {
    page.probing = false;
  }
}

// --- The state document ---------------------------------------------------------

function render(state) {
  const bridge = state.bridge || {};
  setText($('site'), state.site || '');
  setText($('port'), bridge.port || '');
  setText($('version'), bridge.version || '');
  setText($('started'), shownTime(bridge.started));
  const writable = bridge.writable === true;
  if (writable !== page.writable) {
    page.writable = writable;
    $('token').hidden = !writable;
    for (const card of page.muxes.values()) card.remove();
    page.muxes.clear();
  }
  renderMuxes(state.muxes || []);
  renderCameras(state.cameras || []);
  renderReports(state.cameras || []);
  renderEvents(state.events || []);
}

function renderMuxes(muxes) {
  const shown = new Set();
  for (const mux of muxes) {
    shown.add(mux.mux);
    let card = page.muxes.get(mux.mux);
    if (!card) {
      card = muxCard(mux.mux);
      page.muxes.set(mux.mux, card);
      const later = [...page.muxes.keys()].filter((m) => m > mux.mux).sort((a, b) => a - b)[0];
      $('muxes').insertBefore(card, later === undefined ? null : page.muxes.get(later));
    }
    fillMux(card, mux);
  }
  for (const [number, card] of page.muxes) {
    if (!shown.has(number)) {
      card.remove();
      page.muxes.delete(number);
    }
  }
}

const MUX_FIELDS = [['age', 'last good read'], ['clock', 'clock'], ['version', 'version'],
  ['reads', 'reads'], ['errors', 'errors'], ['timeouts', 'time-outs']];

function muxCard(number) {
  const card = make('article', {'class': 'mux', 'data-mux': String(number), 'data-state': ''});
  const title = make('h3', {}, `Multiplexer ${number}`);
  title.append(make('span', {'class': 'state'}));
  const fields = make('dl');
  for (const [name, label] of MUX_FIELDS)
    fields.append(make('dt', {}, label), make('dd', {'class': `value ${name}`}));
  card.append(title, fields);
  if (page.writable) card.append(controls(number));
  return card;
}

function fillMux(card, mux) {
  const word = mux.state || '';
  setData(card, 'state', word);
  setText(card.querySelector('.state'), word || 'not read yet');
  const figures = mux.statistics || {};
  const values = {
    age: mux.age === null || mux.age === undefined ? 'never' : `${mux.age} s ago`,
    clock: mux.clock || '—',
    version: mux.version || '—',
    reads: `${figures.requests ?? 0} (${figures.good ?? 0} good)`,
    errors: String(figures.errors ?? 0),
    timeouts: String(figures.timeouts ?? 0),
  };
  for (const [name] of MUX_FIELDS) setText(card.querySelector(`.${name}`), values[name]);
}

function renderCameras(cameras) {
  const grid = $('cameras');
  for (const camera of cameras) {
    let tile = page.cameras.get(camera.camera);
    if (!tile) {
      tile = make('span', {'class': 'camera', 'data-camera': String(camera.camera)});
      tile.append(make('b', {}, String(camera.camera)), make('i'));
      page.cameras.set(camera.camera, tile);
      grid.append(tile);
    }
    const state = camera.state in CAMERA_WORDS ? camera.state : 'unknown';
    setData(tile, 'state', state);
    setText(tile.querySelector('i'), CAMERA_WORDS[state]);
    const title = `camera ${camera.camera}, multiplexer ${camera.mux}: ${state}` +
      (camera.report ? `; ${camera.report}` : '');
    if (tile.title !== title) tile.title = title;
  }
}

// The reports of the cameras in alarm or video loss now, newest first.
function renderReports(cameras) {
  const alarmed = cameras.filter((c) => c.state === 'alarm' || c.state === 'video-loss');
  alarmed.sort((a, b) => (b.reportTime || '').localeCompare(a.reportTime || '') ||
    a.camera - b.camera);
  const items = alarmed.map((camera) => {
    const item = make('li', {'data-report': String(camera.camera)});
    item.append(make('time', {}, shownTime(camera.reportTime) || 'not read yet'),
      `camera ${camera.camera} (${camera.state}): ${camera.report || 'no report'}`);
    return item;
  });
  replaceList($('reports'), items, 'no camera in alarm');
}

function renderEvents(events) {
  const items = events.map((event) => {
    const item = make('li');
    item.append(make('time', {}, shownTime(event.time)), event.text);
    return item;
  });
  replaceList($('events'), items, 'nothing has happened yet');
}

function replaceList(list, items, empty) {
  if (!items.length) items = [make('li', {'class': 'none'}, empty)];
  const same = list.children.length === items.length &&
    items.every((item, i) => list.children[i].textContent === item.textContent);
  if (!same) list.replaceChildren(...items);
}

// --- Commands -------------------------------------------------------------------

function keySelect() {
  const select = make('select');
  for (const code of KEY_CODES) select.append(make('option', {value: String(code)}, keyName(code)));
  return select;
}

function controls(mux) {
  const box = make('details', {'class': 'controls'});
  const result = make('p', {'class': 'result value', 'data-result': '', 'role': 'status'});
  const keypad = make('div', {'class': 'keypad'});
  for (const code of KEY_CODES) {
    const key = make('button', {type: 'button', 'data-key': String(code),
      title: `key code ${code}`}, keyName(code));
    key.addEventListener('click', () => send(mux, 'key', String(code), result));
    keypad.append(key);
  }
  const ptz = make('input', {type: 'number', min: '0', max: '135', value: '128'});
  const [first, second] = [keySelect(), keySelect()];
  box.append(make('summary', {}, 'Controls'), keypad,
    form('PTZ', [ptz], 'Send', () => send(mux, 'ptz', ptz.value, result), 'ptz'),
    form('Preset', [first, second], 'Go',
      () => send(mux, 'preset', `(${first.value},${second.value})`, result), 'preset'),
    form('', [], 'Clear alarms', () => send(mux, 'caa', String(mux), result), 'caa'),
    form('', [], 'Set the clock to now', () => send(mux, 'clock', 'now', result), 'clock'),
    result);
  return box;
}

function form(label, inputs, button, action, command) {
  const element = make('form', {'data-command': command});
  if (label) element.append(make('span', {}, label));
  element.append(...inputs, make('button', {type: 'submit'}, button));
  element.addEventListener('submit', (event) => {
    event.preventDefault();
    action();
  });
  return element;
}

async function send(mux, command, value, result) {
  const token = sessionStorage.getItem(TOKEN_KEY) || '';
  const headers = {'Content-Type': 'application/json'};
  if (token) headers.Authorization = `Bearer ${token}`;
  const body = JSON.stringify({mux, command, value, id: `web-${Date.now()}-${++page.sent}`});
  result.dataset.result = '';
  result.textContent = `${command} ${value}: sent, waiting for the answer…`;
  try {
    const answer = await fetch('/api/v1/commands', {method: 'POST', headers, body,
      signal: AbortSignal.timeout(30000)});
    const record = await answer.json();
    result.dataset.result = String(record.result);
    result.textContent = `${record.result} ${record.explanation}` +
      (answer.status === 401 || answer.status === 403 ? ' (the token: see Commands above)' : '');
  } catch (error) {
    result.dataset.result = '2';
    result.textContent = `${command} ${value}: no answer from the bridge (${error.message})`;
  }
}

function showToken() {
  setText($('token-state'), sessionStorage.getItem(TOKEN_KEY) ? 'a token is kept for this tab'
    : 'no token: commands are refused');
}

function tokenForm() {
  $('token-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const typed = $('token-input').value.trim();
    if (typed) sessionStorage.setItem(TOKEN_KEY, typed);
    $('token-input').value = '';
    showToken();
  });
  $('token-forget').addEventListener('click', () => {
    sessionStorage.removeItem(TOKEN_KEY);
    showToken();
  });
  showToken();
}

tokenForm();
connect();
setInterval(probe, TICK_MS);

'use strict';
// The web console: every page calls the server's JSON API, and the API's
// event stream keeps what is shown current (no reloads, no polling).

const $ = (selector, root = document) => root.querySelector(selector);
const $$ = (selector, root = document) => [...root.querySelectorAll(selector)];
const esc = (text) => String(text ?? '').replace(/[&<>"']/g, (c) => ({
  '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;',
}[c]));

// Commands that change what a player holds: confirmed, naming the players.
const DESTRUCTIVE = new Set(['CLEAR LIST', 'CLEAR CONTENT', 'RESET', 'RENAME']);
const ARGUMENT = { 'WEB STREAM': 'Stream address', BACKGROUND: 'Content file', RENAME: 'New name' };

let csrf = '';
const state = {
  players: [], playlists: [], schedules: [], content: [], ready: null, folder: '',
  alerts: [], recent: [], scan: null, copy: null, uploads: new Map(), connected: false,
};
// What the operator chose, kept across the pages' redraws.
const view = {
  selected: new Set(), filter: '', sort: 'name', descending: false, map: false,
  playlist: null, items: [], schedule: null, tasks: [], tasksDirty: false, contentFilter: '', preview: null,
  historyPlayer: '',
};

class ApiError extends Error {
  constructor(status, message, field) {
    super(message);
    this.status = status;
    this.field = field || '';
  }
}

// The version each playlist and schedule was read at: a change is sent
// against it, and the server refuses it (412) when another browser, the
// window or a script changed the list meanwhile.
const etags = new Map();
const resourceOf = (path) => (path.match(/^\/api\/(playlists|schedules)\/\d+/) || [null])[0];
function noteVersions(kind, lists) {
  for (const l of lists) if (l.etag) etags.set(`/api/${kind}/${l.id}`, l.etag);
}

async function api(method, path, body) {
  const headers = {};
  if (method !== 'GET') headers['X-CSRF-Token'] = csrf;
  const resource = resourceOf(path);
  if (resource && (method === 'PUT' || method === 'PATCH' || method === 'DELETE') && etags.has(resource))
    headers['If-Match'] = etags.get(resource);
  const init = { method, headers, credentials: 'same-origin' };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch {
    throw new ApiError(0, 'The server cannot be reached.');
  }
  const type = response.headers.get('Content-Type') || '';
  const data = type.startsWith('application/json') ? await response.json() : await response.text();
  if (response.status === 401 && path !== '/api/login') showLogin('Your session ended: sign in again.');
  const tag = response.headers.get('ETag');
  if (resource && tag) etags.set(resource, tag);
  if (response.status === 412) {
    // Shown, not applied: what is there now is fetched for the operator.
    refresh('playlists');
    refresh('schedules');
  }
  if (!response.ok) throw new ApiError(response.status, data.error || `The server answered ${response.status}.`, data.field);
  if (method === 'DELETE' && resource) etags.delete(resource);
  return data;
}

// ---- messages -------------------------------------------------------------

let toastTimer = 0;
function toast(message, ok = false) {
  const box = $('#toast');
  box.textContent = message;
  box.classList.toggle('ok', ok);
  box.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { box.hidden = true; }, ok ? 3000 : 8000);
}

// A failed action: said next to the field the API names, or as a toast.
function failed(error, form) {
  const field = form && error.field ? form.querySelector(`[name="${CSS.escape(error.field)}"]`) : null;
  if (field) {
    field.setAttribute('aria-invalid', 'true');
    const note = form.querySelector(`[data-error-for="${CSS.escape(error.field)}"]`);
    if (note) note.textContent = error.message;
    field.focus();
  }
  toast(`${error.message}${error.field && !field ? ` (${error.field})` : ''}`);
}

function clearErrors(form) {
  $$('[aria-invalid]', form).forEach((f) => f.removeAttribute('aria-invalid'));
  $$('[data-error-for]', form).forEach((n) => { n.textContent = ''; });
}

// Runs an action; says when it worked, or why not.
async function act(what, done, form) {
  if (form) clearErrors(form);
  try {
    const result = await what();
    if (done) toast(done, true);
    return result ?? true;
  } catch (error) {
    failed(error, form);
    return null;
  }
}

// A question in a dialog: fields [{name, label, value, type, options}] or
// none; resolves with the answers, or null when cancelled. `check` may
// refuse the answers with a message; the dialog stays open then.
function ask(title, text, fields = [], okText = 'OK', check = null, danger = false) {
  const dialog = $('#ask');
  $('#ask-title').textContent = title;
  $('#ask-text').textContent = text;
  $('#ask-error').textContent = '';
  const ok = $('#ask-ok');
  ok.textContent = okText;
  ok.classList.toggle('danger', danger);
  $('#ask-fields').innerHTML = fields.map((f, i) => {
    const id = `ask-field-${i}`;
    if (f.type === 'select')
      return `<label for="${id}">${esc(f.label)}</label><select id="${id}" name="${esc(f.name)}">${
        f.options.map((o) => `<option value="${esc(o.value)}"${o.value === f.value ? ' selected' : ''}>${esc(o.label)}</option>`).join('')}</select>`;
    if (f.type === 'checkbox')
      return `<label><input id="${id}" name="${esc(f.name)}" type="checkbox"${f.value ? ' checked' : ''}> ${esc(f.label)}</label>`;
    return `<label for="${id}">${esc(f.label)}</label><input id="${id}" name="${esc(f.name)}" type="${f.type || 'text'}" value="${esc(f.value ?? '')}">`;
  }).join('');
  return new Promise((resolve) => {
    const form = $('#ask-form');
    const finish = (answer) => {
      form.onsubmit = null;
      $('#ask-cancel').onclick = null;
      dialog.oncancel = null;
      dialog.close();
      resolve(answer);
    };
    form.onsubmit = async (event) => {
      event.preventDefault();
      const answers = {};
      fields.forEach((f, i) => {
        const input = $(`#ask-field-${i}`);
        answers[f.name] = f.type === 'checkbox' ? input.checked : input.value;
      });
      const refusal = check ? await check(answers) : null;
      if (refusal) {
        $('#ask-error').textContent = refusal;
        return;
      }
      finish(answers);
    };
    $('#ask-cancel').onclick = () => finish(null);
    dialog.oncancel = (event) => { event.preventDefault(); finish(null); };
    dialog.showModal();
    (fields.length ? $('#ask-field-0') : ok).focus();
  });
}

// Each name isolated (a right-to-left one cannot turn the sentence around
// it) and cut to a readable length.
function names(ids, limit = 8) {
  const byId = new Map(state.players.map((p) => [p.id, p.name || p.id]));
  const list = ids.slice(0, limit).map((id) => `\u2068${shortName(byId.get(id) || id)}\u2069`);
  return list.join(', ') + (ids.length > limit ? ` and ${ids.length - limit} more` : '');
}

// A long name as its start and its end, which tell players apart best.
function shortName(name) { return name.length > 15 ? `${name.slice(0, 5)}…${name.slice(-8)}` : name; }

function ago(iso) {
  if (!iso) return 'never';
  const s = Math.max(0, Math.round((Date.now() - Date.parse(iso)) / 1000));
  if (s < 60) return `${s} s ago`;
  if (s < 3600) return `${Math.floor(s / 60)} min ago`;
  if (s < 86400) return `${Math.floor(s / 3600)} h ago`;
  return `${Math.floor(s / 86400)} d ago`;
}

const playlistName = (id) => state.playlists.find((p) => String(p.id) === String(id))?.name;

// ---- what the server holds --------------------------------------------------

const loaders = {
  players: async () => { state.players = await api('GET', '/api/players'); },
  playlists: async () => { state.playlists = await api('GET', '/api/playlists'); noteVersions('playlists', state.playlists); },
  schedules: async () => { state.schedules = await api('GET', '/api/schedules'); noteVersions('schedules', state.schedules); },
  content: async () => { state.content = await api('GET', '/api/content'); },
  ready: async () => {
    const r = await fetch('/readyz', { credentials: 'same-origin' });
    state.ready = await r.json();
    state.folder = (await api('GET', '/api/folder')).path;
  },
};
const pending = new Map();
// Fetches a resource again soon, once however many events asked for it.
function refresh(what, delay = 150) {
  if (pending.has(what)) return pending.get(what).promise;
  let resolve;
  const promise = new Promise((r) => { resolve = r; });
  pending.set(what, { promise });
  setTimeout(async () => {
    pending.delete(what);
    try {
      await loaders[what]();
      update(what);
    } catch (error) {
      if (error.status !== 401) toast(error.message);
    }
    resolve();
  }, delay);
  return promise;
}

let events = null;
function listen() {
  if (events) events.close();
  events = new EventSource('/api/events');
  events.onopen = () => { state.connected = true; setLive(); };
  events.onerror = async () => {
    state.connected = false;
    setLive();
    if (events.readyState === EventSource.CLOSED) {
      const session = await fetch('/api/session', { credentials: 'same-origin' }).then((r) => r.json()).catch(() => null);
      if (session && !session.signed_in) showLogin('Your session ended: sign in again.');
      else setTimeout(listen, 3000);
    }
  };
  const on = (name, fn) => events.addEventListener(name, (e) => fn(JSON.parse(e.data)));
  on('player', (d) => {
    const p = state.players.find((x) => x.id === d.id);
    // What an event carries is shown at once; what it does not, fetched.
    if (!p || !['online', 'offline', 'renamed', 'status'].includes(d.change)) return refresh('players');
    if (d.change === 'online') { p.online = true; p.last_seen = new Date().toISOString(); refresh('players', 400); }
    if (d.change === 'offline') { p.online = false; p.state = 'OFFLINE'; }
    if (d.change === 'renamed') p.name = d.name;
    if (d.change === 'status') { p.state = d.state; p.playback = d.playback; p.online = d.state !== 'OFFLINE'; }
    redraw('players');
  });
  // The server had more events for this page than it could hold: what they
  // would have said is fetched whole instead.
  on('resync', () => Object.keys(loaders).forEach((what) => refresh(what)));
  on('command', (d) => { note('command', d.text); refresh('players', 400); });
  on('command-failed', (d) => note('failed', `${d.command} did not reach ${d.player}`));
  on('alert', (d) => note('alert', `${d.message} ${d.informative || ''}`.trim()));
  on('offline-alert', (d) => note('alert', `${d.title}: ${d.text}`));
  on('scan', (d) => {
    state.scan = d;
    update('scan');
    if (!d.scanning) { refresh('content'); refresh('ready'); }
  });
  on('copy', (d) => { state.copy = d; update('scan'); if (!d.copying) refresh('content'); });
  on('published', async (d) => {
    note(d.ok ? 'published' : 'failed', `${d.file} ${d.ok ? 'published' : 'could not be written'}`);
    if (d.ok && view.playlist != null && d.file === `PLAYLIST_ID_${view.playlist}.SAV`) {
      await loadPlaylist(view.playlist);
      update('items');
    }
    refresh('playlists', 300);
    refresh('schedules', 300);
    refresh('content', 300);
  });
}

function note(kind, text) {
  const entry = { kind, text, at: new Date().toISOString() };
  // "LOAD PLAYLIST: 38 of 50 confirmed" then "50 of 50": one line that counts on.
  // The same file published again: one line that counts.
  const list = kind === 'alert' || kind === 'failed' ? state.alerts : state.recent;
  const last = list[0];
  const recent = last && Date.now() - Date.parse(last.at) < 30000;
  if (recent && kind === 'command' && last.kind === 'command' && last.text.split(':')[0] === text.split(':')[0]) list.shift();
  else if (recent && last.kind === kind && last.text === text) {
    entry.times = (last.times || 1) + 1;
    list.shift();
  }
  (kind === 'alert' || kind === 'failed' ? state.alerts : state.recent).unshift(entry);
  state.alerts.length = Math.min(state.alerts.length, 50);
  state.recent.length = Math.min(state.recent.length, 50);
  update('notes');
}

function setLive() {
  const online = state.players.filter((p) => p.online).length;
  $('#live').textContent = `${state.connected ? 'Live' : 'Reconnecting…'} · ${online} of ${state.players.length} players online`;
}

// ---- pages ---------------------------------------------------------------

const pages = {};
let current = '';

function show(name) {
  if (!pages[name]) name = 'dashboard';
  current = name;
  $$('header nav a').forEach((a) => {
    if (a.dataset.page === name) a.setAttribute('aria-current', 'page');
    else a.removeAttribute('aria-current');
  });
  const page = $('#page');
  page.innerHTML = pages[name].build();
  pages[name].bind?.(page);
  pages[name].update?.('all');
  document.title = `${name[0].toUpperCase()}${name.slice(1)} · tavri AV server`;
}

// Many events in one frame make one redraw.
const redraws = new Set();
function redraw(what) {
  if (!redraws.size) requestAnimationFrame(() => { const all = [...redraws]; redraws.clear(); all.forEach(update); });
  redraws.add(what);
}

// A change in `what`: the page redraws what shows it.
function update(what) {
  if (what === 'players') setLive();
  if (!current) return;
  pages[current].update?.(what);
}

// ---- dashboard ----

pages.dashboard = {
  build: () => `<h1>Dashboard</h1>
    <div class="cards" id="cards"></div>
    <div class="columns even">
      <section><h2>Alerts</h2><ul class="plain" id="alerts"></ul></section>
      <section><h2>Commands and files</h2><ul class="plain" id="recent"></ul></section>
    </div>`,
  update(what) {
    const cards = $('#cards');
    if (!cards) return;
    const online = state.players.filter((p) => p.online).length;
    const offline = state.players.length - online;
    const r = state.ready;
    const serving = r ? (r.serving_files ? `Serving ${esc(state.folder)} on port 5003`
      : state.folder ? 'Not serving files: port 5003 could not be opened (see the server log)'
        : 'Not serving files: no content folder is chosen') : '…';
    const feedback = r ? (r.feedback_socket ? 'Hearing players on port 5001' : 'Not hearing players: port 5001 is taken') : '';
    const scan = state.scan?.scanning ? `<p>Scanning the content folder: ${state.scan.done} of ${state.scan.total}
        <progress max="${state.scan.total || 1}" value="${state.scan.done}" aria-label="scan progress"></progress></p>` : '';
    const uploads = [...state.uploads.values()].filter((u) => !u.done);
    const copying = (uploads.length ? `<p>Uploading ${uploads.length} file(s) from this browser</p>` : '')
      + (state.copy?.copying ? `<p>Copying ${state.copy.transfers} file(s) into the folder
        <progress max="100" value="${state.copy.progress}" aria-label="copy progress"></progress></p>` : '');
    cards.innerHTML = `
      <div class="card good"><div class="big" id="online-count">${online}</div>players online</div>
      <div class="card${offline ? ' bad' : ''}"><div class="big" id="offline-count">${offline}</div>players offline</div>
      <div class="card ${r?.serving_files && r?.feedback_socket ? 'good' : 'bad'}"><strong>Server</strong>
        <p id="server-state">${serving}</p><p>${feedback}</p>${scan}${copying}</div>`;
    if (what === 'all' || what === 'notes') {
      const list = (entries) => entries.length ? entries.slice(0, 15).map((e) =>
        `<li><span class="muted">${new Date(e.at).toLocaleTimeString()}</span> ${esc(e.text)}${e.times ? ` <span class="muted">(${e.times} times)</span>` : ''}</li>`).join('')
        : '<li class="muted">Nothing since this page opened.</li>';
      $('#alerts').innerHTML = list(state.alerts);
      $('#recent').innerHTML = list(state.recent);
    }
  },
};

// ---- players ----

const COLUMNS = [
  ['name', 'Name'], ['id', 'ID'], ['state', 'State'], ['playback', 'Playback'], ['list', 'List'],
  ['track', 'Track'], ['ip', 'IP'], ['last_seen', 'Last seen'], ['uptime_24h', 'Uptime 24 h'],
];

function sortValue(p, key) {
  if (key === 'list') return p.list?.name || p.list?.id || '';
  return String(p[key] ?? '');
}

function shownPlayers() {
  const f = view.filter.toLowerCase();
  const list = state.players.filter((p) => !f || [p.name, p.id, p.ip, p.state, p.list?.name, p.track]
    .some((v) => String(v ?? '').toLowerCase().includes(f)));
  list.sort((a, b) => sortValue(a, view.sort).localeCompare(sortValue(b, view.sort), undefined, { numeric: true }));
  if (view.descending) list.reverse();
  return list;
}

function listOptions() {
  return `<optgroup label="Playlists">${state.playlists.map((p) => `<option value="playlist:${p.id}">${esc(p.name)}</option>`).join('')}</optgroup>
    <optgroup label="Schedules">${state.schedules.map((s) => `<option value="schedule:${s.id}">${esc(s.name)}</option>`).join('')}</optgroup>`;
}

// More players than a screen shows, or all of them, are never one stray
// click away: the operator confirms, told how many.
const SCREENFUL = 25;
function confirmMany(what, all, targets) {
  if (!all && targets.length <= SCREENFUL) return Promise.resolve(true);
  const count = all ? state.players.length : targets.length;
  return ask(`Send ${what} to ${count} players?`,
    `${what} goes to ${all ? `all ${count} players` : `${count} players: ${names(targets)}`}.`, [], 'Send');
}

// The chosen players the filter shows: a hidden one is never commanded.
function selectedShown() {
  return shownPlayers().filter((p) => view.selected.has(p.id)).map((p) => p.id);
}

async function command(name, ids, argument) {
  const all = ids === 'all';
  const targets = all ? state.players.map((p) => p.id) : ids;
  if (!targets.length) return toast('Choose players first, or send to all.');
  if (ARGUMENT[name] && !argument) return toast(`${name} needs: ${ARGUMENT[name]}.`);
  if (DESTRUCTIVE.has(name)) {
    const ok = await ask(`${name}?`, `${name} goes to ${all ? 'every player' : names(targets)}.`, [], name, null, true);
    if (!ok) return;
  } else if (!await confirmMany(name, all, targets)) {
    return;
  }
  const body = { command: name, players: all ? 'all' : targets };
  if (argument) body.arguments = [argument];
  const result = await act(() => api('POST', '/api/commands', body), null, $('#command-bar'));
  // Said as what it is: a command no feedback shows is not "done".
  if (result) toast(`${name} sent to ${all ? 'all' : targets.length} player(s)${result.confirmable ? '; confirmations follow on the dashboard' : ', not confirmable'}`, true);
}

pages.players = {
  build: () => `<h1>Players</h1>
    <div class="toolbar">
      <label for="filter">Filter</label><input id="filter" type="search" value="${esc(view.filter)}" placeholder="name, id, state…">
      <span id="count" class="muted grow"></span>
      <button type="button" id="view-table" class="quiet" aria-pressed="${!view.map}">Table</button>
      <button type="button" id="view-map" class="quiet" aria-pressed="${view.map}">Map</button>
    </div>
    <form class="toolbar" id="command-bar">
      <label for="command">Command</label>
      <select id="command" name="command"></select>
      <label for="argument" id="argument-label" hidden></label>
      <input id="argument" name="arguments" hidden>
      <button type="submit" id="command-selected">Send to selected</button>
      <button type="button" id="command-all" class="quiet">Send to all</button>
      <span class="field-error" data-error-for="arguments"></span>
    </form>
    <form class="toolbar" id="send-bar">
      <label for="send-list">List</label><select id="send-list" name="playlist"></select>
      <button type="submit" id="send-selected">Send list to selected</button>
      <button type="button" id="send-all" class="quiet">Send list to all</button>
      <button type="button" id="rename-player" class="quiet">Rename…</button>
      <button type="button" id="remove-players" class="quiet">Remove…</button>
    </form>
    <div id="players-view"></div>`,
  bind(page) {
    $('#filter', page).addEventListener('input', (e) => { view.filter = e.target.value; this.update('players'); });
    $('#view-table', page).addEventListener('click', () => { view.map = false; show('players'); });
    $('#view-map', page).addEventListener('click', () => { view.map = true; show('players'); });
    const commandSelect = $('#command', page);
    const argumentShown = () => {
      const label = ARGUMENT[commandSelect.value];
      $('#argument-label').hidden = $('#argument').hidden = !label;
      $('#argument-label').textContent = label || '';
    };
    commandSelect.addEventListener('change', argumentShown);
    api('GET', '/api/commands').then((list) => {
      commandSelect.innerHTML = list.filter((c) => c !== 'FEEDBACK').map((c) => `<option>${esc(c)}</option>`).join('');
      argumentShown();
    }).catch((e) => toast(e.message));
    $('#command-bar', page).addEventListener('submit', (e) => {
      e.preventDefault();
      command(commandSelect.value, selectedShown(), $('#argument').value.trim());
    });
    $('#command-all', page).addEventListener('click', () => command(commandSelect.value, 'all', $('#argument').value.trim()));
    const send = async (all) => {
      const [kind, id] = $('#send-list').value.split(':');
      const ids = all ? 'all' : selectedShown();
      if (!id) return toast('There is no playlist or schedule to send.');
      if (!all && !ids.length) return toast('Choose players first, or send to all.');
      if (!await confirmMany($('#send-list').selectedOptions[0]?.textContent || 'the list', all, ids)) return;
      await act(() => api('POST', '/api/send', { [kind]: Number(id), players: ids }),
        `Sent to ${all ? 'all players' : names(ids)}`, $('#send-bar'));
    };
    $('#send-bar', page).addEventListener('submit', (e) => { e.preventDefault(); send(false); });
    $('#send-all', page).addEventListener('click', () => send(true));
    $('#rename-player', page).addEventListener('click', async () => {
      if (selectedShown().length !== 1) return toast('Choose exactly one player to rename.');
      const [id] = selectedShown();
      const p = state.players.find((x) => x.id === id);
      await ask('Rename the player', `The player ${id} gets a new name.`, [{ name: 'name', label: 'Name', value: p?.name }],
        'Rename', async (a) => {
          try {
            await api('PATCH', `/api/players/${encodeURIComponent(id)}`, { name: a.name });
            toast('Renamed: the player shows it with its next feedback', true);
            return null;
          } catch (error) { return error.message; }
        });
    });
    $('#remove-players', page).addEventListener('click', async () => {
      const ids = selectedShown();
      if (!ids.length) return toast('Choose the players to remove.');
      if (!await ask('Remove players?', `${names(ids)} leave the registry (a player that speaks again comes back).`, [],
        'Remove', null, true)) return;
      for (const id of ids) {
        if (!await act(() => api('DELETE', `/api/players/${encodeURIComponent(id)}`))) break;
        view.selected.delete(id);
      }
      refresh('players');
    });
    page.addEventListener('change', (e) => {
      const box = e.target.closest('input[data-player]');
      if (box) {
        if (box.checked) view.selected.add(box.dataset.player); else view.selected.delete(box.dataset.player);
        box.closest('tr').classList.toggle('chosen', box.checked);
        this.counts();
      } else if (e.target.id === 'select-all') {
        shownPlayers().forEach((p) => (e.target.checked ? view.selected.add(p.id) : view.selected.delete(p.id)));
        this.update('players');
      }
    });
    page.addEventListener('click', (e) => {
      const sort = e.target.closest('button[data-sort]');
      if (!sort) return;
      if (view.sort === sort.dataset.sort) view.descending = !view.descending;
      else { view.sort = sort.dataset.sort; view.descending = false; }
      this.update('players');
      $(`button[data-sort="${view.sort}"]`)?.focus();
    });
  },
  counts() {
    const online = state.players.filter((p) => p.online).length;
    const chosen = selectedShown().length;
    $('#count').textContent = `${state.players.length} players, ${online} online, ${chosen} selected`;
    $('#command-selected').textContent = `Send to selected (${chosen})`;
  },
  update(what) {
    if (what === 'all' || what === 'playlists' || what === 'schedules') {
      const chosen = $('#send-list').value;
      $('#send-list').innerHTML = listOptions();
      if (chosen) $('#send-list').value = chosen;
    }
    if (what !== 'all' && what !== 'players') return;
    const known = new Set(state.players.map((p) => p.id));
    [...view.selected].forEach((id) => known.has(id) || view.selected.delete(id));
    this.counts();
    const list = shownPlayers();
    if (view.map) return this.map(list);
    const arrow = (key) => (view.sort === key ? (view.descending ? ' ▼' : ' ▲') : '');
    const sortState = (key) => (view.sort === key ? (view.descending ? 'descending' : 'ascending') : 'none');
    const all = list.length > 0 && list.every((p) => view.selected.has(p.id));
    $('#players-view').innerHTML = `<div class="scroll"><table id="players-table">
      <thead><tr><th><input type="checkbox" id="select-all" aria-label="Select every player shown"${all ? ' checked' : ''}></th>${
  COLUMNS.map(([key, label]) => `<th aria-sort="${sortState(key)}"><button type="button" data-sort="${key}">${label}${arrow(key)}</button></th>`).join('')}</tr></thead>
      <tbody>${list.map((p) => {
    const chosen = view.selected.has(p.id);
    const listText = p.list?.id
      ? (p.list.name ? `${p.list.name}${p.list.kind === 'schedule' ? ' (schedule)' : ''}` : `${p.list.id} (unknown)`) : '—';
    return `<tr class="${p.online ? '' : 'offline'}${chosen ? ' chosen' : ''}" data-id="${esc(p.id)}">
        <td><input type="checkbox" data-player="${esc(p.id)}" aria-label="Select ${esc(p.name || p.id)}"${chosen ? ' checked' : ''}></td>
        <td>${esc(p.name)}</td><td>${esc(p.id)}</td><td class="state-${esc(p.state)}">${esc(p.state)}</td>
        <td>${esc(p.playback)}${p.command ? ` <span class="muted">(${esc(p.command)})</span>` : ''}</td><td>${esc(listText)}</td>
        <td>${esc(p.track)}</td><td${p.claimed_by ? ` class="conflict" title="Also heard from ${esc(p.claimed_by)}: its reports from there are not taken until the move is accepted"` : ''}>${esc(p.ip)}${p.claimed_by ? ` (also ${esc(p.claimed_by)}!)` : ''}</td><td${p.online ? '>now' : ` class="ago" data-time="${esc(p.last_seen || '')}">${ago(p.last_seen)}`}</td>
        <td class="num">${esc(p.uptime_24h || '—')}</td></tr>`;
  }).join('')}</tbody></table></div>`;
  },
  // The floor plan: each player where the registry places it; the ones
  // never placed in a row below.
  map(list) {
    const placed = list.filter((p) => p.map);
    const top = Math.max(0, ...placed.map((p) => p.map.y + 60));
    let free = 0;
    const spots = list.map((p) => {
      let x;
      let y;
      if (p.map) { x = p.map.x; y = top - p.map.y - 50; } else { x = 10 + (free % 8) * 120; y = top + 20 + Math.floor(free / 8) * 50; free += 1; }
      return `<div class="spot${p.online ? '' : ' offline'}" data-x="${Math.round(x)}" data-y="${Math.round(y)}"
        title="${esc(p.name)} (${esc(p.id)}): ${esc(p.state)}">${esc(shortName(p.name || p.id))}<br>${esc(p.state)}</div>`;
    });
    $('#players-view').innerHTML = `<div class="map" role="img" aria-label="Floor plan: ${list.length} players">${spots.join('')}</div>
      <p class="muted">Positions come from the window's map; players never placed there are in rows below.</p>`;
    // Placed through the style object: the page's policy refuses style attributes.
    $$('.spot').forEach((el) => { el.style.left = `${el.dataset.x}px`; el.style.top = `${el.dataset.y}px`; });
  },
};

// New, rename, copy, remove and send to all: the same for playlists and
// schedules. `prefix` names the buttons, `load` shows one, `chosenId` says
// which is shown.
function bindCatalogue(page, prefix, word, load, chosenId, removing) {
  const path = `${word}s`;
  const chosen = () => {
    const c = state[path].find((x) => x.id === chosenId());
    if (!c) toast(`Choose a ${word} first.`);
    return c;
  };
  const show = async (id) => {
    await refresh(path, 0);
    if (id !== undefined) await load(id);
    pages[path].update('all');
  };
  // A name asked in a dialog that stays open, with the server's refusal, until one is taken.
  const named = (title, value, okText, use) => ask(title, '', [{ name: 'name', label: 'Name', value }], okText, async (a) => {
    try { await use(a.name); return null; } catch (error) { return error.message; }
  });
  $(`#${prefix}-new`, page).addEventListener('click', () => named(`New ${word}`, '', 'Create',
    async (name) => show((await api('POST', `/api/${path}`, { name })).id)));
  $(`#${prefix}-rename`, page).addEventListener('click', () => {
    const c = chosen();
    if (c) named(`Rename the ${word}`, c.name, 'Rename', async (name) => { await api('PATCH', `/api/${path}/${c.id}`, { name }); await show(); });
  });
  $(`#${prefix}-copy`, page).addEventListener('click', async () => {
    const c = chosen();
    const made = c && await act(() => api('POST', `/api/${path}/${c.id}/copy`), `${c.name} copied`);
    if (made) show(made.id);
  });
  $(`#${prefix}-remove`, page).addEventListener('click', async () => {
    const c = chosen();
    if (!c || !await ask(`Remove the ${word}?`, `"${c.name}" ${removing}`, [], 'Remove', null, true)) return;
    if (await act(() => api('DELETE', `/api/${path}/${c.id}`), `${c.name} removed`)) show(null);
  });
  $(`#${prefix}-send`, page).addEventListener('click', async () => {
    const c = chosen();
    if (!c || !await ask(`Send the ${word}?`, `"${c.name}" goes to all ${state.players.length} players.`, [], 'Send')) return;
    await act(() => api('POST', '/api/send', { [word]: c.id, players: 'all' }), `${c.name} sent to all players`);
  });
}

// ---- playlists ----

async function loadPlaylist(id) {
  view.playlist = id;
  if (id == null) { view.items = []; return; }
  try {
    const p = await api('GET', `/api/playlists/${id}`);
    view.items = p.items.map((i) => ({ file: i.file, is_img: !!i.is_img, seconds: i.is_img ? i.file_length : undefined, kind: i.file_kind }));
  } catch (error) {
    view.items = [];
    if (error.status === 404) view.playlist = null; else toast(error.message);
  }
}

// The whole list at once: the server keeps all of it, or none.
async function saveItems(items) {
  const id = view.playlist;
  const body = { items: items.map((i) => (i.is_img && i.seconds ? { file: i.file, seconds: Number(i.seconds) } : { file: i.file })) };
  const ok = await act(() => api('PUT', `/api/playlists/${id}/items`, body));
  await loadPlaylist(id);
  pages.playlists.items();
  return ok;
}

function contentRecord(file) { return state.content.find((c) => c.file === file); }

pages.playlists = {
  build: () => `<h1>Playlists</h1>
    <div class="columns">
      <section aria-labelledby="pl-head">
        <h2 id="pl-head">Lists</h2>
        <div class="toolbar">
          <button type="button" id="pl-new">New…</button><button type="button" id="pl-rename" class="quiet">Rename…</button>
          <button type="button" id="pl-copy" class="quiet">Copy</button><button type="button" id="pl-remove" class="quiet">Remove…</button>
        </div>
        <ul class="plain picklist" id="pl-list"></ul>
      </section>
      <section aria-labelledby="items-head">
        <h2 id="items-head">Items</h2>
        <div class="toolbar"><button type="button" id="pl-send" class="quiet">Send to all players…</button>
          <span class="muted">Drag rows to reorder; drag content from below into the list.</span></div>
        <div class="scroll" id="items"></div>
        <h2>Content</h2>
        <div class="toolbar"><label for="palette-filter">Find</label><input id="palette-filter" type="search"></div>
        <ul class="plain palette" id="palette" aria-label="Content to add"></ul>
      </section>
    </div>`,
  bind(page) {
    $('#pl-list', page).addEventListener('click', async (e) => {
      const b = e.target.closest('button[data-id]');
      if (!b) return;
      await loadPlaylist(Number(b.dataset.id));
      this.update('all');
    });
    bindCatalogue(page, 'pl', 'playlist', loadPlaylist, () => view.playlist,
      "and its published file go; schedules' tasks forget it.");
    $('#palette-filter', page).addEventListener('input', () => this.palette());
    $('#palette', page).addEventListener('click', (e) => {
      const b = e.target.closest('button[data-add]');
      if (b) this.add(b.dataset.add, view.items.length);
    });
    $('#palette', page).addEventListener('dragstart', (e) => {
      const li = e.target.closest('li[data-file]');
      if (li) e.dataTransfer.setData('application/x-tavri-content', li.dataset.file);
      e.dataTransfer.effectAllowed = 'copy';
    });
    const items = $('#items', page);
    items.addEventListener('dragstart', (e) => {
      const row = e.target.closest('tr[data-index]');
      if (!row) return;
      e.dataTransfer.setData('application/x-tavri-item', row.dataset.index);
      e.dataTransfer.effectAllowed = 'move';
    });
    const target = (e) => {
      const row = e.target.closest('tr[data-index]');
      if (!row) return { row: null, index: view.items.length };
      const r = row.getBoundingClientRect();
      const after = e.clientY > r.top + r.height / 2;
      return { row, after, index: Number(row.dataset.index) + (after ? 1 : 0) };
    };
    const clearMarks = () => $$('.drop-before, .drop-after', items).forEach((r) => r.classList.remove('drop-before', 'drop-after'));
    items.addEventListener('dragover', (e) => {
      if (view.playlist == null) return;
      e.preventDefault();
      clearMarks();
      const t = target(e);
      if (t.row) t.row.classList.add(t.after ? 'drop-after' : 'drop-before');
    });
    items.addEventListener('dragleave', clearMarks);
    items.addEventListener('drop', (e) => {
      e.preventDefault();
      clearMarks();
      const t = target(e);
      const file = e.dataTransfer.getData('application/x-tavri-content');
      const from = e.dataTransfer.getData('application/x-tavri-item');
      if (file) this.add(file, t.index);
      else if (from !== '') this.move(Number(from), t.index);
    });
    items.addEventListener('click', (e) => {
      const b = e.target.closest('button[data-act]');
      if (!b) return;
      const i = Number(b.dataset.index);
      if (b.dataset.act === 'up') this.move(i, i - 1);
      if (b.dataset.act === 'down') this.move(i, i + 2);
      if (b.dataset.act === 'remove') saveItems(view.items.filter((_, k) => k !== i));
    });
    items.addEventListener('change', (e) => {
      const input = e.target.closest('input[data-seconds]');
      if (!input || input.value === '') return;
      const list = view.items.map((x) => ({ ...x }));
      list[Number(input.dataset.seconds)].seconds = input.value;
      saveItems(list);
    });
  },
  add(file, index) {
    if (view.playlist == null) return toast('Choose a playlist first.');
    const c = contentRecord(file);
    const list = [...view.items];
    list.splice(index, 0, { file, is_img: !!c?.is_img, seconds: undefined });
    saveItems(list);
  },
  move(from, to) {
    if (to < 0 || to > view.items.length || to === from || to === from + 1) return;
    const list = [...view.items];
    const [item] = list.splice(from, 1);
    list.splice(to > from ? to - 1 : to, 0, item);
    saveItems(list);
  },
  items() {
    const box = $('#items');
    if (!box) return;
    const p = state.playlists.find((x) => x.id === view.playlist);
    $('#items-head').textContent = p ? `Items of "${p.name}"` : 'Items';
    if (!p) { box.innerHTML = '<p class="muted">Choose a playlist on the left.</p>'; return; }
    box.innerHTML = `<table id="items-table"><thead><tr><th><span class="sr">Move</span></th><th>#</th><th>File</th><th>Seconds</th><th>Actions</th></tr></thead>
      <tbody>${view.items.map((i, k) => `<tr draggable="true" data-index="${k}">
        <td class="drag" aria-hidden="true">⠿</td><td class="num">${k + 1}</td><td>${esc(i.file)}</td>
        <td>${i.is_img ? `<input type="number" min="1" step="1" data-seconds="${k}" value="${esc(i.seconds ?? '')}" aria-label="Seconds for ${esc(i.file)}" class="short">` : '<span class="muted">movie</span>'}</td>
        <td><button type="button" class="quiet" data-act="up" data-index="${k}" aria-label="Move ${esc(i.file)} up">↑</button>
          <button type="button" class="quiet" data-act="down" data-index="${k}" aria-label="Move ${esc(i.file)} down">↓</button>
          <button type="button" class="quiet" data-act="remove" data-index="${k}" aria-label="Remove ${esc(i.file)}">✕</button></td></tr>`).join('')}
      <tr class="drop-end"><td colspan="5" class="muted">${view.items.length ? 'Drop here to add at the end' : 'Empty: drop content here, or use Add below'}</td></tr></tbody></table>`;
  },
  palette() {
    const list = $('#palette');
    if (!list) return;
    const f = $('#palette-filter').value.toLowerCase();
    list.innerHTML = state.content.filter((c) => !f || c.file.toLowerCase().includes(f)).map((c) =>
      `<li draggable="true" data-file="${esc(c.file)}"><span class="drag" aria-hidden="true">⠿</span> ${esc(c.file)}
        <button type="button" class="quiet" data-add="${esc(c.file)}" aria-label="Add ${esc(c.file)} to the playlist">Add</button></li>`).join('')
      || '<li class="muted">The content folder is empty.</li>';
  },
  update(what) {
    if (what === 'all' || what === 'playlists') {
      if (view.playlist != null && !state.playlists.some((p) => p.id === view.playlist)) { view.playlist = null; view.items = []; }
      $('#pl-list').innerHTML = state.playlists.map((p) => `<li><button type="button" data-id="${p.id}" aria-pressed="${p.id === view.playlist}">${esc(p.name)}</button></li>`).join('')
        || '<li class="muted">No playlists yet.</li>';
      if (what === 'all' || view.playlist == null) this.items();
      else $('#items-head').textContent = `Items of "${playlistName(view.playlist)}"`;
    }
    // Another browser or the window changed the shown list: shown too,
    // unless the operator is typing in it.
    if (what === 'items' && !$('#items').contains(document.activeElement)) this.items();
    if (what === 'all' || what === 'content') this.palette();
  },
};

// ---- content ----

function upload(files) {
  for (const file of files) {
    const entry = { name: file.name, sent: 0, total: file.size, done: false, error: '' };
    state.uploads.set(`${file.name}:${Date.now()}:${Math.random()}`, entry);
    const xhr = new XMLHttpRequest();
    xhr.open('PUT', `/api/content/${encodeURIComponent(file.name)}`);
    xhr.setRequestHeader('X-CSRF-Token', csrf);
    xhr.upload.onprogress = (e) => { entry.sent = e.loaded; update('uploads'); };
    xhr.onload = () => {
      entry.done = true;
      if (xhr.status >= 300) {
        try { entry.error = JSON.parse(xhr.responseText).error; } catch { entry.error = `answered ${xhr.status}`; }
      } else entry.sent = entry.total;
      update('uploads');
      refresh('content', 500);
    };
    xhr.onerror = () => { entry.done = true; entry.error = 'the connection broke'; update('uploads'); };
    xhr.send(file);
  }
  update('uploads');
}


pages.content = {
  build: () => `<h1>Content</h1>
    <div class="toolbar">
      <label for="content-filter">Find</label><input id="content-filter" type="search" value="${esc(view.contentFilter)}">
      <button type="button" id="rescan" class="quiet">Rescan</button>
      <button type="button" id="add-stream" class="quiet">Add stream…</button>
      <span id="scan" class="grow"></span>
    </div>
    <div class="columns even">
      <section>
        <div class="scroll" id="content-table"></div>
      </section>
      <section>
        <div class="dropzone" id="dropzone">
          <p>Drop media files here to upload them, or</p>
          <label for="file-input">choose files</label> <input id="file-input" type="file" multiple>
        </div>
        <ul class="plain" id="uploads" aria-label="Uploads"></ul>
        <h2>Preview</h2><div class="preview" id="preview"><p class="muted">Choose an item.</p></div>
      </section>
    </div>`,
  bind(page) {
    $('#content-filter', page).addEventListener('input', (e) => { view.contentFilter = e.target.value; this.update('content'); });
    $('#rescan', page).addEventListener('click', () => act(() => api('POST', '/api/rescan'), 'Scanning the content folder'));
    $('#add-stream', page).addEventListener('click', () => ask('Add a stream', 'A web stream the players can play.',
      [{ name: 'name', label: 'Name' }, { name: 'address', label: 'Address (http:// or https://)', type: 'url' }], 'Add',
      async (a) => {
        try { await api('POST', '/api/content/streams', a); toast(`${a.name} added`, true); return null; } catch (error) { return error.message; }
      }));
    const zone = $('#dropzone', page);
    zone.addEventListener('dragover', (e) => { e.preventDefault(); zone.classList.add('over'); });
    zone.addEventListener('dragleave', () => zone.classList.remove('over'));
    zone.addEventListener('drop', (e) => { e.preventDefault(); zone.classList.remove('over'); upload([...e.dataTransfer.files]); });
    $('#file-input', page).addEventListener('change', (e) => { upload([...e.target.files]); e.target.value = ''; });
    $('#content-table', page).addEventListener('click', async (e) => {
      const del = e.target.closest('button[data-delete]');
      const row = e.target.closest('tr[data-file]');
      if (del) return this.remove(del.dataset.delete);
      if (row) { view.preview = row.dataset.file; this.preview(); }
    });
  },
  async remove(file) {
    const c = contentRecord(file);
    const links = (c?.playlists || []).map((id) => playlistName(id) || `#${id}`);
    let unlink = 'false';
    if (links.length) {
      const a = await ask(`Delete ${file}?`, `It is in ${links.length} playlist(s): ${links.join(', ')}.`, [{
        name: 'unlink', label: 'Its items in those playlists', type: 'select', value: 'true',
        options: [{ value: 'true', label: 'leave the playlists' }, { value: 'false', label: 'stay (players will miss the file)' }],
      }], 'Delete', null, true);
      if (!a) return;
      unlink = a.unlink;
    } else if (!await ask(`Delete ${file}?`, 'The file is removed from the content folder.', [], 'Delete', null, true)) return;
    if (await act(() => api('DELETE', `/api/content/${encodeURIComponent(file)}?unlink=${unlink}`), `${file} deleted`)) {
      if (view.preview === file) view.preview = null;
      refresh('content', 0);
    }
  },
  preview() {
    const box = $('#preview');
    const c = view.preview && contentRecord(view.preview);
    if (!box) return;
    if (!c) { box.innerHTML = '<p class="muted">Choose an item.</p>'; return; }
    const facts = [['Kind', c.file_kind], ['Size', c.file_size === 'NONE' ? '' : c.file_size],
      ['Resolution', c.file_resolution === 'STREAM' ? '' : c.file_resolution],
      ['Length', typeof c.file_length === 'number' ? `${c.file_length} s` : ''], ['Codec', c.file_codec === 'STREAM' ? '' : c.file_codec],
      ['Address', c.address || ''], ['In playlists', (c.playlists || []).map((id) => playlistName(id) || id).join(', ')]]
      .filter(([, v]) => v);
    box.innerHTML = `${c.address ? '' : `<img src="/api/content/${encodeURIComponent(c.file)}/thumbnail" alt="${c.is_img ? 'The image' : 'The first frame'} of ${esc(c.file)}">`}
      <h3>${esc(c.file)}</h3><dl>${facts.map(([k, v]) => `<dt>${k}</dt><dd>${esc(v)}</dd>`).join('')}</dl>`;
  },
  update(what) {
    if (what === 'all' || what === 'content' || what === 'playlists') {
      const f = view.contentFilter.toLowerCase();
      const list = state.content.filter((c) => !f || c.file.toLowerCase().includes(f));
      $('#content-table').innerHTML = `<table id="content-list"><thead><tr><th>Still</th><th>File</th><th>Kind</th><th>Size</th><th>Playlists</th><th><span class="sr">Delete</span></th></tr></thead>
        <tbody>${list.map((c) => `<tr data-file="${esc(c.file)}">
          <td><img class="thumb" loading="lazy" src="/api/content/${encodeURIComponent(c.file)}/thumbnail" alt=""></td>
          <td><button type="button" class="quiet">${esc(c.file)}</button></td><td>${esc(c.file_kind || (c.is_img ? 'image' : ''))}</td>
          <td class="num">${esc(c.file_size === 'NONE' ? '' : c.file_size)}</td><td>${(c.playlists || []).length}</td>
          <td><button type="button" class="quiet" data-delete="${esc(c.file)}" aria-label="Delete ${esc(c.file)}">Delete…</button></td></tr>`).join('')
        || '<tr><td colspan="6" class="muted">No content yet: upload some.</td></tr>'}</tbody></table>`;
      this.preview();
    }
    if (what === 'all' || what === 'scan') {
      const s = state.scan;
      $('#scan').innerHTML = s?.scanning ? `Scanning: ${s.done} of ${s.total} <progress max="${s.total || 1}" value="${s.done}" aria-label="scan progress"></progress>` : '';
    }
    if (what === 'all' || what === 'uploads') {
      $('#uploads').innerHTML = [...state.uploads.values()].map((u) => `<li>${esc(u.name)}
        <progress max="${u.total || 1}" value="${u.sent}" aria-label="upload of ${esc(u.name)}"></progress>
        ${u.error ? `<span class="field-error">${esc(u.error)}</span>` : u.done ? 'uploaded' : `${Math.round((100 * u.sent) / (u.total || 1))} %`}</li>`).join('');
    }
  },
};

// ---- schedules ----

async function loadSchedule(id) {
  view.schedule = id;
  view.tasksDirty = false;
  if (id == null) { view.tasks = []; return; }
  try {
    const s = await api('GET', `/api/schedules/${id}`);
    view.tasks = (s.tasklist || []).map((t) => ({
      name: t.name, date: t.date, time: t.time, daily: !!t.daily, cut: !!t.cut, active: !!t.active, playlist: Number(t.list),
    }));
  } catch (error) {
    view.tasks = [];
    if (error.status === 404) view.schedule = null; else toast(error.message);
  }
}

const today = () => new Date().toISOString().slice(0, 10);

pages.schedules = {
  build: () => `<h1>Schedules</h1>
    <div class="columns">
      <section aria-labelledby="sc-head">
        <h2 id="sc-head">Schedules</h2>
        <div class="toolbar"><button type="button" id="sc-new">New…</button><button type="button" id="sc-rename" class="quiet">Rename…</button>
          <button type="button" id="sc-copy" class="quiet">Copy</button><button type="button" id="sc-remove" class="quiet">Remove…</button></div>
        <ul class="plain picklist" id="sc-list"></ul>
      </section>
      <section>
        <h2 id="tasks-head">Tasks</h2>
        <form id="tasks-form">
          <div class="toolbar"><button type="button" id="task-add" class="quiet">Add task</button>
            <button type="submit" id="tasks-save">Save tasks</button><button type="button" id="tasks-undo" class="quiet">Undo changes</button>
            <button type="button" id="sc-send" class="quiet">Send to all players…</button>
            <span class="field-error" data-error-for="tasks"></span></div>
          <div class="scroll" id="tasks"></div>
        </form>
        <h2>This week</h2>
        <div class="week" id="week"></div>
      </section>
    </div>`,
  bind(page) {
    $('#sc-list', page).addEventListener('click', async (e) => {
      const b = e.target.closest('button[data-id]');
      if (!b) return;
      if (view.tasksDirty && !await ask('Drop the changes?', 'The tasks were changed and not saved.', [], 'Drop them')) return;
      await loadSchedule(Number(b.dataset.id));
      this.update('all');
    });
    bindCatalogue(page, 'sc', 'schedule', loadSchedule, () => view.schedule, 'and its published file go.');
    $('#task-add', page).addEventListener('click', () => {
      if (view.schedule == null) return toast('Choose a schedule first.');
      view.tasks.push({ name: `Task ${view.tasks.length + 1}`, date: today(), time: '08:00', daily: true, cut: false, active: true,
        playlist: state.playlists[0]?.id ?? -1 });
      view.tasksDirty = true;
      this.tasks();
      $(`#tasks tr:last-child input`)?.focus();
    });
    $('#tasks-undo', page).addEventListener('click', async () => { await loadSchedule(view.schedule); this.update('all'); });
    $('#tasks-form', page).addEventListener('submit', async (e) => {
      e.preventDefault();
      if (view.schedule == null) return;
      const ok = await act(() => api('PUT', `/api/schedules/${view.schedule}/tasks`, { tasks: view.tasks }), 'Tasks saved and published', $('#tasks-form'));
      if (ok) { await loadSchedule(view.schedule); this.update('all'); }
    });
    const edit = (e) => {
      const input = e.target.closest('[data-task]');
      if (!input) return;
      const t = view.tasks[Number(input.dataset.task)];
      const key = input.dataset.key;
      t[key] = input.type === 'checkbox' ? input.checked : key === 'playlist' ? Number(input.value) : input.value;
      view.tasksDirty = true;
      if (e.type === 'change') this.week();
    };
    $('#tasks', page).addEventListener('input', edit);
    $('#tasks', page).addEventListener('change', edit);
    $('#tasks', page).addEventListener('click', (e) => {
      const b = e.target.closest('button[data-remove-task]');
      if (!b) return;
      view.tasks.splice(Number(b.dataset.removeTask), 1);
      view.tasksDirty = true;
      this.tasks();
    });
  },
  tasks() {
    const s = state.schedules.find((x) => x.id === view.schedule);
    $('#tasks-head').textContent = s ? `Tasks of "${s.name}"` : 'Tasks';
    if (!s) { $('#tasks').innerHTML = '<p class="muted">Choose a schedule on the left.</p>'; this.week(); return; }
    const options = (id) => `<option value="-1"${id === -1 ? ' selected' : ''}>(none)</option>${state.playlists.map((p) =>
      `<option value="${p.id}"${p.id === id ? ' selected' : ''}>${esc(p.name)}</option>`).join('')}`;
    $('#tasks').innerHTML = `<table id="tasks-table"><thead><tr><th>Name</th><th>Date</th><th>Time</th><th>Daily</th><th>Cut</th><th>Active</th><th>Playlist</th><th><span class="sr">Remove</span></th></tr></thead>
      <tbody>${view.tasks.map((t, k) => `<tr>
        <td><input data-task="${k}" data-key="name" value="${esc(t.name)}" aria-label="Name of task ${k + 1}"></td>
        <td><input type="date" data-task="${k}" data-key="date" value="${esc(t.date)}" aria-label="Date of task ${k + 1}"></td>
        <td><input type="time" data-task="${k}" data-key="time" value="${esc(t.time)}" aria-label="Time of task ${k + 1}"></td>
        ${['daily', 'cut', 'active'].map((f) => `<td><input type="checkbox" data-task="${k}" data-key="${f}"${t[f] ? ' checked' : ''} aria-label="${f} (task ${k + 1})"></td>`).join('')}
        <td><select data-task="${k}" data-key="playlist" aria-label="Playlist of task ${k + 1}">${options(t.playlist)}</select></td>
        <td><button type="button" class="quiet" data-remove-task="${k}" aria-label="Remove task ${k + 1}">✕</button></td></tr>`).join('')
      || '<tr><td colspan="8" class="muted">No tasks: add one.</td></tr>'}</tbody></table>`;
    this.week();
  },
  // Monday to Sunday of this week: a task on its date, a daily one on
  // every day from its date on.
  week() {
    const box = $('#week');
    if (!box) return;
    const now = new Date();
    const monday = new Date(now.getFullYear(), now.getMonth(), now.getDate() - ((now.getDay() + 6) % 7));
    const days = [...Array(7)].map((_, i) => new Date(monday.getFullYear(), monday.getMonth(), monday.getDate() + i));
    const iso = (d) => `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
    const sorted = [...view.tasks].sort((a, b) => a.time.localeCompare(b.time));
    box.innerHTML = days.map((d) => {
      const day = iso(d);
      const tasks = sorted.filter((t) => (t.daily ? t.date <= day : t.date === day));
      return `<div class="day${day === iso(now) ? ' today' : ''}"><h3>${d.toLocaleDateString(undefined, { weekday: 'short', day: 'numeric', month: 'short' })}</h3>
        ${tasks.map((t) => `<div class="task${t.active ? '' : ' inactive'}">${esc(t.time)} ${esc(playlistName(t.playlist) || '(no playlist)')}
          <span class="muted">${esc(t.name)}${t.cut ? ', cuts in' : ''}</span></div>`).join('') || '<span class="muted">—</span>'}</div>`;
    }).join('');
  },
  update(what) {
    if (what === 'all' || what === 'schedules') {
      if (view.schedule != null && !state.schedules.some((s) => s.id === view.schedule)) { view.schedule = null; view.tasks = []; }
      $('#sc-list').innerHTML = state.schedules.map((s) => `<li><button type="button" data-id="${s.id}" aria-pressed="${s.id === view.schedule}">${esc(s.name)} <span class="muted">(${s.tasks})</span></button></li>`).join('')
        || '<li class="muted">No schedules yet.</li>';
    }
    if (what === 'all' || (what === 'playlists' && !view.tasksDirty)) this.tasks();
  },
};

// ---- history ----

const KINDS = { first_seen: 'first seen', command_confirmed: 'confirmed', command_failed: 'not confirmed', list: 'list' };

pages.history = {
  build: () => `<h1>History</h1>
    <div class="columns even">
      <section>
        <h2>A player's day</h2>
        <div class="toolbar"><label for="history-player">Player</label><select id="history-player"></select>
          <label for="history-hours">Hours</label><input id="history-hours" type="number" min="1" max="2160" value="24" class="short">
          <button type="button" id="history-show">Show</button></div>
        <div id="timeline"></div>
      </section>
      <section>
        <h2>Proof of play</h2>
        <form id="pop-form" class="toolbar">
          <label for="pop-from">From</label><input id="pop-from" name="from" type="date" required>
          <label for="pop-to">To</label><input id="pop-to" name="to" type="date" required>
          <label><input id="pop-totals" type="checkbox"> totals per player and track</label>
          <button type="submit" id="pop-export">Export CSV</button>
          <span class="field-error" data-error-for="from"></span><span class="field-error" data-error-for="to"></span>
        </form>
        <p class="muted">The CSV holds every play of the chosen days, as the window's export does.</p>
      </section>
    </div>`,
  bind(page) {
    const week = new Date(Date.now() - 6 * 86400e3).toISOString().slice(0, 10);
    $('#pop-from', page).value = week;
    $('#pop-to', page).value = today();
    $('#history-show', page).addEventListener('click', () => this.load());
    $('#history-player', page).addEventListener('change', (e) => { view.historyPlayer = e.target.value; this.load(); });
    $('#pop-form', page).addEventListener('submit', async (e) => {
      e.preventDefault();
      const form = e.target;
      const query = new URLSearchParams({ from: $('#pop-from').value, to: $('#pop-to').value });
      if ($('#pop-totals').checked) query.set('totals', 'true');
      // Fetched first, so that a refusal is shown here and not as a page.
      const csv = await act(() => api('GET', `/api/history/proof-of-play?${query}`), null, form);
      if (csv === null) return;
      const a = document.createElement('a');
      a.href = URL.createObjectURL(new Blob([csv], { type: 'text/csv' }));
      a.download = `${query.get('totals') ? 'play_totals' : 'proof_of_play'}_${query.get('from')}_${query.get('to')}.csv`;
      document.body.append(a);
      a.click();
      a.remove();
      toast(`${a.download} saved`, true);
    });
  },
  async load() {
    const id = $('#history-player').value;
    if (!id) return;
    const hours = $('#history-hours').value;
    const t = await act(() => api('GET', `/api/history/players/${encodeURIComponent(id)}?hours=${encodeURIComponent(hours)}`));
    if (!t) return;
    const p = state.players.find((x) => x.id === id);
    $('#timeline').innerHTML = `<p><strong>${esc(p?.name || id)}</strong>: ${p?.online ? 'online' : 'offline'}, uptime of the last 24 hours
      <strong>${esc(t.uptime_24h || 'not known yet')}</strong></p>
      <div class="bar" role="img" aria-label="Online (green) and offline (red) over the last ${esc(hours)} hours">${this.spans(t.events, Number(hours))}</div>
      <div class="bar-scale muted"><span>${esc(hours)} h ago</span><span>now</span></div>
      <ul class="plain timeline">${t.events.map((e) => `<li><span class="when">${new Date(e.time).toLocaleString()}</span>
        <span class="kind-${esc(e.kind)}">${esc(KINDS[e.kind] || e.kind)}</span> ${esc(/^-+$/.test(e.detail.trim()) ? '(none)' : e.detail)}</li>`).join('')
        || '<li class="muted">Nothing in this time.</li>'}</ul>`;
    // Widths through the style object: the page's policy refuses style attributes.
    $$('#timeline .bar span').forEach((el) => { el.style.width = `${el.dataset.share}%`; });
  },
  // Online and offline stretches from the events (newest first), oldest on the left.
  spans(events, hours) {
    const end = Date.now();
    const start = end - hours * 3600e3;
    const changes = events.filter((e) => e.kind === 'online' || e.kind === 'offline' || e.kind === 'first_seen')
      .map((e) => ({ at: Date.parse(e.time), online: e.kind !== 'offline' })).reverse();
    let at = start;
    let online = null;  // unknown before the first event
    const out = [];
    const span = (until) => {
      if (until > at) out.push(`<span class="${online === null ? 'unknown' : online ? 'up' : 'down'}" data-share="${((100 * (until - at)) / (end - start)).toFixed(3)}"></span>`);
      at = until;
    };
    changes.forEach((c) => { span(Math.max(start, c.at)); online = c.online; });
    span(end);
    return out.join('');
  },
  update(what) {
    if (what !== 'all' && what !== 'players') return;
    const select = $('#history-player');
    const chosen = view.historyPlayer || select.value;
    select.innerHTML = [...state.players].sort((a, b) => (a.name || a.id).localeCompare(b.name || b.id))
      .map((p) => `<option value="${esc(p.id)}">${esc(p.name || p.id)} (${esc(p.id)})</option>`).join('');
    if (chosen) select.value = chosen;
    if (what === 'all' && select.value) this.load();
  },
};

// ---- sign-in ----

function showLogin(message = '') {
  if (events) { events.close(); events = null; }
  csrf = '';
  $('#top').hidden = true;
  $('#page').innerHTML = '';
  current = '';
  $('#login').hidden = false;
  $('#password-error').textContent = message;
  $('#password').focus();
}

async function start(token) {
  csrf = token;
  $('#login').hidden = true;
  $('#top').hidden = false;
  listen();
  await Promise.all(['players', 'playlists', 'schedules', 'content', 'ready'].map((w) => loaders[w]().catch((e) => toast(e.message))));
  show(location.hash.slice(1));
  setLive();
}

document.addEventListener('DOMContentLoaded', async () => {
  $('#login-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const input = $('#password');
    input.removeAttribute('aria-invalid');
    try {
      const r = await api('POST', '/api/login', { password: input.value });
      input.value = '';
      start(r.csrf);
    } catch (error) {
      input.setAttribute('aria-invalid', 'true');
      $('#password-error').textContent = error.message;
      input.select();
    }
  });
  $('#sign-out').addEventListener('click', async () => {
    await api('POST', '/api/logout').catch(() => null);
    showLogin('Signed out.');
  });
  window.addEventListener('hashchange', () => { if (csrf) show(location.hash.slice(1)); });
  // A page kept for the back button would hold its stream open, and the
  // browser gives a server only six connections: it closes, and opens again
  // (catching up) when the page comes back.
  window.addEventListener('pagehide', () => { if (events) { events.close(); events = null; } });
  window.addEventListener('pageshow', (e) => {
    if (e.persisted && csrf) {
      listen();
      ['players', 'playlists', 'schedules', 'content', 'ready'].forEach((w) => refresh(w, 0));
    }
  });
  // "12 s ago" moves on by itself, without asking the server.
  setInterval(() => $$('td.ago').forEach((td) => { td.textContent = ago(td.dataset.time); }), 1000);
  const session = await fetch('/api/session', { credentials: 'same-origin' }).then((r) => r.json()).catch(() => null);
  if (session?.signed_in) start(session.csrf);
  else showLogin(session && !session.password_set ? 'No password is set yet: run "tavri-avctl password" on the server.' : '');
});

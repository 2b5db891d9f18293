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
// Who is signed in: {name, role}; a viewer's page has no change enabled.
let me = { name: '', role: 'viewer' };
const state = {
  players: [], groups: [], playlists: [], schedules: [], content: [], ready: null, folder: '',
  alerts: [], recent: [], scan: null, copy: null, uploads: new Map(), connected: false, announcement: { running: false },
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
  groups: async () => { state.groups = await api('GET', '/api/groups'); },
  announcement: async () => { state.announcement = await api('GET', '/api/announcement'); },
  // The outages not over, as the server keeps them: a reload shows them too.
  alerts: async () => {
    const kept = await api('GET', '/api/alerts');
    const told = new Set(state.alerts.map((a) => a.text));
    const open = kept.alerts.map((a) => ({ kind: 'alert', text: `${a.title}: ${a.text}`, at: a.since }))
      .filter((a) => !told.has(a.text));
    state.alerts = [...state.alerts, ...open].sort((a, b) => Date.parse(b.at) - Date.parse(a.at)).slice(0, 50);
    state.announcement = kept.announcement;
    update('notes');
  },
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
  on('announcement', (d) => { state.announcement = d; showAnnouncement(); });
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

// The running announcement, on every page, with its End button.
function showAnnouncement() {
  const a = state.announcement;
  const box = $('#announcement');
  box.hidden = !a?.running;
  if (!a?.running) return;
  const time = (iso) => new Date(iso).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' });
  box.innerHTML = `<strong>Announcement:</strong> <span>${esc(a.what)} to ${esc(a.targets.join(', '))} (${a.players.length} players),
    since ${time(a.started)}${a.ends ? `, until ${time(a.ends)}` : ', until ended'}</span>
    <button type="button" id="announcement-end">End</button>`;
  $('#announcement-end').onclick = async () => {
    if (await act(() => api('DELETE', '/api/announcement'), 'Ended: every player gets back what it played')) refresh('announcement', 0);
  };
}

function setLive() {
  const online = state.players.filter((p) => p.online).length;
  $('#live').textContent = `${state.connected ? 'Live' : 'Reconnecting…'} · ${online} of ${state.players.length} players online`;
}

// ---- pages ---------------------------------------------------------------

const pages = {};
let current = '';

// What a viewer may still use: filters, sorting, selecting, views.
const VIEW_ONLY = ['#content-filter', '#history-player', '#history-hours', '#history-show', '#pop-form *', '#filter',
  '#view-table', '#view-map', '#select-all', 'input[data-player]', '#group-select', '#group-choose', '#palette-filter',
  '#week-back', '#week-now', '#week-next', 'button[data-id]', 'button[data-sort]'].join(', ');
function lockChanges() {
  if (me.role !== 'viewer') return;
  $$('#page button, #page input, #page select, #page textarea, #announcement button').forEach((el) => {
    if (el.matches(VIEW_ONLY) || el.disabled) return;
    el.disabled = true;
    el.title = 'A viewer changes nothing';
  });
  $$('#page [draggable="true"]').forEach((el) => { el.draggable = false; });
}
const locker = new MutationObserver(() => lockChanges());

function show(name) {
  if (!pages[name]) name = 'dashboard';
  current = name;
  $$('header nav a').forEach((a) => {
    if (a.dataset.page === name) a.setAttribute('aria-current', 'page');
    else a.removeAttribute('aria-current');
  });
  if (pages[name].admin && me.role !== 'admin') name = 'dashboard';
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
  if (what === 'announcement') showAnnouncement();
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

// ---- sign-in ----

function showLogin(message = '') {
  if (events) { events.close(); events = null; }
  csrf = '';
  $('#top').hidden = true;
  $('#announcement').hidden = true;
  $('#toast').hidden = true;
  $('#page').innerHTML = '';
  current = '';
  $('#login').hidden = false;
  $('#password-error').textContent = message;
  ($('#user').value ? $('#password') : $('#user')).focus();
}

async function start(session) {
  csrf = session.csrf;
  me = { name: session.name || 'admin', role: session.role || 'viewer' };
  document.body.dataset.role = me.role;
  $('#me').textContent = `${me.name} (${me.role})`;
  $$('header nav a[data-admin]').forEach((a) => { a.hidden = me.role !== 'admin'; });
  locker.disconnect();
  if (me.role === 'viewer') {
    locker.observe($('#page'), { childList: true, subtree: true });
    locker.observe($('#announcement'), { childList: true, subtree: true });
  }
  $('#login').hidden = true;
  $('#top').hidden = false;
  listen();
  await Promise.all(['players', 'groups', 'playlists', 'schedules', 'content', 'ready', 'alerts']
    .map((w) => loaders[w]().catch((e) => toast(e.message))));
  show(location.hash.slice(1));
  setLive();
  showAnnouncement();
}

document.addEventListener('DOMContentLoaded', async () => {
  $('#login-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const input = $('#password');
    const name = $('#user').value.trim();
    input.removeAttribute('aria-invalid');
    try {
      const r = await api('POST', '/api/login', name ? { name, password: input.value } : { password: input.value });
      input.value = '';
      start(r);
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
      ['players', 'groups', 'playlists', 'schedules', 'content', 'ready'].forEach((w) => refresh(w, 0));
    }
  });
  // "12 s ago" moves on by itself, without asking the server.
  setInterval(() => $$('td.ago').forEach((td) => { td.textContent = ago(td.dataset.time); }), 1000);
  const session = await fetch('/api/session', { credentials: 'same-origin' }).then((r) => r.json()).catch(() => null);
  if (session?.signed_in) start(session);
  else showLogin(session && !session.password_set ? 'No account is made yet: run "tavri-avctl user add NAME --role admin" on the server.' : '');
});

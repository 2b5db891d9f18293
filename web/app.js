// What the console holds from the server, what the operator chose, and the
// pages: each page redraws what a change touches.
import { api, noteVersions, session } from './api.js';
import { $, $$, shortName, toast } from './ui.js';

export const state = {
  players: [], byId: new Map(), playersVersion: 0, changed: new Set(), changedFields: new Set(), groups: [], playlists: [], schedules: [], content: [], ready: null, folder: '',
  alerts: [], recent: [], scan: null, copy: null, uploads: new Map(), connected: false, announcement: { running: false },
};
// What the operator chose, kept across the pages' redraws.
export const view = {
  selected: new Set(), filter: '', sort: 'name', descending: false, map: false, command: '',
  playlist: null, items: [], schedule: null, tasks: [], tasksDirty: false, contentFilter: '', preview: null,
  historyPlayer: '', listFilter: '',
};

// Players come in the compact form, one array each: half the bytes and of
// the parsing. Ten thousand rows are turned into players a few thousand at
// a time, the page answering in between.
const CHUNK = 2500;
const breathe = () => new Promise((resolve) => { setTimeout(resolve, 0); });
async function loadPlayers() {
  const { fields, players } = await api('GET', '/api/players?format=compact');
  const at = Object.fromEntries(fields.map((f, i) => [f, i]));
  const made = [];
  for (let start = 0; start < players.length; start += CHUNK) {
    await breathe();
    for (let i = start; i < Math.min(players.length, start + CHUNK); i += 1) {
      const r = players[i];
      made.push({
        id: r[at.id], name: r[at.name], ip: r[at.ip], claimed_by: r[at.claimed_by], online: r[at.online], state: r[at.state],
        playback: r[at.playback], list: r[at.list], track: r[at.track], now_playing: r[at.now_playing],
        last_seen: r[at.last_seen], command: r[at.command], uptime_24h: r[at.uptime_24h], map: r[at.map],
      });
    }
  }
  await breathe();
  state.players = made;
  state.byId = new Map(state.players.map((p) => [p.id, p]));
  state.changed.clear();  // what events said is in the list as fetched
  state.changedFields.clear();
  state.playersVersion += 1;
}

export const loaders = {
  players: loadPlayers,
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
export function refresh(what, delay = 150) {
  if (pending.has(what)) return pending.get(what).promise;
  // Ten thousand players are not fetched again on every burst of events:
  // what the events carry is shown meanwhile.
  if (what === 'players' && delay) delay = Math.max(delay, state.players.length / 5);
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

export const playlistName = (id) => state.playlists.find((p) => String(p.id) === String(id))?.name;
export const contentRecord = (file) => state.content.find((c) => c.file === file);

// Each name isolated (a right-to-left one cannot turn the sentence around
// it) and cut to a readable length.
export function names(ids, limit = 8) {
  const wanted = new Set(ids.slice(0, limit));
  const byId = new Map(state.players.filter((p) => wanted.has(p.id)).map((p) => [p.id, p.name || p.id]));
  const list = ids.slice(0, limit).map((id) => `\u2068${shortName(byId.get(id) || id)}\u2069`);
  return list.join(', ') + (ids.length > limit ? ` and ${ids.length - limit} more` : '');
}

// ---- pages ---------------------------------------------------------------

export const pages = {};
let current = '';
export const currentPage = () => current;

// What a viewer may still use: filters, sorting, selecting, views.
const VIEW_ONLY = ['#content-filter', '#history-player', '#history-hours', '#history-show', '#pop-form *', '#filter',
  '#view-table', '#view-map', '#select-all', 'input[data-player]', '#group-select', '#group-choose', '#palette-filter',
  '#week-back', '#week-now', '#week-next', 'button[data-id]', 'button[data-sort]', '#list-filter', '#state-filter'].join(', ');
function lockChanges() {
  if (session.role !== 'viewer') return;
  $$('#page button, #page input, #page select, #page textarea, #announcement button').forEach((el) => {
    if (el.disabled || el.matches(VIEW_ONLY)) return;
    el.disabled = true;
    el.title = 'A viewer changes nothing';
  });
  $$('#page [draggable="true"]').forEach((el) => { el.draggable = false; });
}
// Whatever a page draws later is locked as it appears.
const locker = new MutationObserver(() => lockChanges());
export function lockForViewer() {
  locker.disconnect();
  if (session.role !== 'viewer') return;
  locker.observe($('#page'), { childList: true, subtree: true });
  locker.observe($('#announcement'), { childList: true, subtree: true });
}

export function show(name) {
  if (!pages[name]) name = 'dashboard';
  if (pages[name].admin && session.role !== 'admin') name = 'dashboard';
  current = name;
  $$('header nav a').forEach((a) => {
    if (a.dataset.page === name) a.setAttribute('aria-current', 'page');
    else a.removeAttribute('aria-current');
  });
  // A new element each time: what a page listens to goes with it, and
  // coming back to a page does not answer each click twice.
  const page = document.createElement('div');
  page.innerHTML = pages[name].build();
  $('#page').replaceChildren(page);
  pages[name].bind?.(page);
  pages[name].update?.('all');
  document.title = `${name[0].toUpperCase()}${name.slice(1)} · tavri AV server`;
}

export function leave() { current = ''; }

// Many events in one frame make one redraw.
const redraws = new Set();
export function redraw(what) {
  if (!redraws.size) requestAnimationFrame(() => { const all = [...redraws]; redraws.clear(); all.forEach(update); });
  redraws.add(what);
}

// Told by whoever draws the header and the banner.
export const shell = { players: () => {}, announcement: () => {} };

// A change in `what`: the page redraws what shows it.
export function update(what) {
  if (what === 'players') shell.players();
  if (what === 'announcement') shell.announcement();
  if (!current) return;
  pages[current].update?.(what);
}

// A line for the dashboard: alerts and failures on the left, the rest on the right.
export function note(kind, text) {
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
  list.unshift(entry);
  state.alerts.length = Math.min(state.alerts.length, 50);
  state.recent.length = Math.min(state.recent.length, 50);
  update('notes');
}

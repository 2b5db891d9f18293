// The players page: the table or the map, its filters and the commands.
import { api } from './api.js';
import { names, pages, refresh, state, update, view } from './app.js';
import { PlayersMap } from './players-map.js';
import { $, act, ago, ask, esc, toast } from './ui.js';
import { WindowedTable } from './windowed-table.js';

// Commands that change what a player holds: confirmed, naming the players.
const DESTRUCTIVE = new Set(['CLEAR LIST', 'CLEAR CONTENT', 'RESET', 'RENAME']);
const ARGUMENT = { 'WEB STREAM': 'Stream address', BACKGROUND: 'Content file', RENAME: 'New name' };

const COLUMNS = [
  ['name', 'Name'], ['id', 'ID'], ['state', 'State'], ['playback', 'Playback'], ['list', 'List'],
  ['now_playing', 'Now playing'], ['groups', 'Groups'], ['ip', 'IP'], ['last_seen', 'Last seen'], ['uptime_24h', 'Uptime 24 h'],
];

// Each player's groups, by id, from the groups the server listed.
let groupsOf = new Map();
let groupsVersion = 0;
function noteGroups() {
  groupsOf = new Map();
  for (const g of state.groups) for (const id of g.players) groupsOf.set(id, [...(groupsOf.get(id) || []), g.name]);
  groupsVersion += 1;
}
// Dashes are what a player reports for nothing.
const none = (text) => !text || /^-+$/.test(String(text).trim());
const nowPlaying = (p) => p.now_playing || (none(p.track) ? '' : p.track);
// An offline player keeps the state it last reported, for when it is back.
const stateOf = (p) => (p.online ? p.state : 'OFFLINE');
const hasList = (p) => !none(p.list?.id);
const listText = (p) => {
  if (!hasList(p)) return '';
  return p.list.name ? `${p.list.name}${p.list.kind === 'schedule' ? ' (schedule)' : ''}` : `${p.list.id} (unknown)`;
};

function sortValue(p, key) {
  if (key === 'list') return listText(p);
  if (key === 'now_playing') return nowPlaying(p);
  if (key === 'groups') return (groupsOf.get(p.id) || []).join(', ');
  if (key === 'state') return stateOf(p);
  return String(p[key] ?? '');
}

// What a filter looks in, made once a player changes, not once a keystroke.
function haystack(p) {
  if (p.text === undefined || p.textOf !== groupsVersion) {
    p.text = [p.name, p.id, p.ip, stateOf(p), listText(p), nowPlaying(p), ...(groupsOf.get(p.id) || [])].join('\n').toLowerCase();
    p.textOf = groupsVersion;
  }
  return p.text;
}

// A key that orders by plain comparison as people expect: case aside, and
// numbers by value ("SIM-9" before "SIM-10"); ten times faster than a collator.
const natural = (text) => text.toLowerCase().replace(/\d+/g, (d) => d.padStart(12, '0'));
const byKey = (a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0);

// Sorting runs on the data: the order of ten thousand is kept until the
// list, the sort or the groups change. Changes that events bring re-sort it
// at most once a second; the rows show them at once meanwhile.
let order = { key: '', list: [], at: 0, stale: false };
let resort = 0;
function sortedPlayers() {
  const key = `${view.sort}|${state.playersVersion}|${groupsVersion}`;
  const now = performance.now();
  if (order.key === key && order.stale && now - order.at < 1000) {
    if (!resort) resort = setTimeout(() => { resort = 0; update('players'); }, 1000 - (now - order.at));
  } else if (order.key !== key || order.stale) {
    const keyed = state.players.map((p) => [natural(sortValue(p, view.sort)), p]);
    keyed.sort(byKey);
    order = { key, list: keyed.map((k) => k[1]), at: now, stale: false };
  }
  return order.list;
}

let shown = { key: '', list: [] };
function shownPlayers() {
  const changed = state.changed;
  if (changed?.size) {
    for (const id of changed) { const p = state.byId.get(id); if (p) p.text = undefined; }
    // Only what the events changed re-sorts: ten thousand starting to play
    // do not move a table sorted by name.
    if (state.changedFields.has(view.sort)) order.stale = true;
    changed.clear();
    state.changedFields.clear();
    if (view.filter) shown.key = '';  // who matches may have changed
  }
  const sorted = sortedPlayers();
  const key = `${order.key}|${order.at}|${view.descending}|${view.filter}`;
  if (shown.key === key) return shown.list;
  const f = view.filter.toLowerCase();
  const list = f ? sorted.filter((p) => haystack(p).includes(f)) : [...sorted];
  if (view.descending) list.reverse();
  shown = { key, list };
  return list;
}

function listOptions() {
  return `<optgroup label="Playlists">${state.playlists.map((p) => `<option value="playlist:${p.id}">${esc(p.name)}</option>`).join('')}</optgroup>
    <optgroup label="Schedules">${state.schedules.map((s) => `<option value="schedule:${s.id}">${esc(s.name)}</option>`).join('')}</optgroup>`;
}

// One row of the table: one line high, whatever it holds; the whole text on hover.
function playerRow(p) {
  const chosen = view.selected.has(p.id);
  const cell = (text, cls = '') => `<td${cls ? ` class="${cls}"` : ''} title="${esc(text)}">${esc(text)}</td>`;
  const groups = (groupsOf.get(p.id) || []).join(', ');
  const address = p.claimed_by
    ? `<td class="conflict" title="Also heard from ${esc(p.claimed_by)}: its reports from there are not taken until the move is accepted">${esc(p.ip)} (also ${esc(p.claimed_by)}!)</td>`
    : cell(p.ip);
  return `<tr class="${p.online ? '' : 'offline'}${chosen ? ' chosen' : ''}" data-id="${esc(p.id)}">
    <td><input type="checkbox" data-player="${esc(p.id)}" aria-label="Select ${esc(p.name || p.id)}"${chosen ? ' checked' : ''}></td>
    ${cell(p.name)}${cell(p.id)}${cell(stateOf(p), `state-${stateOf(p).replace(/ /g, '-')}`)}
    <td class="playback-${esc(p.playback)}">${esc(p.playback)}${p.command ? ` <span class="muted">(${esc(p.command)})</span>` : ''}</td>
    ${cell(listText(p) || '—')}${cell(nowPlaying(p))}${cell(groups)}${address}
    <td${p.online ? '>now' : ` class="ago" data-time="${esc(p.last_seen || '')}">${ago(p.last_seen)}`}</td>
    <td class="num">${esc(p.uptime_24h || '—')}</td></tr>`;
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

// An announcement: a list or a stream that interrupts the chosen players
// until ended; at its end each gets back its own. To all is confirmed.
async function announce() {
  const chosen = selectedShown();
  const to = [...(chosen.length ? [{ value: 'selected', label: `the ${chosen.length} selected players` }] : []),
    ...state.groups.map((g) => ({ value: `group:${g.name}`, label: `group ${g.name} (${g.players.length})` })),
    { value: 'all', label: `all ${state.players.length} players` }];
  const what = [...state.playlists.map((p) => ({ value: `playlist:${p.id}`, label: `playlist ${p.name}` })),
    ...state.schedules.map((s) => ({ value: `schedule:${s.id}`, label: `schedule ${s.name}` })),
    ...state.content.filter((c) => c.is_img).map((c) => ({ value: `background:${c.file}`, label: `background ${c.file}` })),
    { value: 'stream:', label: 'a web stream (address below)' }];
  const a = await ask('Start an announcement', 'It interrupts the players until it is ended, or for the minutes given; then each gets back what it played.',
    [{ name: 'what', label: 'Play', type: 'select', options: what, value: what[0]?.value },
      { name: 'stream', label: 'Stream address' },
      { name: 'to', label: 'To', type: 'select', options: to, value: to[0].value },
      { name: 'minutes', label: 'Minutes (empty: until ended)', type: 'number' }], 'Start');
  if (!a) return;
  const kind = a.what.slice(0, a.what.indexOf(':'));
  const id = a.what.slice(a.what.indexOf(':') + 1);
  const body = { players: a.to === 'all' ? 'all' : a.to === 'selected' ? chosen : [a.to] };
  if (kind === 'stream') body.stream = a.stream.trim();
  else if (kind === 'background') body.background = id;
  else body[kind] = Number(id);
  if (a.minutes) body.minutes = Number(a.minutes);
  if (a.to === 'all' && !await ask(`Interrupt all ${state.players.length} players?`, 'Every screen shows the announcement until it ends.', [], 'Start', null, true)) return;
  if (await act(() => api('POST', '/api/announcement', body), 'The announcement is running')) refresh('announcement', 0);
}

pages.players = {
  build: () => `<h1>Players</h1>
    <div class="toolbar">
      <label for="filter">Filter</label><input id="filter" type="search" value="${esc(view.filter)}" placeholder="name, id, state, group…">
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
      <button type="button" id="announce" class="quiet">Announce…</button>
      <button type="button" id="rename-player" class="quiet">Rename…</button>
      <button type="button" id="remove-players" class="quiet">Remove…</button>
    </form>
    <form class="toolbar" id="group-bar">
      <label for="group-select">Group</label><select id="group-select"></select>
      <button type="button" id="group-choose" class="quiet">Select its players</button>
      <button type="button" id="group-add" class="quiet">Add selected</button>
      <button type="button" id="group-take-out" class="quiet">Take selected out</button>
      <button type="button" id="group-new" class="quiet">New group…</button>
      <button type="button" id="group-remove" class="quiet">Remove group…</button>
    </form>
    <div id="players-view"></div>`,
  bind(page) {
    this.drawn = null;
    this.known = null;
    this.list = null;
    if (!this.resizing) {
      this.resizing = true;
      window.addEventListener('resize', () => {
        const box = $('#players-view');
        if (box) { this.fit(box); if (view.map) this.map?.draw(); else this.table?.draw(); }
      });
    }
    $('#filter', page).addEventListener('input', (e) => { view.filter = e.target.value; this.update('players'); });
    // The switch keeps the command, the list and the selection as they are.
    const switchTo = (map) => {
      view.map = map;
      $('#view-table').setAttribute('aria-pressed', String(!map));
      $('#view-map').setAttribute('aria-pressed', String(map));
      this.drawn = null;
      this.update('players');
    };
    $('#view-table', page).addEventListener('click', () => switchTo(false));
    $('#view-map', page).addEventListener('click', () => switchTo(true));
    const commandSelect = $('#command', page);
    const argumentShown = () => {
      const label = ARGUMENT[commandSelect.value];
      $('#argument-label').hidden = $('#argument').hidden = !label;
      $('#argument-label').textContent = label || '';
    };
    commandSelect.addEventListener('change', () => { view.command = commandSelect.value; argumentShown(); });
    api('GET', '/api/commands').then((list) => {
      commandSelect.innerHTML = list.filter((c) => c !== 'FEEDBACK').map((c) => `<option>${esc(c)}</option>`).join('');
      if (view.command) commandSelect.value = view.command;
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
    $('#announce', page).addEventListener('click', () => announce());
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
    // Groups: a group's players are selected, and commands and lists go to
    // the selection as ever; players join or leave the chosen group.
    const group = () => state.groups.find((g) => g.name === $('#group-select').value);
    refresh('groups', 0);  // their online counts as of now
    const inGroup = async (action) => {
      const g = group(), ids = selectedShown();
      if (!g) return toast('Make a group first.');
      if (!ids.length) return toast('Choose players first.');
      if (await act(() => api('POST', `/api/groups/${encodeURIComponent(g.name)}/${action}`, { players: ids }),
        `${action === 'add' ? 'Added to' : 'Taken out of'} ${g.name}`, $('#group-bar'))) refresh('groups', 0);
    };
    $('#group-choose', page).addEventListener('click', () => {
      const g = group();
      if (!g) return toast('Make a group first.');
      view.selected = new Set(g.players);
      this.update('players');
    });
    $('#group-add', page).addEventListener('click', () => inGroup('add'));
    $('#group-take-out', page).addEventListener('click', () => inGroup('remove'));
    $('#group-new', page).addEventListener('click', () => ask('New group', 'Players can be in any number of groups.',
      [{ name: 'name', label: 'Name' }], 'Make', async (a) => {
        try {
          await api('POST', '/api/groups', { name: a.name });
          await refresh('groups', 0);
          $('#group-select').value = a.name;
          return null;
        } catch (error) { return error.message; }
      }));
    $('#group-remove', page).addEventListener('click', async () => {
      const g = group();
      if (!g || !await ask(`Remove the group ${g.name}?`, 'Its players stay; only the group goes.', [], 'Remove', null, true)) return;
      if (await act(() => api('DELETE', `/api/groups/${encodeURIComponent(g.name)}`), 'Group removed')) refresh('groups', 0);
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
        const all = e.target.checked;
        for (const p of shownPlayers()) if (all) view.selected.add(p.id); else view.selected.delete(p.id);
        this.update('players');
      }
    });
    page.addEventListener('click', (e) => {
      const sort = e.target.closest('button[data-sort]');
      if (!sort) return;
      if (view.sort === sort.dataset.sort) view.descending = !view.descending;
      else { view.sort = sort.dataset.sort; view.descending = false; }
      this.update('players');
      $(`button[data-sort="${view.sort}"]`)?.focus({ preventScroll: true });
    });
  },
  counts() {
    let online = 0;
    for (const p of state.players) if (p.online) online += 1;
    const chosen = selectedShown().length;
    $('#count').textContent = `${state.players.length} players, ${online} online, ${chosen} selected`;
    $('#command-selected').textContent = `Send to selected (${chosen})`;
  },
  update(what) {
    if (what === 'all' || what === 'groups') {
      noteGroups();
      const chosen = $('#group-select').value;
      $('#group-select').innerHTML = state.groups.map((g) =>
        `<option value="${esc(g.name)}">${esc(g.name)} (${g.online} online, ${g.offline} offline)</option>`).join('');
      if (state.groups.some((g) => g.name === chosen)) $('#group-select').value = chosen;
    }
    if (what === 'all' || what === 'playlists' || what === 'schedules') {
      const chosen = $('#send-list').value;
      $('#send-list').innerHTML = listOptions();
      if (chosen) $('#send-list').value = chosen;
    }
    if (what !== 'all' && what !== 'players' && what !== 'groups') return;
    if (this.known !== state.playersVersion) {
      this.known = state.playersVersion;
      for (const id of view.selected) if (!state.byId.has(id)) view.selected.delete(id);
    }
    const changed = new Set(state.changed || []);
    const list = shownPlayers();
    this.counts();
    const box = $('#players-view');
    // The same rows in the same order: only the changed ones are drawn again.
    const same = list === this.list;
    this.list = list;
    if (view.map) {
      if (this.drawn !== 'map') {
        box.className = 'map';
        this.fit(box);
        this.map = new PlayersMap(box, { selected: view.selected, choose: (p) => this.choose(p) });
        this.drawn = 'map';
      }
      if (same && changed.size) this.map.draw(); else this.map.set(list);
      return;
    }
    if (same && changed.size && this.drawn === 'table') {
      this.table.refresh(changed, (id) => state.byId.get(id));
      return;
    }
    if (this.drawn !== 'table') {
      box.className = 'scroll players';
      this.fit(box);
      this.table = new WindowedTable(box, {
        id: 'players-table',
        rowHeight: 33,
        columns: `<col class="c-pick">${COLUMNS.map(([key]) => `<col class="c-${key}">`).join('')}`,
        head: '<tr></tr>',
        row: playerRow,
      });
      this.drawn = 'table';
      this.sorted = null;
    }
    // The sorted column says which way, with its arrow, for eyes and for screen readers.
    if (this.sorted !== `${view.sort}|${view.descending}`) {
      this.sorted = `${view.sort}|${view.descending}`;
      const arrow = (key) => (view.sort === key ? (view.descending ? ' ▼' : ' ▲') : '');
      const sortState = (key) => (view.sort === key ? (view.descending ? 'descending' : 'ascending') : 'none');
      this.table.table.tHead.innerHTML = `<tr><th><input type="checkbox" id="select-all" aria-label="Select every player shown"></th>${
        COLUMNS.map(([key, label]) => `<th aria-sort="${sortState(key)}"><button type="button" data-sort="${key}">${label}${arrow(key)}</button></th>`).join('')}</tr>`;
    }
    let all = list.length > 0;
    for (const p of list) if (!view.selected.has(p.id)) { all = false; break; }
    $('#select-all').checked = all;
    this.table.set(list);
  },
  // The table or the map reaches down to the window's edge, and no further:
  // one scrollbar, however the toolbars wrap.
  fit(box) {
    const height = Math.max(240, window.innerHeight - box.getBoundingClientRect().top - window.scrollY - 16);
    if (box.style.height !== `${height}px`) box.style.height = `${height}px`;
  },
  // A tile clicked on the map: chosen or not, and its row brought into sight for the table.
  choose(p) {
    if (view.selected.has(p.id)) view.selected.delete(p.id); else view.selected.add(p.id);
    this.counts();
    this.map.draw();
  },
};

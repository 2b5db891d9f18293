'use strict';
// The players page: the table, its filters and the commands. Loaded after console.js,
// whose helpers and state it uses.

// ---- players ----

const COLUMNS = [
  ['name', 'Name'], ['id', 'ID'], ['state', 'State'], ['playback', 'Playback'], ['list', 'List'],
  ['now_playing', 'Now playing'], ['groups', 'Groups'], ['ip', 'IP'], ['last_seen', 'Last seen'], ['uptime_24h', 'Uptime 24 h'],
];

// Each player's groups, by id, from the groups the server listed.
let groupsOf = new Map();
function noteGroups() {
  groupsOf = new Map();
  for (const g of state.groups) for (const id of g.players) groupsOf.set(id, [...(groupsOf.get(id) || []), g.name]);
}
const nowPlaying = (p) => p.now_playing || p.track || '';

function sortValue(p, key) {
  if (key === 'list') return p.list?.name || p.list?.id || '';
  if (key === 'now_playing') return nowPlaying(p);
  if (key === 'groups') return (groupsOf.get(p.id) || []).join(', ');
  return String(p[key] ?? '');
}

function shownPlayers() {
  const f = view.filter.toLowerCase();
  const list = state.players.filter((p) => !f || [p.name, p.id, p.ip, p.state, p.list?.name, nowPlaying(p), ...(groupsOf.get(p.id) || [])]
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
        <td>${esc(nowPlaying(p))}</td><td>${esc((groupsOf.get(p.id) || []).join(', '))}</td><td${p.claimed_by ? ` class="conflict" title="Also heard from ${esc(p.claimed_by)}: its reports from there are not taken until the move is accepted"` : ''}>${esc(p.ip)}${p.claimed_by ? ` (also ${esc(p.claimed_by)}!)` : ''}</td><td${p.online ? '>now' : ` class="ago" data-time="${esc(p.last_seen || '')}">${ago(p.last_seen)}`}</td>
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
        title="${esc(p.name)} (${esc(p.id)}): ${esc(p.state)}${nowPlaying(p) ? `, ${esc(nowPlaying(p))}` : ''}">${esc(shortName(p.name || p.id))}<br>${esc(p.state)}</div>`;
    });
    $('#players-view').innerHTML = `<div class="map" role="img" aria-label="Floor plan: ${list.length} players">${spots.join('')}</div>
      <p class="muted">Positions come from the window's map; players never placed there are in rows below.</p>`;
    // Placed through the style object: the page's policy refuses style attributes.
    $$('.spot').forEach((el) => { el.style.left = `${el.dataset.x}px`; el.style.top = `${el.dataset.y}px`; });
  },
};

// The playlists page: the catalogue and a playlist's items.
import { api } from './api.js';
import { contentRecord, currentPage, pages, state, view } from './app.js';
import { bindCatalogue, searchBox, searched } from './catalogue.js';
import { $, $$, act, duration, esc, toast } from './ui.js';

// ---- playlists ----

async function loadPlaylist(id) {
  view.playlist = id;
  if (id == null) { view.items = []; return; }
  try {
    const p = await api('GET', `/api/playlists/${id}`);
    view.items = p.items.map((i) => ({ file: i.file, is_img: !!i.is_img, seconds: i.is_img ? i.file_length : undefined, length: Number(i.file_length) || 0, kind: i.file_kind,
      first_date: i.first_date || '', last_date: i.last_date || '', not_playing: i.not_playing || '' }));
  } catch (error) {
    view.items = [];
    if (error.status === 404) view.playlist = null; else toast(error.message);
  }
}

// The whole list at once: the server keeps all of it, or none.
async function saveItems(items) {
  const id = view.playlist;
  const body = { items: items.map((i) => {
    const item = i.is_img && i.seconds ? { file: i.file, seconds: Number(i.seconds) } : { file: i.file };
    if (i.first_date) item.first_date = i.first_date;
    if (i.last_date) item.last_date = i.last_date;
    return item;
  }) };
  const ok = await act(() => api('PUT', `/api/playlists/${id}/items`, body));
  await loadPlaylist(id);
  pages.playlists.items();
  return ok;
}

pages.playlists = {
  build: () => `<h1>Playlists</h1>
    <div class="columns">
      <section aria-labelledby="pl-head">
        <h2 id="pl-head">Lists</h2>
        <div class="toolbar">
          <button type="button" id="pl-new">New…</button><button type="button" id="pl-rename" class="quiet">Rename…</button>
          <button type="button" id="pl-copy" class="quiet">Copy</button><button type="button" id="pl-remove" class="quiet">Remove…</button>
        </div>
        ${searchBox('pl-list')}
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
      const dated = e.target.closest('input[data-date]');
      if (dated) {
        const list = view.items.map((x) => ({ ...x }));
        list[Number(dated.dataset.index)][dated.dataset.date] = dated.value;
        saveItems(list);
        return;
      }
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
  // "Items of "Lobby": 4, 2:05 in all": the count and the whole length.
  heading() {
    const p = state.playlists.find((x) => x.id === view.playlist);
    const total = view.items.reduce((sum, i) => sum + (Number(i.is_img ? i.seconds : i.length) || 0), 0);
    $('#items-head').textContent = p ? `Items of "${p.name}": ${view.items.length}, ${duration(total)} in all` : 'Items';
  },
  items() {
    const box = $('#items');
    if (!box) return;
    const p = state.playlists.find((x) => x.id === view.playlist);
    this.heading();
    if (!p) { box.innerHTML = '<p class="muted">Choose a playlist on the left.</p>'; return; }
    box.innerHTML = `<table id="items-table"><thead><tr><th><span class="sr">Move</span></th><th>#</th><th>File</th><th>Seconds</th><th>Length</th><th>Plays from</th><th>until</th><th>Actions</th></tr></thead>
      <tbody>${view.items.map((i, k) => `<tr draggable="true" data-index="${k}">
        <td class="drag" aria-hidden="true">⠿</td><td class="num">${k + 1}</td><td${i.not_playing ? ' class="inactive"' : ''}>${esc(i.file)}${i.not_playing ? ` <span class="muted">(not playing: ${esc(i.not_playing)})</span>` : ''}</td>
        <td>${i.is_img ? `<input type="number" min="1" step="1" data-seconds="${k}" value="${esc(i.seconds ?? '')}" aria-label="Seconds for ${esc(i.file)}" class="short">` : '<span class="muted">movie</span>'}</td>
        <td class="num">${duration(i.is_img ? i.seconds : i.length)}</td>
        ${['first_date', 'last_date'].map((d) => `<td><input type="date" data-date="${d}" data-index="${k}" value="${esc(i[d])}" aria-label="${d === 'first_date' ? 'First' : 'Last'} date of ${esc(i.file)}"></td>`).join('')}
        <td><button type="button" class="quiet" data-act="up" data-index="${k}" aria-label="Move ${esc(i.file)} up">↑</button>
          <button type="button" class="quiet" data-act="down" data-index="${k}" aria-label="Move ${esc(i.file)} down">↓</button>
          <button type="button" class="quiet" data-act="remove" data-index="${k}" aria-label="Remove ${esc(i.file)}">✕</button></td></tr>`).join('')}
      <tr class="drop-end"><td colspan="8" class="muted">${view.items.length ? 'Drop here to add at the end' : 'Empty: drop content here, or use Add below'}</td></tr></tbody></table>`;
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
  // The shown list was published again: what it holds now is shown.
  async published(file) {
    if (view.playlist == null || file !== `PLAYLIST_ID_${view.playlist}.SAV`) return;
    await loadPlaylist(view.playlist);
    if (currentPage() === 'playlists') this.update('items');
  },
  update(what) {
    if (what === 'all' || what === 'playlists') {
      if (view.playlist != null && !state.playlists.some((p) => p.id === view.playlist)) { view.playlist = null; view.items = []; }
      $('#pl-list').innerHTML = searched(state.playlists).map((p) => `<li><button type="button" data-id="${p.id}" aria-pressed="${p.id === view.playlist}">${esc(p.name)}</button></li>`).join('')
        || `<li class="muted">${state.playlists.length ? 'No playlist has this in its name.' : 'No playlists yet.'}</li>`;
      if (what === 'all' || view.playlist == null) this.items();
      else this.heading();
    }
    // Another browser or the window changed the shown list: shown too,
    // unless the operator is typing in it.
    if (what === 'items' && !$('#items').contains(document.activeElement)) this.items();
    if (what === 'all' || what === 'content') this.palette();
  },
};

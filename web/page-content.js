// The content page: the folder's items, uploads and streams.
import { api, session } from './api.js';
import { contentRecord, pages, playlistName, refresh, state, update, view } from './app.js';
import { $, act, ask, duration, esc, sizeText, toast } from './ui.js';

// ---- content ----

function upload(files) {
  for (const file of files) {
    const entry = { name: file.name, sent: 0, total: file.size, done: false, error: '' };
    state.uploads.set(`${file.name}:${Date.now()}:${Math.random()}`, entry);
    const xhr = new XMLHttpRequest();
    xhr.open('PUT', `/api/content/${encodeURIComponent(file.name)}`);
    xhr.setRequestHeader('X-CSRF-Token', session.csrf);
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
    const facts = [['Kind', c.file_kind], ['Size', sizeText(c.file_size)],
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
      $('#content-table').innerHTML = `<table id="content-list"><thead><tr><th>Still</th><th>File</th><th>Kind</th><th>Size</th><th>Length</th><th>Playlists</th><th><span class="sr">Delete</span></th></tr></thead>
        <tbody>${list.map((c) => `<tr data-file="${esc(c.file)}">
          <td><img class="thumb" loading="lazy" src="/api/content/${encodeURIComponent(c.file)}/thumbnail" alt=""></td>
          <td class="file"><button type="button" class="quiet" title="${esc(c.file)}">${esc(c.file)}</button></td><td>${esc(c.file_kind || (c.is_img ? 'image' : ''))}</td>
          <td class="num">${esc(sizeText(c.file_size))}</td>
          <td class="num">${typeof c.file_length === 'number' && c.file_length > 0 ? duration(c.file_length) : ''}</td><td>${(c.playlists || []).length}</td>
          <td><button type="button" class="quiet" data-delete="${esc(c.file)}" aria-label="Delete ${esc(c.file)}">Delete…</button></td></tr>`).join('')
        || '<tr><td colspan="7" class="muted">No content yet: upload some.</td></tr>'}</tbody></table>`;
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

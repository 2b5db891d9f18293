// The history page: events and proof of play.
import { api } from './api.js';
import { pages, state, view } from './app.js';
import { $, $$, act, esc, toast, today } from './ui.js';

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
    const p = state.byId.get(id);
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

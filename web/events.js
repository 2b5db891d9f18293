// The API's event stream: what it says is applied to what the page holds,
// what it does not say is fetched again.
import { api, hooks } from './api.js';
import { loaders, note, pages, redraw, refresh, shell, state, update } from './app.js';
import { $, act, esc } from './ui.js';

let events = null;
export function listen() {
  if (events) events.close();
  events = new EventSource('/api/events');
  events.onopen = () => { state.connected = true; setLive(); };
  events.onerror = async () => {
    state.connected = false;
    setLive();
    if (events?.readyState === EventSource.CLOSED) {
      const session = await fetch('/api/session', { credentials: 'same-origin' }).then((r) => r.json()).catch(() => null);
      if (session && !session.signed_in) hooks.signedOut('Your session ended: sign in again.');
      else setTimeout(listen, 3000);
    }
  };
  const on = (name, fn) => events.addEventListener(name, (e) => fn(JSON.parse(e.data)));
  on('player', (d) => {
    const p = state.byId.get(d.id);
    // What an event carries is shown at once; what it does not, fetched.
    if (!p || !['online', 'offline', 'renamed', 'status'].includes(d.change)) return refresh('players');
    // Offline keeps the state it had: back online, it shows again without a
    // fetch, unless the page never knew it (loaded while offline).
    const fields = state.changedFields;
    if (d.change === 'online') {
      p.online = true;
      p.last_seen = new Date().toISOString();
      if (p.state === 'OFFLINE') refresh('players', 400);
      fields.add('state').add('last_seen');
    }
    if (d.change === 'offline') { p.online = false; fields.add('state'); }
    if (d.change === 'renamed') { p.name = d.name; fields.add('name'); }
    if (d.change === 'status') {
      if (p.state === d.state && p.playback === d.playback && p.online) return;
      if (p.state !== d.state || !p.online) fields.add('state');
      if (p.playback !== d.playback) fields.add('playback');
      p.state = d.state;
      p.playback = d.playback;
      p.online = true;
    }
    state.changed.add(p.id);
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
    if (d.ok) await pages.playlists.published?.(d.file);
    refresh('playlists', 300);
    refresh('schedules', 300);
    refresh('content', 300);
  });
}

export function stopListening() {
  if (events) { events.close(); events = null; }
}

// The running announcement, on every page, with its End button.
export function showAnnouncement() {
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

export function setLive() {
  let online = 0;
  for (const p of state.players) if (p.online) online += 1;
  $('#live').textContent = `${state.connected ? 'Live' : 'Reconnecting…'} · ${online} of ${state.players.length} players online`;
}

shell.players = setLive;
shell.announcement = showAnnouncement;

// The schedules page: the catalogue and a schedule's tasks.
import { api } from './api.js';
import { pages, playlistName, state, view } from './app.js';
import { bindCatalogue, searchBox, searched } from './catalogue.js';
import { $, act, ask, esc, toast, today } from './ui.js';

// ---- schedules ----

const weekDays = ['mon', 'tue', 'wed', 'thu', 'fri', 'sat', 'sun'];

async function loadSchedule(id) {
  view.schedule = id;
  view.tasksDirty = false;
  view.fallback = -1;
  if (id == null) { view.tasks = []; return; }
  try {
    const s = await api('GET', `/api/schedules/${id}`);
    view.fallback = s.fallback == null ? -1 : Number(s.fallback);
    view.tasks = (s.tasklist || []).map((t) => ({
      name: t.name, date: t.date, time: t.time, daily: !!t.daily, cut: !!t.cut, active: !!t.active, playlist: Number(t.list),
      days: (t.days || '').toLowerCase().split(' ').filter(Boolean), first_date: t.first_date || '', last_date: t.last_date || '',
      end_time: t.end_time || '',
    }));
  } catch (error) {
    view.tasks = [];
    if (error.status === 404) view.schedule = null; else toast(error.message);
  }
}

// A task as the API takes it: rules only when set.
const taskBody = (t) => {
  const out = { name: t.name, date: t.date, time: t.time, daily: t.daily, cut: t.cut, active: t.active, playlist: t.playlist };
  if (t.days.length) out.days = t.days;
  for (const k of ['first_date', 'last_date', 'end_time']) if (t[k]) out[k] = t[k];
  return out;
};
const hasRules = (t) => t.days.length > 0 || !!(t.first_date || t.last_date || t.end_time);
const isoDay = (d) => `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
// Whether a task plays on a day, as the server compiles it.
const playsOn = (t, d) => {
  const day = isoDay(d);
  if (!hasRules(t)) return t.daily ? t.date <= day : t.date === day;
  if (!t.active) return false;
  if (t.days.length && !t.days.includes(weekDays[(d.getDay() + 6) % 7])) return false;
  return (!t.first_date || day >= t.first_date) && (!t.last_date || day <= t.last_date);
};


pages.schedules = {
  build: () => `<h1>Schedules</h1>
    <div class="columns">
      <section aria-labelledby="sc-head">
        <h2 id="sc-head">Schedules</h2>
        <div class="toolbar"><button type="button" id="sc-new">New…</button><button type="button" id="sc-rename" class="quiet">Rename…</button>
          <button type="button" id="sc-copy" class="quiet">Copy</button><button type="button" id="sc-remove" class="quiet">Remove…</button></div>
        ${searchBox('sc-list')}
        <ul class="plain picklist" id="sc-list"></ul>
      </section>
      <section>
        <h2 id="tasks-head">Tasks</h2>
        <form id="tasks-form">
          <div class="toolbar"><button type="button" id="task-add" class="quiet">Add task</button>
            <button type="submit" id="tasks-save">Save tasks</button><button type="button" id="tasks-undo" class="quiet">Undo changes</button>
            <button type="button" id="sc-send" class="quiet">Send to all players…</button>
            <span class="field-error" data-error-for="tasks"></span></div>
          <label>Outside its dayparts plays <select id="fallback" aria-label="Fallback playlist"></select></label>
          <div class="scroll" id="tasks"></div>
        </form>
        <div class="toolbar"><h2 id="week-head">This week</h2>
          <button type="button" class="quiet" id="week-back" aria-label="The week before">◀</button>
          <button type="button" class="quiet" id="week-now">This week</button>
          <button type="button" class="quiet" id="week-next" aria-label="The week after">▶</button></div>
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
        playlist: state.playlists[0]?.id ?? -1, days: [], first_date: '', last_date: '', end_time: '' });
      view.tasksDirty = true;
      this.tasks();
      $(`#tasks tr:last-child input`)?.focus();
    });
    $('#tasks-undo', page).addEventListener('click', async () => { await loadSchedule(view.schedule); this.update('all'); });
    $('#tasks-form', page).addEventListener('submit', async (e) => {
      e.preventDefault();
      if (view.schedule == null) return;
      const body = { tasks: view.tasks.map(taskBody), fallback: view.fallback };
      const ok = await act(() => api('PUT', `/api/schedules/${view.schedule}/tasks`, body), 'Tasks saved and published', $('#tasks-form'));
      if (ok) { await loadSchedule(view.schedule); this.update('all'); }
    });
    const edit = (e) => {
      const input = e.target.closest('[data-task]');
      if (!input) return;
      const t = view.tasks[Number(input.dataset.task)];
      const key = input.dataset.key;
      if (key === 'day') {
        const day = input.dataset.day;
        t.days = weekDays.filter((d) => (d === day ? input.checked : t.days.includes(d)));
      } else {
        t[key] = input.type === 'checkbox' ? input.checked : key === 'playlist' ? Number(input.value) : input.value;
      }
      view.tasksDirty = true;
      if (e.type === 'change') this.week();
    };
    $('#fallback', page).addEventListener('change', (e) => { view.fallback = Number(e.target.value); view.tasksDirty = true; this.week(); });
    const moveWeek = (by) => { view.weekOffset = by == null ? 0 : (view.weekOffset || 0) + by; this.week(); };
    $('#week-back', page).addEventListener('click', () => moveWeek(-1));
    $('#week-next', page).addEventListener('click', () => moveWeek(1));
    $('#week-now', page).addEventListener('click', () => moveWeek(null));
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
    $('#fallback').innerHTML = options(view.fallback);
    // Days as toggles; with days, dates or an end time the task is a daypart
    // and its own date and "daily" no longer count.
    const dayToggles = (t, k) => `<span class="days">${weekDays.map((d) => `<label title="${d}"><input type="checkbox" data-task="${k}" data-key="day" data-day="${d}"${t.days.includes(d) ? ' checked' : ''} aria-label="${d} (task ${k + 1})">${d.slice(0, 2)}</label>`).join('')}</span>`;
    $('#tasks').innerHTML = `<table id="tasks-table"><thead><tr><th>Name</th><th>Date</th><th>Time</th><th>Ends</th><th>Days</th><th>From</th><th>Until</th><th>Daily</th><th>Cut</th><th>Active</th><th>Playlist</th><th><span class="sr">Remove</span></th></tr></thead>
      <tbody>${view.tasks.map((t, k) => `<tr>
        <td><input data-task="${k}" data-key="name" value="${esc(t.name)}" aria-label="Name of task ${k + 1}"></td>
        <td><input type="date" data-task="${k}" data-key="date" value="${esc(t.date)}" aria-label="Date of task ${k + 1}"${hasRules(t) ? ' disabled' : ''}></td>
        <td><input type="time" data-task="${k}" data-key="time" value="${esc(t.time)}" aria-label="Time of task ${k + 1}"></td>
        <td><input type="time" data-task="${k}" data-key="end_time" value="${esc(t.end_time)}" aria-label="End time of task ${k + 1}"></td>
        <td>${dayToggles(t, k)}</td>
        <td><input type="date" data-task="${k}" data-key="first_date" value="${esc(t.first_date)}" aria-label="First date of task ${k + 1}"></td>
        <td><input type="date" data-task="${k}" data-key="last_date" value="${esc(t.last_date)}" aria-label="Last date of task ${k + 1}"></td>
        ${['daily', 'cut', 'active'].map((f) => `<td><input type="checkbox" data-task="${k}" data-key="${f}"${t[f] ? ' checked' : ''} aria-label="${f} (task ${k + 1})"></td>`).join('')}
        <td><select data-task="${k}" data-key="playlist" aria-label="Playlist of task ${k + 1}">${options(t.playlist)}</select></td>
        <td><button type="button" class="quiet" data-remove-task="${k}" aria-label="Remove task ${k + 1}">✕</button></td></tr>`).join('')
      || '<tr><td colspan="12" class="muted">No tasks: add one.</td></tr>'}</tbody></table>`;
    this.week();
  },
  // Monday to Sunday of any week: a task on its date, a daily one on every
  // day from its date on, a daypart on its days between its dates. Tasks
  // at the same time stand side by side.
  week() {
    const box = $('#week');
    if (!box) return;
    const now = new Date();
    const offset = view.weekOffset || 0;
    const monday = new Date(now.getFullYear(), now.getMonth(), now.getDate() - ((now.getDay() + 6) % 7) + 7 * offset);
    const days = [...Array(7)].map((_, i) => new Date(monday.getFullYear(), monday.getMonth(), monday.getDate() + i));
    $('#week-head').textContent = offset === 0 ? 'This week' : `Week of ${monday.toLocaleDateString(undefined, { day: 'numeric', month: 'short', year: 'numeric' })}`;
    const sorted = [...view.tasks].sort((a, b) => a.time.localeCompare(b.time));
    const entry = (t) => `<div class="task${t.active ? '' : ' inactive'}" title="${esc(t.name)}">${esc(t.time)}${t.end_time ? `–${esc(t.end_time)}` : ''} ${esc(playlistName(t.playlist) || '(no playlist)')}
      <span class="muted">${esc(t.name)}${t.cut ? ', cuts in' : ''}</span></div>`;
    box.innerHTML = days.map((d) => {
      const tasks = sorted.filter((t) => playsOn(t, d));
      const byTime = [...new Set(tasks.map((t) => t.time))].map((time) => tasks.filter((t) => t.time === time));
      const rows = byTime.map((same) => `<div class="slot">${same.map(entry).join('')}</div>`).join('');
      const fallback = view.fallback !== -1 ? `<div class="muted">otherwise ${esc(playlistName(view.fallback) || '?')}</div>` : '';
      return `<div class="day${isoDay(d) === isoDay(now) ? ' today' : ''}"><h3>${d.toLocaleDateString(undefined, { weekday: 'short', day: 'numeric', month: 'short' })}</h3>
        ${rows || '<span class="muted">—</span>'}${fallback}</div>`;
    }).join('');
  },
  update(what) {
    if (what === 'all' || what === 'schedules') {
      if (view.schedule != null && !state.schedules.some((s) => s.id === view.schedule)) { view.schedule = null; view.tasks = []; }
      $('#sc-list').innerHTML = searched(state.schedules).map((s) => `<li><button type="button" data-id="${s.id}" aria-pressed="${s.id === view.schedule}">${esc(s.name)} <span class="muted">(${s.tasks})</span></button></li>`).join('')
        || `<li class="muted">${state.schedules.length ? 'No schedule has this in its name.' : 'No schedules yet.'}</li>`;
    }
    if (what === 'all' || (what === 'playlists' && !view.tasksDirty)) this.tasks();
  },
};

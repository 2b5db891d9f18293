// New, rename, copy, remove and send to all: the same for playlists and
// schedules, and the search over their names.
import { api } from './api.js';
import { pages, refresh, state, view } from './app.js';
import { $, act, ask, esc, toast } from './ui.js';

// which is shown.
export function bindCatalogue(page, prefix, word, load, chosenId, removing) {
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
  $('#list-filter', page)?.addEventListener('input', (e) => { view.listFilter = e.target.value; pages[path].update(path); });
}

// The names that hold the search's text, when one is typed.
export const searched = (lists) => {
  const f = view.listFilter.trim().toLowerCase();
  return f ? lists.filter((l) => l.name.toLowerCase().includes(f)) : lists;
};
export const searchBox = (id) => `<div class="toolbar"><label for="list-filter">Find</label>
  <input id="list-filter" type="search" value="${esc(view.listFilter)}" data-for="${id}"></div>`;

// The admin's pages: people, tokens and notifications, and the audit.
import { api, session } from './api.js';
import { pages } from './app.js';
import { $, act, ask, esc, toast, today } from './ui.js';

const ROLES = ['viewer', 'operator', 'admin'].map((r) => ({ value: r, label: r }));
const when = (iso) => (iso ? new Date(iso).toLocaleString() : 'never');

pages.people = {
  admin: true,
  build: () => `<h1>People, tokens and notifications</h1>
    <div class="columns even">
      <section>
        <h2>People</h2>
        <p class="muted">A viewer sees everything and changes nothing; an operator sends, commands and edits;
          an admin also removes players, restores, and manages these pages.</p>
        <div class="toolbar"><button type="button" id="user-add">Add a person</button></div>
        <table class="grid"><thead><tr><th>Name</th><th>Role</th><th>Since</th><th></th></tr></thead>
          <tbody id="users"></tbody></table>
        <h2>Tokens for integrations</h2>
        <div class="toolbar"><button type="button" id="token-create">Create a token</button></div>
        <table class="grid"><thead><tr><th>Name</th><th>Role</th><th>Created</th><th>Last used</th><th></th></tr></thead>
          <tbody id="tokens"></tbody></table>
      </section>
      <section>
        <h2>Notifications</h2>
        <p class="muted">Outages, players back, failed commands, a failing folder or disk, and restores.</p>
        <h3>Mail</h3><div id="mail"></div>
        <div class="toolbar"><button type="button" id="mail-set">Set the mail account</button></div>
        <h3>Webhooks</h3>
        <table class="grid"><thead><tr><th>Name</th><th>Address</th><th>Last delivery</th><th></th></tr></thead>
          <tbody id="hooks"></tbody></table>
        <div class="toolbar"><button type="button" id="hook-add">Add a webhook</button></div>
      </section>
    </div>`,
  bind(page) {
    $('#user-add', page).addEventListener('click', async () => {
      const a = await ask('Add a person', 'They sign in with this name and password.', [
        { name: 'name', label: 'Name' }, { name: 'role', label: 'Role', type: 'select', options: ROLES, value: 'operator' },
        { name: 'password', label: 'Password (at least 8 characters)', type: 'password' }], 'Add');
      if (a && await act(() => api('POST', '/api/users', a), `${a.name} may sign in as ${a.role}`)) this.load();
    });
    $('#token-create', page).addEventListener('click', async () => {
      const a = await ask('Create a token', 'For a script or another system. It is shown once.', [
        { name: 'name', label: 'Name' }, { name: 'role', label: 'Role', type: 'select', options: ROLES, value: 'viewer' }], 'Create');
      if (!a) return;
      const made = await act(() => api('POST', '/api/tokens', a));
      if (!made) return;
      await ask(`The token "${made.name}"`, `Copy it now: the server keeps only its hash. ${made.token}`, [], 'Done');
      this.load();
    });
    $('#mail-set', page).addEventListener('click', async () => {
      const m = this.notifications?.mail || {};
      const a = await ask('Set the mail account', 'Alerts are sent through this server.', [
        { name: 'server', label: 'Server (host:port)', value: m.server || '' },
        { name: 'security', label: 'Security', type: 'select', value: m.security || 'starttls',
          options: [{ value: 'starttls', label: 'STARTTLS' }, { value: 'tls', label: 'TLS' }, { value: 'none', label: 'none (this machine only, with a login)' }] },
        { name: 'user', label: 'Login (empty for none)', value: m.user || '' },
        { name: 'password', label: 'Password', type: 'password' },
        { name: 'from', label: 'From', value: m.from || '' },
        { name: 'to', label: 'To (addresses, separated by commas)', value: (m.to || []).join(', ') }], 'Save');
      if (!a) return;
      const body = { ...a, to: a.to.split(',').map((t) => t.trim()).filter(Boolean) };
      if (await act(() => api('PUT', '/api/notifications/mail', body), 'Mail set')) this.load();
    });
    $('#hook-add', page).addEventListener('click', async () => {
      const a = await ask('Add a webhook', 'Each event is POSTed as JSON, signed in X-Tavri-Signature.', [
        { name: 'name', label: 'Name' }, { name: 'url', label: 'Address (http:// or https://)' }], 'Add');
      if (!a) return;
      const made = await act(() => api('PUT', `/api/notifications/webhooks/${encodeURIComponent(a.name)}`, { url: a.url }));
      if (!made) return;
      await ask(`The webhook "${made.name}"`, `Its secret, shown once, for checking signatures: ${made.secret}`, [], 'Done');
      this.load();
    });
    page.addEventListener('click', async (e) => {
      const b = e.target.closest('button[data-act]');
      if (!b) return;
      const name = b.dataset.name;
      const path = encodeURIComponent(name);
      if (b.dataset.act === 'role') {
        const a = await ask(`The role of ${name}`, 'Their sessions end; they sign in again.', [
          { name: 'role', label: 'Role', type: 'select', options: ROLES, value: b.dataset.role }], 'Change');
        if (a && await act(() => api('PATCH', `/api/users/${path}`, a), `${name} is now ${a.role}`)) this.load();
      } else if (b.dataset.act === 'password') {
        const a = await ask(`A new password for ${name}`, 'Their sessions end.', [{ name: 'password', label: 'Password', type: 'password' }], 'Set');
        if (a) await act(() => api('PATCH', `/api/users/${path}`, a), `Password of ${name} set`);
      } else if (b.dataset.act === 'remove-user') {
        if (await ask(`Remove ${name}?`, 'They can no longer sign in; their sessions end now.', [], 'Remove', null, true)
          && await act(() => api('DELETE', `/api/users/${path}`), `${name} removed`)) this.load();
      } else if (b.dataset.act === 'revoke') {
        if (await ask(`Revoke the token "${name}"?`, 'What uses it is refused from now on.', [], 'Revoke', null, true)
          && await act(() => api('DELETE', `/api/tokens/${path}`), `${name} revoked`)) this.load();
      } else if (b.dataset.act === 'test') {
        b.disabled = true;
        const r = await act(() => api('POST', '/api/notifications/test', { target: name }));
        b.disabled = false;
        if (r) toast(`Test to ${name} delivered (${r.detail})`, true);
        this.load();
      } else if (b.dataset.act === 'remove-hook') {
        if (await act(() => api('DELETE', `/api/notifications/webhooks/${path}`), `Webhook ${name} removed`)) this.load();
      } else if (b.dataset.act === 'remove-mail') {
        if (await act(() => api('DELETE', '/api/notifications/mail'), 'No more mail is sent')) this.load();
      }
    });
    this.load();
  },
  async load() {
    const [users, tokens, notifications] = await Promise.all(['/api/users', '/api/tokens', '/api/notifications']
      .map((p) => api('GET', p).catch((e) => { toast(e.message); return null; })));
    this.notifications = notifications;
    const button = (act, name, text, extra = '') => `<button type="button" class="quiet" data-act="${act}" data-name="${esc(name)}"${extra}>${text}</button>`;
    if (users && $('#users')) $('#users').innerHTML = users.map((u) => `<tr><td>${esc(u.name)}${u.name === session.name ? ' <span class="muted">(you)</span>' : ''}</td>
      <td>${esc(u.role)}</td><td>${esc(when(u.created))}</td>
      <td>${button('role', u.name, 'Role', ` data-role="${esc(u.role)}"`)} ${button('password', u.name, 'Password')} ${button('remove-user', u.name, 'Remove')}</td></tr>`).join('');
    if (tokens && $('#tokens')) $('#tokens').innerHTML = tokens.length ? tokens.map((t) => `<tr><td>${esc(t.name)}</td><td>${esc(t.role)}</td>
      <td>${esc(when(t.created))}</td><td>${esc(when(t.last_used))}</td><td>${button('revoke', t.name, 'Revoke')}</td></tr>`).join('')
      : '<tr><td colspan="5" class="muted">No token yet.</td></tr>';
    if (!notifications || !$('#mail')) return;
    const last = (d) => (d ? `<span class="${d.ok ? 'ok' : 'bad'}">${d.ok ? 'delivered' : 'failed'} ${esc(when(d.time))}: ${esc(d.detail)}</span>` : '<span class="muted">nothing sent yet</span>');
    const m = notifications.mail;
    $('#mail').innerHTML = m ? `<p>${esc(m.server)} (${esc(m.security)}) from ${esc(m.from)} to ${esc(m.to.join(', '))}<br>${last(m.last_delivery)}</p>
      <p>${button('test', 'mail', 'Send a test')} ${button('remove-mail', 'mail', 'Stop mail')}</p>` : '<p class="muted">No mail is sent.</p>';
    $('#hooks').innerHTML = notifications.webhooks.length ? notifications.webhooks.map((h) => `<tr><td>${esc(h.name)}</td><td class="wrap">${esc(h.url)}</td>
      <td>${last(h.last_delivery)}</td><td>${button('test', h.name, 'Send a test')} ${button('remove-hook', h.name, 'Remove')}</td></tr>`).join('')
      : '<tr><td colspan="4" class="muted">No webhook yet.</td></tr>';
  },
};

pages.audit = {
  admin: true,
  build: () => `<h1>Audit</h1>
    <form id="audit-form" class="toolbar">
      <label for="audit-who">Who</label><input id="audit-who" name="who" class="short">
      <label for="audit-operation">Operation</label><input id="audit-operation" name="operation" class="short">
      <label for="audit-since">Since</label><select id="audit-since" name="since">
        <option value="1h">the last hour</option><option value="24h" selected>the last day</option>
        <option value="7d">the last week</option><option value="90d">the last 90 days</option></select>
      <button type="submit" id="audit-show">Show</button>
      <button type="button" id="audit-csv" class="quiet">Export CSV</button>
      <span class="field-error" data-error-for="since"></span>
    </form>
    <p class="muted">Every change through the console, tavri-avctl, the API and the desk, and every sign-in.</p>
    <table class="grid audit"><thead><tr><th>Time</th><th>Who</th><th>From</th><th>Operation</th><th>Result</th><th>Arguments</th></tr></thead>
      <tbody id="audit-rows"></tbody></table>`,
  bind(page) {
    const query = (extra = {}) => {
      const q = new URLSearchParams({ since: $('#audit-since').value, limit: '1000', ...extra });
      for (const f of ['who', 'operation']) if ($(`#audit-${f}`).value.trim()) q.set(f, $(`#audit-${f}`).value.trim());
      return q;
    };
    $('#audit-form', page).addEventListener('submit', (e) => { e.preventDefault(); this.load(query()); });
    $('#audit-csv', page).addEventListener('click', async () => {
      const q = query({ format: 'csv' });
      const csv = await act(() => api('GET', `/api/audit?${q}`), null, $('#audit-form'));
      if (csv === null) return;
      const a = document.createElement('a');
      a.href = URL.createObjectURL(new Blob([csv], { type: 'text/csv' }));
      a.download = `audit_${today()}.csv`;
      document.body.append(a);
      a.click();
      a.remove();
      toast(`${a.download} saved`, true);
    });
    this.load(query());
  },
  async load(q) {
    const rows = await act(() => api('GET', `/api/audit?${q}`), null, $('#audit-form'));
    if (!rows || !$('#audit-rows')) return;
    $('#audit-rows').innerHTML = rows.length ? rows.map((r) => `<tr><td>${esc(new Date(r.time).toLocaleString())}</td>
      <td>${esc(r.who)}</td><td>${esc(r.address)}</td><td>${esc(r.operation)}</td>
      <td class="${r.result.startsWith('refused') ? 'bad' : 'ok'}">${esc(r.result)}</td><td class="wrap">${esc(r.arguments)}</td></tr>`).join('')
      : '<tr><td colspan="6" class="muted">Nothing in this time.</td></tr>';
  },
};

// The web console: every page calls the server's JSON API, and the API's
// event stream keeps what is shown current (no reloads, no polling).
import { api, hooks, session } from './api.js';
import { leave, loaders, lockForViewer, refresh, show } from './app.js';
import { listen, setLive, showAnnouncement, stopListening } from './events.js';
import { $, $$, ago, toast } from './ui.js';
import './page-dashboard.js';
import './page-players.js';
import './page-playlists.js';
import './page-content.js';
import './page-schedules.js';
import './page-history.js';
import './page-admin.js';
import { offerSites } from './page-sites.js';

function showLogin(message = '') {
  stopListening();
  session.csrf = '';
  $('#top').hidden = true;
  $('#announcement').hidden = true;
  $('#toast').hidden = true;
  $('#page').innerHTML = '';
  leave();
  $('#login').hidden = false;
  $('#password-error').textContent = message;
  ($('#user').value ? $('#password') : $('#user')).focus();
}
hooks.signedOut = showLogin;
hooks.stale = () => { refresh('playlists'); refresh('schedules'); };

async function start(signedIn) {
  Object.assign(session, { csrf: signedIn.csrf, name: signedIn.name || 'admin', role: signedIn.role || 'viewer' });
  document.body.dataset.role = session.role;
  $('#me').textContent = `${session.name} (${session.role})`;
  $$('header nav a[data-admin]').forEach((a) => { a.hidden = session.role !== 'admin'; });
  lockForViewer();
  $('#login').hidden = true;
  $('#top').hidden = false;
  listen();
  await Promise.all(['players', 'groups', 'playlists', 'schedules', 'content', 'ready', 'alerts']
    .map((w) => loaders[w]().catch((e) => toast(e.message))));
  await offerSites();
  show(location.hash.slice(1));
  setLive();
  showAnnouncement();
}

$('#login-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  const input = $('#password');
  const name = $('#user').value.trim();
  input.removeAttribute('aria-invalid');
  try {
    const r = await api('POST', '/api/login', name ? { name, password: input.value } : { password: input.value });
    input.value = '';
    start(r);
  } catch (error) {
    input.setAttribute('aria-invalid', 'true');
    $('#password-error').textContent = error.message;
    input.select();
  }
});
$('#sign-out').addEventListener('click', async () => {
  await api('POST', '/api/logout').catch(() => null);
  showLogin('Signed out.');
});
window.addEventListener('hashchange', () => { if (session.csrf) show(location.hash.slice(1)); });
// A page kept for the back button would hold its stream open, and the
// browser gives a server only six connections: it closes, and opens again
// (catching up) when the page comes back.
window.addEventListener('pagehide', () => stopListening());
window.addEventListener('pageshow', (e) => {
  if (e.persisted && session.csrf) {
    listen();
    ['players', 'groups', 'playlists', 'schedules', 'content', 'ready'].forEach((w) => refresh(w, 0));
  }
});
// "12 s ago" moves on by itself, without asking the server.
setInterval(() => $$('td.ago').forEach((td) => { td.textContent = ago(td.dataset.time); }), 1000);
const signedIn = await fetch('/api/session', { credentials: 'same-origin' }).then((r) => r.json()).catch(() => null);
if (signedIn?.signed_in) start(signedIn);
else showLogin(signedIn && !signedIn.password_set ? 'No account is made yet: run "tavri-avctl user add NAME --role admin" on the server.' : '');

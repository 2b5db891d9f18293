// The server's JSON API as the pages call it: the session's CSRF token, the
// versions lists were read at, and errors as the API words them.

export class ApiError extends Error {
  constructor(status, message, field) {
    super(message);
    this.status = status;
    this.field = field || '';
  }
}

// Who is signed in and the token their changes carry.
export const session = { csrf: '', name: '', role: 'viewer' };

// What a caller does when the session ended (401) or a list changed under it (412).
export const hooks = { signedOut: () => {}, stale: () => {} };

// The version each playlist and schedule was read at: a change is sent
// against it, and the server refuses it (412) when another browser, the
// window or a script changed the list meanwhile.
const etags = new Map();
const resourceOf = (path) => (path.match(/^\/api\/(playlists|schedules)\/\d+/) || [null])[0];
export function noteVersions(kind, lists) {
  for (const l of lists) if (l.etag) etags.set(`/api/${kind}/${l.id}`, l.etag);
}

export async function api(method, path, body) {
  const headers = {};
  if (method !== 'GET') headers['X-CSRF-Token'] = session.csrf;
  const resource = resourceOf(path);
  if (resource && (method === 'PUT' || method === 'PATCH' || method === 'DELETE') && etags.has(resource))
    headers['If-Match'] = etags.get(resource);
  const init = { method, headers, credentials: 'same-origin' };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch {
    throw new ApiError(0, 'The server cannot be reached.');
  }
  const type = response.headers.get('Content-Type') || '';
  const data = type.startsWith('application/json') ? await response.json() : await response.text();
  if (response.status === 401 && path !== '/api/login') hooks.signedOut('Your session ended: sign in again.');
  const tag = response.headers.get('ETag');
  if (resource && tag) etags.set(resource, tag);
  // Shown, not applied: what is there now is fetched for the operator.
  if (response.status === 412) hooks.stale();
  if (!response.ok) throw new ApiError(response.status, data.error || `The server answered ${response.status}.`, data.field);
  if (method === 'DELETE' && resource) etags.delete(resource);
  return data;
}

// What every page uses to show things and ask things: no state, no server.

export const $ = (selector, root = document) => root.querySelector(selector);
export const $$ = (selector, root = document) => [...root.querySelectorAll(selector)];
export const esc = (text) => String(text ?? '').replace(/[&<>"']/g, (c) => ({
  '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;',
}[c]));

let toastTimer = 0;
export function toast(message, ok = false) {
  const box = $('#toast');
  box.textContent = message;
  box.classList.toggle('ok', ok);
  box.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { box.hidden = true; }, ok ? 3000 : 8000);
}

// A failed action: said next to the field the API names, or as a toast.
export function failed(error, form) {
  const field = form && error.field ? form.querySelector(`[name="${CSS.escape(error.field)}"]`) : null;
  if (field) {
    field.setAttribute('aria-invalid', 'true');
    const note = form.querySelector(`[data-error-for="${CSS.escape(error.field)}"]`);
    if (note) note.textContent = error.message;
    field.focus();
  }
  toast(`${error.message}${error.field && !field ? ` (${error.field})` : ''}`);
}

function clearErrors(form) {
  $$('[aria-invalid]', form).forEach((f) => f.removeAttribute('aria-invalid'));
  $$('[data-error-for]', form).forEach((n) => { n.textContent = ''; });
}

// Runs an action; says when it worked, or why not.
export async function act(what, done, form) {
  if (form) clearErrors(form);
  try {
    const result = await what();
    if (done) toast(done, true);
    return result ?? true;
  } catch (error) {
    failed(error, form);
    return null;
  }
}

// A question in a dialog: fields [{name, label, value, type, options}] or
// none; resolves with the answers, or null when cancelled. `check` may
// refuse the answers with a message; the dialog stays open then.
export function ask(title, text, fields = [], okText = 'OK', check = null, danger = false) {
  const dialog = $('#ask');
  $('#ask-title').textContent = title;
  $('#ask-text').textContent = text;
  $('#ask-error').textContent = '';
  const ok = $('#ask-ok');
  ok.textContent = okText;
  ok.classList.toggle('danger', danger);
  $('#ask-fields').innerHTML = fields.map((f, i) => {
    const id = `ask-field-${i}`;
    if (f.type === 'select')
      return `<label for="${id}">${esc(f.label)}</label><select id="${id}" name="${esc(f.name)}">${
        f.options.map((o) => `<option value="${esc(o.value)}"${o.value === f.value ? ' selected' : ''}>${esc(o.label)}</option>`).join('')}</select>`;
    if (f.type === 'checkbox')
      return `<label><input id="${id}" name="${esc(f.name)}" type="checkbox"${f.value ? ' checked' : ''}> ${esc(f.label)}</label>`;
    return `<label for="${id}">${esc(f.label)}</label><input id="${id}" name="${esc(f.name)}" type="${f.type || 'text'}" value="${esc(f.value ?? '')}">`;
  }).join('');
  return new Promise((resolve) => {
    const form = $('#ask-form');
    const finish = (answer) => {
      form.onsubmit = null;
      $('#ask-cancel').onclick = null;
      dialog.oncancel = null;
      dialog.close();
      resolve(answer);
    };
    form.onsubmit = async (event) => {
      event.preventDefault();
      const answers = {};
      fields.forEach((f, i) => {
        const input = $(`#ask-field-${i}`);
        answers[f.name] = f.type === 'checkbox' ? input.checked : input.value;
      });
      const refusal = check ? await check(answers) : null;
      if (refusal) {
        $('#ask-error').textContent = refusal;
        return;
      }
      finish(answers);
    };
    $('#ask-cancel').onclick = () => finish(null);
    dialog.oncancel = (event) => { event.preventDefault(); finish(null); };
    dialog.showModal();
    // A default is chosen whole: typing replaces it.
    const first = fields.length ? $('#ask-field-0') : ok;
    first.focus();
    first.select?.();
  });
}

// A long name as its start and its end, which tell players apart best: the
// end is where "SIM-0012" and "OFF-0012" differ, so it keeps more.
export function shortName(name, max = 15) {
  if (name.length <= max) return name;
  const tail = Math.ceil((max - 1) * 0.6);
  return `${name.slice(0, max - 1 - tail)}…${name.slice(-tail)}`;
}

export function ago(iso) {
  if (!iso) return 'never';
  const s = Math.max(0, Math.round((Date.now() - Date.parse(iso)) / 1000));
  if (s < 60) return `${s} s ago`;
  if (s < 3600) return `${Math.floor(s / 60)} min ago`;
  if (s < 86400) return `${Math.floor(s / 3600)} h ago`;
  return `${Math.floor(s / 86400)} d ago`;
}

// The size as the folder records it ("0.00 MB" for anything under 5 KB):
// shown as a size, not as nothing.
export function sizeText(recorded) {
  if (!recorded || recorded === 'NONE') return '';
  const mb = parseFloat(recorded);
  return mb === 0 ? 'under 0.01 MB' : recorded;
}

// Seconds as "1:05" or "1:02:05".
export function duration(seconds) {
  const s = Math.round(Number(seconds) || 0);
  const hms = [Math.floor(s / 3600), Math.floor((s % 3600) / 60), s % 60];
  const text = hms.map((n) => String(n).padStart(2, '0')).join(':');
  return hms[0] ? text.replace(/^0/, '') : text.slice(3).replace(/^0/, '');
}

// Today as the date fields and the server take it.
export const today = () => new Date().toISOString().slice(0, 10);

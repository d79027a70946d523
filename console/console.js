// The web console: one page per hash route (#/network, ...), each filled from
// the device's HTTP API when it is shown.
import {
  ApiError, call, isLatin1, kMaxImageBytes, kMinImageBytes, onSessionEnded, session, uploadFirmware,
} from './api.js';

const $ = (id) => document.getElementById(id);
const kReturnKey = 'nolva.returnTo';
const kMaxNameLength = 16;
const kMaxPasswordLength = 32;
// After a reboot is due, the health check is polled this often and for at
// most this long; a device seen answering without a break for kSettleMs
// has restarted too quickly to be seen down (or never goes down, as on a
// simulated board).
const kPollIntervalMs = 2000;
const kPollTimeoutMs = 3000;
const kPollLimitMs = 5 * 60 * 1000;
const kSettleMs = 15000;

// ---------------------------------------------------------------------------
// Messages in place

function show(element, text) {
  element.textContent = text || '';
  element.hidden = !text;
}

function fieldError(input, text) {
  show($(`${input.id}-error`), text);
  if (text) {
    input.setAttribute('aria-invalid', 'true');
  } else {
    input.removeAttribute('aria-invalid');
  }
}

function clearMessages(container) {
  for (const element of container.querySelectorAll('.field-error, .error, .done')) show(element, '');
  for (const input of container.querySelectorAll('[aria-invalid]')) input.removeAttribute('aria-invalid');
}

// The service's own sentence, with the library's status when it gave one.
function describe(error) {
  const text = error.message.charAt(0).toUpperCase() + error.message.slice(1);
  const sentence = /[.!?]$/.test(text) ? text : `${text}.`;
  if (!(error instanceof ApiError) || !error.status) return sentence;
  return `${sentence} (${error.status}, ${error.code})`;
}

// Puts the first field with an error in focus, so that a keyboard user lands
// on what to fix. Returns whether there was one.
function focusFirstError(form) {
  const invalid = form.querySelector('[aria-invalid="true"]');
  if (invalid) invalid.focus();
  return Boolean(invalid);
}

// Keeps `button` disabled while the service's throttle lasts, counting down
// in `element`.
const countdowns = new Map();  // element -> interval
const throttledButtons = new Set();
function throttled(element, button, seconds, what) {
  clearInterval(countdowns.get(element));
  let left = Math.max(1, seconds);
  const tick = () => {
    if (left <= 0) {
      clearInterval(countdowns.get(element));
      countdowns.delete(element);
      throttledButtons.delete(button);
      button.disabled = false;
      show(element, `You may ${what} again now.`);
      return;
    }
    show(element, `Too many failed attempts from this computer. Wait ${left} s, then ${what} again.`);
    left -= 1;
  };
  throttledButtons.add(button);
  button.disabled = true;
  tick();
  countdowns.set(element, setInterval(tick, 1000));
}

// Runs `work` with a button disabled, so that one press sends one request.
async function busy(button, work) {
  button.disabled = true;
  try {
    await work();
  } finally {
    if (!throttledButtons.has(button)) button.disabled = false;
  }
}

// ---------------------------------------------------------------------------
// Input checks: the device's rules for names, passwords, addresses and ports

function nameProblem(name) {
  if (!name) return 'Type the account name.';
  if ([...name].length > kMaxNameLength) return `A name has at most ${kMaxNameLength} characters; shorten it.`;
  if (name.includes(':')) return 'A name cannot hold a colon (:); remove it.';
  if (/[\u0000-\u001f\u007f-\u009f]/.test(name)) return 'A name cannot hold control characters; remove them.';
  if (!isLatin1(name)) return 'Use only Latin letters, digits and Western European characters in a name.';
  return '';
}

function passwordProblem(password, {allowEmpty = false} = {}) {
  if (!password && !allowEmpty) return 'Type a password.';
  if ([...password].length > kMaxPasswordLength) {
    return `A password has at most ${kMaxPasswordLength} characters; shorten it.`;
  }
  if (!isLatin1(password)) return 'Use only Latin letters, digits, punctuation and Western European characters in a password.';
  return '';
}

// Checks a new password typed twice; true when both are fine.
function checkNewPassword(input, repeat) {
  const problem = passwordProblem(input.value);
  fieldError(input, problem);
  fieldError(repeat, !problem && input.value !== repeat.value ? 'The two passwords differ; type the same one twice.' : '');
  return !problem && input.value === repeat.value;
}

// "192.168.0.1" as four bytes, or null.
function parseQuad(text) {
  const match = /^(0|[1-9]\d{0,2})\.(0|[1-9]\d{0,2})\.(0|[1-9]\d{0,2})\.(0|[1-9]\d{0,2})$/.exec(text.trim());
  if (!match) return null;
  const bytes = match.slice(1).map(Number);
  return bytes.every((b) => b <= 255) ? bytes : null;
}

function contiguousNetmask(bytes) {
  const mask = ((bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3]) >>> 0;
  const hostBits = ~mask >>> 0;
  return ((hostBits + 1) & hostBits) === 0;
}

function parsePort(text, enabled) {
  const trimmed = text.trim();
  if (!/^\d{1,5}$/.test(trimmed)) return null;
  const port = Number(trimmed);
  return port <= 65535 && (port >= 1 || !enabled) ? port : null;
}

// ---------------------------------------------------------------------------
// Pages and routing

const pages = {};
let pendingNotice = '';

function notice(text) {
  pendingNotice = text;
}

function currentPage() {
  const name = location.hash.replace(/^#\/?/, '');
  return name || 'overview';
}

function go(name) {
  if (currentPage() === name) {
    route();
  } else {
    location.hash = `#/${name}`;
  }
}

function sessionEnded(text) {
  // Several requests of one page may find the session gone; the first says so.
  if (!session.load()) return;
  const page = currentPage();
  if (!pages[page]?.public) sessionStorage.setItem(kReturnKey, page);
  session.clear();
  notice(text);
  go('sign-in');
}

onSessionEnded(() =>
  sessionEnded('Your session has ended: it was idle too long, signed out elsewhere, or its password changed. Sign in again.'));

function route() {
  const name = currentPage();
  const page = pages[name];
  const current = session.load();
  if (page && !page.public && !current) {
    sessionStorage.setItem(kReturnKey, name);
    go('sign-in');
    return;
  }
  const signedIn = Boolean(current) && !(page && page.public);
  $('nav').hidden = !signedIn;
  $('account').hidden = !signedIn;
  $('account-user').textContent = current ? `Signed in as ${current.user}` : '';
  for (const link of $('nav').querySelectorAll('a')) {
    if (link.getAttribute('href') === `#/${name}`) {
      link.setAttribute('aria-current', 'page');
    } else {
      link.removeAttribute('aria-current');
    }
  }
  for (const section of document.querySelectorAll('[data-page]')) section.hidden = true;
  const section = $(`page-${page ? name : 'not-found'}`);
  section.hidden = false;
  show($('notice'), pendingNotice);
  pendingNotice = '';
  document.title = `${section.querySelector('h1').textContent} · nolva`;
  section.querySelector('h1').focus();
  if (page) page.enter();
}

// ---------------------------------------------------------------------------
// Sign in, sign out

pages['sign-in'] = {
  public: true,
  enter() {
    clearMessages($('page-sign-in'));
    const user = $('sign-in-user');
    if (user.value) {
      $('sign-in-password').focus();
    } else {
      user.focus();
    }
  },
};

$('sign-in-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const user = $('sign-in-user').value;
  const password = $('sign-in-password').value;
  const error = $('sign-in-error');
  const problem = nameProblem(user) || passwordProblem(password, {allowEmpty: true});
  show(error, problem);
  if (problem) return;
  await busy($('sign-in-submit'), async () => {
    try {
      const {body} = await call('POST', '/api/session', {json: {user, password}, noSession: true});
      session.save(body.user, body.csrfToken);
      $('sign-in-password').value = '';
      show(error, '');
      const target = sessionStorage.getItem(kReturnKey) || 'overview';
      sessionStorage.removeItem(kReturnKey);
      go(target);
    } catch (e) {
      if (e.error === 'throttled') {
        throttled(error, $('sign-in-submit'), e.retryAfter, 'sign in');
      } else if (e.error === 'auth-failed') {
        show(error, 'The account name or password is wrong, or the account is not admin. Check both and try again.');
        $('sign-in-password').select();
      } else {
        show(error, describe(e));
      }
    }
  });
});

async function signOut(path, text) {
  try {
    await call('DELETE', path, {noSession: true});
  } catch (e) {
    if (e.httpStatus !== 401) {
      show($('notice'), `${describe(e)} You are still signed in.`);
      return;
    }
  }
  session.clear();
  notice(text);
  go('sign-in');
}

$('sign-out').addEventListener('click', () => signOut('/api/session', 'You are signed out.'));
$('sign-out-everywhere').addEventListener('click', () =>
  signOut('/api/sessions', 'You are signed out, and so is every other session on this device.'));

// ---------------------------------------------------------------------------
// Change my password: an account's own Basic credentials, no session

pages['my-password'] = {
  public: true,
  enter() {
    clearMessages($('page-my-password'));
  },
};

$('my-password-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  clearMessages(form);
  const [user, current, fresh, repeat] = ['my-user', 'my-current', 'my-new', 'my-repeat'].map($);
  fieldError(user, nameProblem(user.value));
  fieldError(current, passwordProblem(current.value, {allowEmpty: true}));
  checkNewPassword(fresh, repeat);
  if (focusFirstError(form)) return;
  const error = $('my-password-error');
  await busy($('my-password-submit'), async () => {
    try {
      await call('PUT', `/api/users/${encodeURIComponent(user.value)}/password`,
                 {json: {password: fresh.value}, basic: {user: user.value, password: current.value}});
      for (const input of [current, fresh, repeat]) input.value = '';
      show($('my-password-done'), `The password of ${user.value} is changed. Use the new one from now on.`);
    } catch (e) {
      if (e.error === 'throttled') {
        throttled(error, $('my-password-submit'), e.retryAfter, 'try');
      } else if (e.error === 'auth-failed') {
        show(error, 'The account name or current password is wrong. Check both and try again.');
      } else if (e.error === 'no-such-user') {
        fieldError(user, `There is no account ${user.value}. Check the name.`);
        user.focus();
      } else {
        show(error, describe(e));
      }
    }
  });
});

// ---------------------------------------------------------------------------
// Overview

// A partition's name field; erased flash reads as 0xFF bytes.
function versionText(name) {
  if (!name) return '(no image)';
  if (/^\u00ff+$/.test(name)) return '(erased: no image)';
  return name;
}

// What the device object's failure list says of one operation, in place of
// the part it reads.
const kParts = {
  GetMacAddress: 'The MAC address',
  GetFirmwareVersions: 'The firmware versions',
  GetUsbPorts: 'The USB ports',
};
function failureText(device, operation) {
  const failure = (device.failures || []).find((f) => f.operation === operation);
  const status = failure && failure.status ? ` (${failure.status}, ${failure.code})` : '';
  return `${kParts[operation]} could not be read${status}. Reload the page to try again; ` +
         'if this stays, the device needs service.';
}

function showFailed(element, text) {
  element.textContent = text;
  element.classList.add('failed');
}

function showValue(element, text) {
  element.textContent = text;
  element.classList.remove('failed');
}

pages.overview = {
  async enter() {
    const error = $('overview-error');
    show(error, '');
    const parts = ['overview-mac', 'overview-os', 'overview-fs'].map($);
    for (const part of parts) showValue(part, 'Reading…');
    $('overview-usb').replaceChildren();
    let device;
    try {
      ({body: device} = await call('GET', '/api/device'));
    } catch (e) {
      for (const part of parts) showValue(part, '');
      show(error, describe(e));
      return;
    }
    const [mac, os, fs] = parts;
    if (device.mac === null) {
      showFailed(mac, failureText(device, 'GetMacAddress'));
    } else {
      showValue(mac, device.mac);
    }
    if (device.firmware === null) {
      showFailed(os, failureText(device, 'GetFirmwareVersions'));
      showFailed(fs, failureText(device, 'GetFirmwareVersions'));
    } else {
      showValue(os, versionText(device.firmware.os));
      showValue(fs, versionText(device.firmware.fs));
    }
    const list = $('overview-usb');
    if (device.usbPorts === null) {
      const item = document.createElement('li');
      showFailed(item, failureText(device, 'GetUsbPorts'));
      list.append(item);
      return;
    }
    for (const port of device.usbPorts) {
      const item = document.createElement('li');
      item.textContent = `Port ${port.port}: ${port.product || 'nothing plugged in'}`;
      list.append(item);
    }
    if (!device.usbPorts.length) list.append(Object.assign(document.createElement('li'), {textContent: 'No USB ports.'}));
  },
};

// ---------------------------------------------------------------------------
// Network

const network = {etag: null, stored: null};

function fillNetwork(record, etag) {
  network.stored = record;
  network.etag = etag;
  $(record.dhcp ? 'network-dhcp' : 'network-static').checked = true;
  $('network-address').value = record.address;
  $('network-netmask').value = record.netmask;
  $('network-gateway').value = record.gateway;
}

async function loadNetwork() {
  const {body, etag} = await call('GET', '/api/network');
  fillNetwork(body, etag);
}

pages.network = {
  async enter() {
    clearMessages($('network-form'));
    try {
      await loadNetwork();
    } catch (e) {
      show($('network-error'), describe(e));
    }
  },
};

$('network-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  clearMessages(form);
  const [address, netmask, gateway] = ['network-address', 'network-netmask', 'network-gateway'].map($);
  const quadProblem = (input, what) =>
    parseQuad(input.value) ? '' : `Type the ${what} as four numbers from 0 to 255 with dots between them, like 192.168.0.10.`;
  fieldError(address, quadProblem(address, 'address'));
  const mask = parseQuad(netmask.value);
  fieldError(netmask, quadProblem(netmask, 'netmask') ||
             (contiguousNetmask(mask) ? '' : 'A netmask has its ones first, then its zeros only, like 255.255.255.0.'));
  fieldError(gateway, quadProblem(gateway, 'gateway'));
  if (focusFirstError(form)) return;
  if (!network.stored) {
    show($('network-error'), 'The stored settings could not be read. Reload the page, then make your change.');
    return;
  }
  const dhcp = $('network-dhcp').checked;
  const change = {address: address.value.trim(), netmask: netmask.value.trim(), gateway: gateway.value.trim()};
  // The stored word stays as it is unless the choice changed.
  if (dhcp !== Boolean(network.stored.dhcp)) change.dhcp = dhcp;
  await busy($('network-save'), async () => {
    try {
      const {body, etag} = await call('PATCH', '/api/network',
                                      {json: change, contentType: 'application/merge-patch+json', etag: network.etag});
      fillNetwork(body, etag);
      show($('network-done'), 'Saved. The device takes these settings at its next start.');
    } catch (e) {
      if (e.error === 'precondition-failed') {
        await loadNetwork().catch(() => {});
        show($('network-error'),
             'The network settings were changed elsewhere meanwhile. The stored settings are shown now: make your change again, then save.');
      } else {
        show($('network-error'), describe(e));
      }
    }
  });
});

// ---------------------------------------------------------------------------
// Services: the primary and secondary service (one record), OCP (another)

const kServices = [
  {key: 'primary', label: 'primary service', record: 'service', enabled: 'primaryEnabled', port: 'primaryPort'},
  {key: 'secondary', label: 'secondary service', record: 'service', enabled: 'secondaryEnabled', port: 'secondaryPort'},
  {key: 'ocp', label: 'OCP service', record: 'ocp', enabled: 'ocpEnabled', port: 'ocpPort'},
];
const kRecords = {service: {path: '/api/service', label: 'service settings'}, ocp: {path: '/api/ocp', label: 'OCP settings'}};
const stored = {service: null, ocp: null};
const etags = {service: null, ocp: null};

function fillRecord(name, record, etag) {
  stored[name] = record;
  etags[name] = etag;
  for (const service of kServices.filter((s) => s.record === name)) {
    $(`${service.key}-enabled`).checked = record[service.enabled] !== 0;
    $(`${service.key}-port`).value = String(record[service.port]);
  }
}

async function loadRecord(name) {
  const {body, etag} = await call('GET', kRecords[name].path);
  fillRecord(name, body, etag);
}

// The records as the form would have them: every other word as stored, an
// enabled word kept unless its switch changed. Null when a port is invalid.
function recordsFromForm() {
  const records = {service: {...stored.service}, ocp: {...stored.ocp}};
  let valid = true;
  for (const service of kServices) {
    const enabled = $(`${service.key}-enabled`).checked;
    const input = $(`${service.key}-port`);
    const port = parsePort(input.value, enabled);
    fieldError(input, port === null
                          ? (enabled ? 'Type a port from 1 to 65535.' : 'Type a port from 0 to 65535.')
                          : '');
    if (port === null) valid = false;
    const record = records[service.record];
    if (enabled !== (record[service.enabled] !== 0)) record[service.enabled] = enabled ? 1 : 0;
    record[service.port] = port;
  }
  return valid ? records : null;
}

// Marks the fields of enabled services that share a port; true when any do.
function markClashes() {
  const enabled = kServices.filter((s) => $(`${s.key}-enabled`).checked);
  let any = false;
  for (const service of enabled) {
    const port = $(`${service.key}-port`).value.trim();
    const others = enabled.filter((o) => o !== service && $(`${o.key}-port`).value.trim() === port);
    if (!others.length) continue;
    any = true;
    fieldError($(`${service.key}-port`),
               `Port ${port} is also used by the ${others.map((o) => o.label).join(' and ')}. ` +
               'Choose another port, or switch one of them off.');
  }
  return any;
}

pages.services = {
  async enter() {
    clearMessages($('services-form'));
    try {
      await Promise.all([loadRecord('service'), loadRecord('ocp')]);
    } catch (e) {
      show($('services-error'), describe(e));
    }
  },
};

async function saveRecord(name, record) {
  const {body, etag} = await call('PUT', kRecords[name].path, {json: record, etag: etags[name]});
  fillRecord(name, body, etag);
}

$('services-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  clearMessages(form);
  if (!stored.service || !stored.ocp) {
    show($('services-error'), 'The stored settings could not be read. Reload the page, then make your change.');
    return;
  }
  const records = recordsFromForm();
  if (!records) {
    focusFirstError(form);
    return;
  }
  const changed = Object.keys(records).filter((name) => JSON.stringify(records[name]) !== JSON.stringify(stored[name]));
  if (!changed.length) {
    show($('services-done'), 'Nothing to save: the settings are as stored.');
    return;
  }
  await busy($('services-save'), async () => {
    let order = changed;
    const saved = [];
    for (let attempt = 0; ; attempt += 1) {
      try {
        for (const name of order.filter((n) => !saved.includes(n))) {
          await saveRecord(name, records[name]);
          saved.push(name);
        }
        show($('services-done'), 'Saved.');
        return;
      } catch (e) {
        // Moving a port from one record to the other can clash only in one
        // order: try the other once.
        if (e.error === 'port-conflict' && attempt === 0 && changed.length === 2 && !saved.length) {
          order = [...changed].reverse();
          continue;
        }
        await servicesFailed(e, records, saved);
        return;
      }
    }
  });
});

async function servicesFailed(error, records, saved) {
  const what = saved.length ? `The ${kRecords[saved[0]].label} were saved, the others were not. ` : '';
  if (error.error === 'precondition-failed') {
    await Promise.all([loadRecord('service'), loadRecord('ocp')]).catch(() => {});
    show($('services-error'),
         `${what}The service settings were changed elsewhere meanwhile. The stored settings are shown now: make your change again, then save.`);
    return;
  }
  if (error.error === 'port-conflict') {
    // The stored values of a record left unedited may have changed elsewhere;
    // show them, keep the edits, and point at the fields that clash.
    for (const name of Object.keys(kRecords)) {
      if (saved.includes(name) || JSON.stringify(records[name]) === JSON.stringify(stored[name])) {
        await loadRecord(name).catch(() => {});
      }
    }
    markClashes();
    show($('services-error'), `${what}${describe(error)}`);
    focusFirstError($('services-form'));
    return;
  }
  show($('services-error'), `${what}${describe(error)}`);
}

// ---------------------------------------------------------------------------
// Accounts

let accountTarget = '';

function accountButton(text, label, onClick) {
  const button = document.createElement('button');
  button.type = 'button';
  button.textContent = text;
  button.setAttribute('aria-label', label);
  button.addEventListener('click', onClick);
  return button;
}

async function loadAccounts() {
  const {body} = await call('GET', '/api/users');
  const rows = body.users.map((name) => {
    const row = document.createElement('tr');
    const cell = document.createElement('td');
    cell.textContent = name;
    const actions = document.createElement('td');
    actions.className = 'actions';
    actions.append(
        accountButton('Change password', `Change the password of ${name}`, () => askPassword(name)),
        accountButton('Delete', `Delete ${name}`, () => askDelete(name)));
    row.append(cell, actions);
    return row;
  });
  $('accounts-list').replaceChildren(...rows);
}

function closeAccountForms() {
  $('delete-form').hidden = true;
  $('password-form').hidden = true;
}

pages.accounts = {
  async enter() {
    clearMessages($('page-accounts'));
    closeAccountForms();
    try {
      await loadAccounts();
    } catch (e) {
      show($('accounts-error'), describe(e));
    }
  },
};

function askDelete(name) {
  closeAccountForms();
  clearMessages($('page-accounts'));
  accountTarget = name;
  const isAdmin = name === 'admin';
  $('delete-title').textContent = `Delete the account ${name}?`;
  $('delete-text').textContent = isAdmin
    ? 'admin is the only account that can manage this device, this console included.'
    : `${name} can no longer change its password. This cannot be undone.`;
  $('delete-admin').hidden = !isAdmin;
  $('delete-admin-understood').checked = false;
  $('delete-confirm').textContent = isAdmin ? 'Delete admin' : `Delete ${name}`;
  $('delete-form').hidden = false;
  $('delete-title').focus();
}

$('delete-cancel').addEventListener('click', () => {
  closeAccountForms();
  $('accounts-list').querySelector('button')?.focus();
});

$('delete-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const name = accountTarget;
  const isAdmin = name === 'admin';
  if (isAdmin && !$('delete-admin-understood').checked) {
    show($('delete-error'), 'Tick the box above to confirm that admin is to be deleted, or cancel.');
    $('delete-admin-understood').focus();
    return;
  }
  await busy($('delete-confirm'), async () => {
    try {
      await call('DELETE', `/api/users/${encodeURIComponent(name)}${isAdmin ? '?force=true' : ''}`);
      closeAccountForms();
      show($('accounts-done'), `The account ${name} is deleted.`);
    } catch (e) {
      if (e.error === 'no-such-user') {
        closeAccountForms();
        show($('accounts-error'), `There is no account ${name} any more; the list is up to date now.`);
      } else {
        show($('delete-error'), describe(e));
        return;
      }
    }
    await loadAccounts().catch((e) => show($('accounts-error'), describe(e)));
  });
});

function askPassword(name) {
  closeAccountForms();
  clearMessages($('page-accounts'));
  accountTarget = name;
  $('password-title').textContent = `New password for ${name}`;
  for (const id of ['password-new', 'password-repeat', 'password-confirm']) $(id).value = '';
  $('password-form').hidden = false;
  $('password-new').focus();
}

$('password-cancel').addEventListener('click', closeAccountForms);

// A wrong confirmation password: said at its field; the session stays.
function confirmFailed(e, input, errorElement, button, what) {
  if (e.error === 'confirm-password') {
    fieldError(input, `This is not the password of ${session.load()?.user ?? 'your account'}. Type your own password again.`);
    input.select();
    return true;
  }
  if (e.error === 'throttled') {
    throttled(errorElement, button, e.retryAfter, what);
    return true;
  }
  return false;
}

$('password-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  clearMessages(form);
  const [fresh, repeat, confirm] = ['password-new', 'password-repeat', 'password-confirm'].map($);
  checkNewPassword(fresh, repeat);
  fieldError(confirm, confirm.value ? passwordProblem(confirm.value) : 'Type your own password to confirm the change.');
  if (focusFirstError(form)) return;
  const name = accountTarget;
  await busy($('password-save'), async () => {
    try {
      await call('PUT', `/api/users/${encodeURIComponent(name)}/password`,
                 {json: {password: fresh.value}, confirmPassword: confirm.value});
      closeAccountForms();
      show($('accounts-done'), `The password of ${name} is changed.`);
    } catch (e) {
      if (confirmFailed(e, confirm, $('password-error'), $('password-save'), 'confirm')) return;
      show($('password-error'), describe(e));
    }
  });
});

$('add-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  clearMessages(form);
  clearMessages($('page-accounts'));
  const [name, password, repeat] = ['add-name', 'add-password', 'add-repeat'].map($);
  fieldError(name, nameProblem(name.value));
  checkNewPassword(password, repeat);
  if (focusFirstError(form)) return;
  await busy($('add-submit'), async () => {
    try {
      await call('POST', '/api/users', {json: {name: name.value, password: password.value}});
      show($('accounts-done'), `The account ${name.value} is added.`);
      for (const input of [name, password, repeat]) input.value = '';
      await loadAccounts();
    } catch (e) {
      if (e.error === 'user-exists') {
        fieldError(name, `An account ${name.value} exists already. Choose another name.`);
        name.focus();
      } else if (e.error === 'user-table-full') {
        show($('add-error'), 'The device holds no more accounts. Delete one first.');
      } else {
        show($('add-error'), describe(e));
      }
    }
  });
});

// ---------------------------------------------------------------------------
// Firmware

const kPartitions = {'nolva-os': 'OS partition', 'nolva-fs': 'FS partition'};
let firmwareFile = null;

function showVersions(versions) {
  $('firmware-os').textContent = versionText(versions.os);
  $('firmware-fs').textContent = versionText(versions.fs);
}

pages.firmware = {
  async enter() {
    clearMessages($('page-firmware'));
    try {
      const {body} = await call('GET', '/api/device/firmware');
      showVersions(body);
    } catch (e) {
      for (const id of ['firmware-os', 'firmware-fs']) $(id).textContent = '';
      show($('firmware-error'), describe(e));
    }
  },
};

// The name field as text: Latin-1 up to its first NUL, other control
// characters shown as dots.
function nameFieldText(bytes) {
  let text = '';
  for (const b of bytes) {
    if (b === 0) break;
    text += b < 0x20 || (b >= 0x7f && b < 0xa0) ? '·' : String.fromCharCode(b);
  }
  return text;
}

function formatBytes(count) {
  if (count < 1024) return `${count} bytes`;
  if (count < 1024 * 1024) return `${(count / 1024).toFixed(1)} KiB (${count} bytes)`;
  return `${(count / 1024 / 1024).toFixed(1)} MiB (${count} bytes)`;
}

$('firmware-file').addEventListener('change', async (event) => {
  const input = event.target;
  clearMessages($('firmware-form'));
  firmwareFile = null;
  $('firmware-image').hidden = true;
  const file = input.files[0];
  if (!file) return;
  const head = new Uint8Array(await file.slice(0, 64).arrayBuffer());
  const limit = kMaxImageBytes;
  $('firmware-name').textContent = head.length >= 64 ? nameFieldText(head.subarray(32, 64)) || '(empty)' : '(none)';
  $('firmware-size').textContent = formatBytes(file.size);
  const selector = head.length >= 64 ? String.fromCharCode(...head.subarray(32, 40)) : '';
  const partition = kPartitions[selector];
  $('firmware-partition').textContent = partition || 'none';
  $('firmware-image').hidden = false;
  if (file.size < kMinImageBytes) {
    fieldError(input, `This file has ${file.size} bytes; a firmware image has at least ${kMinImageBytes}. Choose the image file.`);
  } else if (!partition) {
    fieldError(input, 'This is not a firmware image for this device: its name field (bytes 32 to 63) begins with neither nolva-os nor nolva-fs. Choose another file.');
  } else if (file.size > limit) {
    fieldError(input, `This file is larger than the ${formatBytes(limit)} that the device takes. Choose another file.`);
  } else {
    firmwareFile = file;
  }
});

$('firmware-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  for (const element of form.querySelectorAll('.error, .done')) show(element, '');
  const [file, confirm] = ['firmware-file', 'firmware-confirm'].map($);
  if (!firmwareFile && !$('firmware-file-error').textContent) fieldError(file, 'Choose the image file first.');
  fieldError(confirm, confirm.value ? passwordProblem(confirm.value) : 'Type your own password to confirm the update.');
  if (focusFirstError(form)) return;
  const bar = $('firmware-bar');
  const stage = $('firmware-stage');
  const controls = [file, confirm, $('firmware-submit')];
  for (const control of controls) control.disabled = true;
  bar.value = 0;
  stage.textContent = 'Uploading… 0 %';
  $('firmware-progress').hidden = false;
  try {
    const {body} = await uploadFirmware(firmwareFile, confirm.value, {
      onProgress(fraction) {
        bar.value = Math.round(fraction * 100);
        stage.textContent = `Uploading… ${bar.value} %`;
      },
      onSent() {
        bar.removeAttribute('value');
        stage.textContent = 'Writing and verifying… Keep the device powered.';
      },
    });
    showVersions(body);
    confirm.value = '';
    show($('firmware-done'), `The image was written to the ${kPartitions[`nolva-${body.partition}`]} and verified. ` +
                             `OS firmware: ${versionText(body.os)}; FS firmware: ${versionText(body.fs)}.`);
  } catch (e) {
    if (!confirmFailed(e, confirm, $('firmware-error'), $('firmware-submit'), 'update')) {
      show($('firmware-error'), e.error === 'busy'
        ? 'Another firmware update is running on the device. Wait until it has finished, then try again.'
        : describe(e));
      // A failed update may have left a partition erased: show what it holds now.
      if (e.error === 'operation-failed') {
        await call('GET', '/api/device/firmware').then(({body}) => showVersions(body), () => {});
      }
    }
  } finally {
    $('firmware-progress').hidden = true;
    file.disabled = false;
    confirm.disabled = false;
    if (!throttledButtons.has($('firmware-submit'))) $('firmware-submit').disabled = false;
  }
});

// ---------------------------------------------------------------------------
// Maintenance: reboot and factory reset, then wait for the device

const kResetWords = ['erase', 'factory', 'restore', 'wipe'];

pages.maintenance = {
  enter() {
    clearMessages($('page-maintenance'));
    $('reboot-form').hidden = true;
    $('reset-form').hidden = true;
  },
};

$('reboot-start').addEventListener('click', () => {
  clearMessages($('reboot-form'));
  $('reboot-form').hidden = false;
  $('reboot-question').focus();
});
$('reboot-cancel').addEventListener('click', () => {
  $('reboot-form').hidden = true;
  $('reboot-start').focus();
});

$('reboot-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  await busy($('reboot-confirm'), async () => {
    try {
      const {body} = await call('POST', '/api/reboot');
      restart('Rebooting', body.rebootInSeconds, 'The device has restarted. Sign in again.');
    } catch (e) {
      show($('reboot-error'), describe(e));
    }
  });
});

$('reset-start').addEventListener('click', () => {
  clearMessages($('reset-form'));
  $('reset-word-shown').textContent = kResetWords[Math.floor(Math.random() * kResetWords.length)];
  $('reset-word').value = '';
  $('reset-confirm').value = '';
  $('reset-form').hidden = false;
  $('reset-word').focus();
});
$('reset-cancel').addEventListener('click', () => {
  $('reset-form').hidden = true;
  $('reset-start').focus();
});

$('reset-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  clearMessages(form);
  const [word, confirm] = ['reset-word', 'reset-confirm'].map($);
  const expected = $('reset-word-shown').textContent;
  fieldError(word, word.value.trim() === expected ? '' : `Type the word ${expected} exactly as shown, or cancel.`);
  fieldError(confirm, confirm.value ? passwordProblem(confirm.value) : 'Type your own password to confirm the reset.');
  if (focusFirstError(form)) return;
  await busy($('reset-confirm-button'), async () => {
    try {
      const {body} = await call('POST', '/api/factory-reset', {confirmPassword: confirm.value});
      $('sign-in-user').value = 'admin';
      restart('Resetting to the factory state', body.rebootInSeconds,
              'The device is back in its factory state. Sign in with the factory account admin and its factory password.');
    } catch (e) {
      if (!confirmFailed(e, confirm, $('reset-error'), $('reset-confirm-button'), 'reset')) show($('reset-error'), describe(e));
    }
  });
});

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function healthy() {
  try {
    const response = await fetch('/api/health', {cache: 'no-store', signal: AbortSignal.timeout(kPollTimeoutMs)});
    return response.ok;
  } catch {
    return false;
  }
}

// The restart page: a countdown to the reboot, then the health check polled
// until the device answers again; then sign in.
let restarting = false;
pages.restart = {
  public: true,
  enter() {
    if (!restarting) {
      show($('restart-status'), 'No restart is under way.');
      $('restart-continue').hidden = false;
    }
  },
};

async function restart(title, seconds, doneText) {
  session.clear();
  restarting = true;
  $('restart-title').textContent = title;
  show($('restart-error'), '');
  $('restart-continue').hidden = true;
  go('restart');
  const status = $('restart-status');
  for (let left = seconds; left > 0; left -= 1) {
    show(status, `The device restarts in ${left} s.`);
    await sleep(1000);
  }
  show(status, 'The device is restarting. Waiting for it to answer again…');
  const start = Date.now();
  let wentDown = false;
  let upSince = null;
  while (Date.now() - start < kPollLimitMs) {
    if (await healthy()) {
      upSince ??= Date.now();
      if (wentDown || Date.now() - upSince >= kSettleMs) {
        restarting = false;
        notice(doneText);
        go('sign-in');
        return;
      }
    } else {
      wentDown = true;
      upSince = null;
    }
    await sleep(kPollIntervalMs);
  }
  restarting = false;
  show($('restart-error'), 'The device has not answered for five minutes. Check its power and its network ' +
                           'connection; once it is back, sign in again.');
  $('restart-continue').hidden = false;
}

// ---------------------------------------------------------------------------
// Start: a session kept from before a reload is checked once.

window.addEventListener('hashchange', route);
// The skip link moves the focus; the hash is the page's route.
document.querySelector('.skip').addEventListener('click', (event) => {
  event.preventDefault();
  document.querySelector('[data-page]:not([hidden]) h1').focus();
});

async function start() {
  if (session.load()) {
    try {
      const {body} = await call('GET', '/api/session');
      const current = session.load();
      if (current) session.save(body.user, current.csrfToken);
    } catch (e) {
      if (!(e instanceof ApiError)) notice(describe(e));
      if (!session.load()) return;  // ended: the sign-in page is shown
    }
  }
  route();
}

start();

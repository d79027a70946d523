// The device's HTTP API as the console uses it. A session lives in the
// HttpOnly cookie that the service sets; its CSRF token and account name are
// kept in sessionStorage, so that a reload keeps the session and a closed tab
// forgets it.

const kSessionKey = 'nolva.session';
export const kMinImageBytes = 64;

export class ApiError extends Error {
  constructor(httpStatus, body, retryAfterHeader) {
    super(body && typeof body.message === 'string' ? body.message
                                                   : `The device answered with HTTP status ${httpStatus}. Try again.`);
    this.httpStatus = httpStatus;
    this.error = body && typeof body.error === 'string' ? body.error : '';
    this.status = body && body.status;
    this.code = body && body.code;
    const retryAfter = Number((body && body.retryAfter) ?? retryAfterHeader);
    this.retryAfter = Number.isFinite(retryAfter) && retryAfter > 0 ? Math.ceil(retryAfter) : 0;
  }
}

// The request never reached the device, or its answer never came back.
export class UnreachableError extends Error {
  constructor() {
    super('The device does not answer. Check the network connection to it, then try again.');
    this.error = 'unreachable';
  }
}

export const session = {
  load() {
    try {
      return JSON.parse(sessionStorage.getItem(kSessionKey)) || null;
    } catch {
      return null;
    }
  },
  save(user, csrfToken) {
    sessionStorage.setItem(kSessionKey, JSON.stringify({user, csrfToken}));
  },
  clear() {
    sessionStorage.removeItem(kSessionKey);
  },
};

// Called when a request on the session finds it gone (expired, ended
// elsewhere, or the password changed); set by the console.
let sessionEnded = () => {};
export function onSessionEnded(callback) {
  sessionEnded = callback;
}

// Latin-1 as the device holds names and passwords: one byte per character.
export function isLatin1(text) {
  for (const c of text) {
    const point = c.codePointAt(0);
    if (point < 1 || point > 0xff) return false;
  }
  return true;
}

function basicAuthorization(user, password) {
  const bytes = new TextEncoder().encode(`${user}:${password}`);
  let binary = '';
  for (const b of bytes) binary += String.fromCharCode(b);
  return `Basic ${btoa(binary)}`;
}

function headersFor(method, {etag, confirmPassword, basic, contentType}) {
  const headers = {Accept: 'application/json'};
  if (contentType) headers['Content-Type'] = contentType;
  if (etag) headers['If-Match'] = etag;
  if (confirmPassword !== undefined) headers['X-Confirm-Password'] = encodeURIComponent(confirmPassword);
  if (basic) {
    headers.Authorization = basicAuthorization(basic.user, basic.password);
  } else if (method !== 'GET' && method !== 'HEAD') {
    const current = session.load();
    if (current) headers['X-CSRF-Token'] = current.csrfToken;
  }
  return headers;
}

// A request on the session that finds it gone ends it here too.
function endsSession(error, options) {
  return !options.basic && !options.noSession &&
         ((error.httpStatus === 401 && error.error === 'auth-failed') ||
          (error.httpStatus === 403 && error.error === 'csrf'));
}

// One request; resolves to {body, etag} or throws ApiError/UnreachableError.
// options: json (a body), contentType, etag (for If-Match), confirmPassword,
// basic ({user, password}: this request's own credentials, no session),
// noSession (a 401 does not mean the session ended).
export async function call(method, path, options = {}) {
  const init = {
    method,
    cache: 'no-store',
    credentials: options.basic ? 'omit' : 'same-origin',
    headers: headersFor(method, {
      ...options,
      contentType: options.json !== undefined ? options.contentType || 'application/json' : undefined,
    }),
  };
  if (options.json !== undefined) init.body = JSON.stringify(options.json);
  let response;
  try {
    response = await fetch(path, init);
  } catch {
    throw new UnreachableError();
  }
  let body = null;
  if (response.status !== 204) body = await response.json().catch(() => null);
  if (!response.ok) {
    const error = new ApiError(response.status, body, response.headers.get('Retry-After'));
    if (endsSession(error, options)) sessionEnded();
    throw error;
  }
  return {body, etag: response.headers.get('ETag')};
}

// PUT /api/firmware with upload progress, which fetch cannot report.
// onProgress(fraction) while the image is sent; onSent() once it all is.
export function uploadFirmware(file, confirmPassword, {onProgress, onSent}) {
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open('PUT', '/api/firmware');
    const headers = headersFor('PUT', {confirmPassword, contentType: 'application/octet-stream'});
    for (const [name, value] of Object.entries(headers)) request.setRequestHeader(name, value);
    request.responseType = 'text';
    request.upload.addEventListener('progress', (event) => {
      if (event.lengthComputable) onProgress(event.loaded / event.total);
    });
    request.upload.addEventListener('load', () => onSent());
    request.addEventListener('error', () => reject(new UnreachableError()));
    request.addEventListener('load', () => {
      let body = null;
      try {
        body = JSON.parse(request.responseText);
      } catch {
        body = null;
      }
      if (request.status >= 200 && request.status < 300) {
        resolve({body});
        return;
      }
      const error = new ApiError(request.status, body, request.getResponseHeader('Retry-After'));
      if (endsSession(error, {})) sessionEnded();
      reject(error);
    });
    request.send(file);
  });
}

// The largest image the service takes: its --max-image, by default. The API
// does not tell a service started with another limit; its 413 says so then.
export const kMaxImageBytes = 32 * 1024 * 1024;

// The service worker: one native connection to orvanta-host per page connection (one
// plug-in instance per page, as the plug-in has), the calls waiting for their answers by
// id, each answered exactly once, and all of them rejected when the host goes away. The
// page's origin comes from the browser, never from the page, and goes with every request.

const HOST_NAME = 'pelorima.orvanta';
// The host refuses longer messages; refuse them here, where the call can still be answered.
const MAX_REQUEST_BYTES = 1024 * 1024;

// The page's origin as the browser reports it, or null when the page may not ask at all.
// A sandboxed document (a sandbox iframe, a page served with a CSP sandbox) has an opaque
// origin, "null": it must not borrow the origin of the site its URL names, so the URL is
// never used. Only http and https pages can ask; orvanta-host judges the rest.
function pageOrigin(sender) {
  const origin = sender && sender.origin;
  if (typeof origin !== 'string' || !/^https?:\/\/[^/]+$/.test(origin))
    return null;
  return origin;
}

// The extension's own version: a status answer carries it beside the host's, so the page can
// tell a host of another version.
const EXTENSION_VERSION = chrome.runtime.getManifest().version;

const OPAQUE_ORIGIN_ERROR = 'This page has no origin of its own (a sandboxed document or a local file): ' +
  'it cannot use the token';

// Text in the arguments that is not Unicode (a lone UTF-16 surrogate) has no form in the
// host's JSON: refused here, where the call can still be answered.
function findBadText(value, depth) {
  if (typeof value === 'string')
    return value.isWellFormed() ? null : 'The arguments hold text that is not valid Unicode (a lone UTF-16 surrogate)';
  if (!value || typeof value !== 'object')
    return null;
  if (depth >= 64)  // the arguments array is the first of the 64 levels the host takes
    return 'The arguments are nested more than 64 levels deep';
  for (const key of Object.keys(value)) {
    const problem = findBadText(key, depth + 1) || findBadText(value[key], depth + 1);
    if (problem)
      return problem;
  }
  return null;
}

function isRequest(request) {
  if (!request || typeof request !== 'object' || !Number.isSafeInteger(request.id))
    return false;
  if (request.query !== undefined)
    return request.query === 'status' && request.method === undefined && request.get === undefined;
  if (typeof request.method === 'string')
    return request.args === undefined || Array.isArray(request.args);
  return typeof request.get === 'string';
}

chrome.runtime.onConnect.addListener((pagePort) => {
  if (pagePort.name !== 'orvanta-page')
    return;
  const origin = pageOrigin(pagePort.sender);
  // host request id -> {pageId, status}, in the order sent. A status request is answered
  // with what was found even when the host cannot be reached: that is its answer.
  const pending = new Map();
  let nativePort = null;
  let nextId = 1;
  let pageGone = false;

  function answerPage(answer) {
    if (!pageGone)
      pagePort.postMessage(answer);
  }

  function failAll(message, hostError) {
    for (const call of pending.values()) {
      if (call.status)
        answerPage({ id: call.pageId, result: { extension: EXTENSION_VERSION, hostError } });
      else
        answerPage({ id: call.pageId, error: message });
    }
    pending.clear();
  }

  function answerStatus(pageId, answer) {
    const result = { extension: EXTENSION_VERSION };
    if (Object.prototype.hasOwnProperty.call(answer, 'error')) {
      // A host that does not know the query is of an older version than this extension.
      result.hostRefused = String(answer.error);
    } else if (answer.result && typeof answer.result === 'object') {
      for (const key of ['host', 'origin', 'reason', 'module', 'moduleError', 'moduleStatus', 'token',
                         'tokenStatus', 'tokenError'])
        if (Object.prototype.hasOwnProperty.call(answer.result, key))
          result[key] = answer.result[key];
    } else {
      result.hostRefused = 'The orvanta host sent a status that is not an object';
    }
    answerPage({ id: pageId, result });
  }

  function connectHost() {
    nativePort = chrome.runtime.connectNative(HOST_NAME);
    nativePort.onMessage.addListener((answer) => {
      if (!answer || typeof answer !== 'object')
        answer = { error: 'The orvanta host sent an answer that is not an object' };
      // The host answers one request after the other, in order. An answer it gives to a
      // message it could not read has no id (null): it belongs to the oldest call waiting.
      let hostId = answer.id;
      if (!pending.has(hostId)) {
        if (pending.size === 0)
          return;
        hostId = pending.keys().next().value;
        if (!Object.prototype.hasOwnProperty.call(answer, 'error'))
          answer = { error: 'The orvanta host sent an answer that matches no call' };
      }
      const call = pending.get(hostId);
      pending.delete(hostId);
      if (call.status) {
        answerStatus(call.pageId, answer);
        return;
      }
      const toPage = { id: call.pageId };
      if (Object.prototype.hasOwnProperty.call(answer, 'error'))
        toPage.error = String(answer.error);
      else if (Object.prototype.hasOwnProperty.call(answer, 'result'))
        toPage.result = answer.result;
      answerPage(toPage);
    });
    nativePort.onDisconnect.addListener((port) => {
      // Firefox tells why on the port, Chromium in lastError.
      const error = (port && port.error) || chrome.runtime.lastError;
      const reason = error && error.message ? error.message : 'it closed the connection';
      nativePort = null;
      failAll('The orvanta host is not available: ' + reason, reason);
    });
  }

  pagePort.onMessage.addListener((request) => {
    if (!isRequest(request)) {
      if (request && Number.isSafeInteger(request.id))
        answerPage({ id: request.id, error: 'Malformed request' });
      return;
    }
    const isStatus = request.query === 'status';
    if (origin === null) {
      if (isStatus)
        answerPage({ id: request.id, result: { extension: EXTENSION_VERSION, origin: 'refused', reason: OPAQUE_ORIGIN_ERROR } });
      else
        answerPage({ id: request.id, error: OPAQUE_ORIGIN_ERROR });
      return;
    }
    const badText = isStatus ? null : findBadText(request.method !== undefined ? request.args : request.get, 0) ||
      findBadText(request.method, 0);
    if (badText) {
      answerPage({ id: request.id, error: badText });
      return;
    }
    const message = { origin };
    if (isStatus) {
      message.query = 'status';
    } else if (typeof request.method === 'string') {
      message.method = request.method;
      message.args = request.args || [];
    } else {
      message.get = request.get;
    }
    let text;
    try {
      text = JSON.stringify(message);
    } catch (e) {
      answerPage({ id: request.id, error: 'The arguments cannot be sent: ' + e.message });
      return;
    }
    if (new TextEncoder().encode(text).length > MAX_REQUEST_BYTES - 64) {
      answerPage({ id: request.id, error: 'The request is longer than orvanta-host accepts' });
      return;
    }
    const hostId = nextId++;
    message.id = hostId;
    pending.set(hostId, { pageId: request.id, status: isStatus });
    if (!nativePort)
      connectHost();
    try {
      nativePort.postMessage(message);
    } catch (e) {
      pending.delete(hostId);
      if (isStatus)
        answerPage({ id: request.id, result: { extension: EXTENSION_VERSION, hostError: e.message } });
      else
        answerPage({ id: request.id, error: 'The orvanta host is not available: ' + e.message });
    }
  });

  // The page is gone: closing the host's port ends its process and releases the token.
  pagePort.onDisconnect.addListener(() => {
    pageGone = true;
    pending.clear();
    if (nativePort)
      nativePort.disconnect();
    nativePort = null;
  });
});

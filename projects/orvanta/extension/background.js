// The service worker: one native connection to orvanta-host per page connection (one
// plug-in instance per page, as the plug-in has), the calls waiting for their answers by
// id, each answered exactly once, and all of them rejected when the host goes away. The
// page's origin comes from the browser, never from the page, and goes with every request.

const HOST_NAME = 'pelorima.orvanta';
// The host refuses longer messages; refuse them here, where the call can still be answered.
const MAX_REQUEST_BYTES = 1024 * 1024;

function originOf(sender) {
  if (sender.origin && sender.origin !== 'null')
    return sender.origin;
  try {
    const url = new URL(sender.url);
    return url.protocol === 'file:' ? 'file://' : url.origin;
  } catch (e) {
    return 'null';
  }
}

function isRequest(request) {
  if (!request || typeof request !== 'object' || !Number.isSafeInteger(request.id))
    return false;
  if (typeof request.method === 'string')
    return request.args === undefined || Array.isArray(request.args);
  return typeof request.get === 'string';
}

chrome.runtime.onConnect.addListener((pagePort) => {
  if (pagePort.name !== 'orvanta-page')
    return;
  const origin = originOf(pagePort.sender);
  const pending = new Map();  // host request id -> the page's id
  let nativePort = null;
  let nextId = 1;
  let pageGone = false;

  function answerPage(answer) {
    if (!pageGone)
      pagePort.postMessage(answer);
  }

  function failAll(message) {
    for (const pageId of pending.values())
      answerPage({ id: pageId, error: message });
    pending.clear();
  }

  function connectHost() {
    nativePort = chrome.runtime.connectNative(HOST_NAME);
    nativePort.onMessage.addListener((answer) => {
      if (!answer || !pending.has(answer.id))
        return;
      const pageId = pending.get(answer.id);
      pending.delete(answer.id);
      const toPage = { id: pageId };
      if (Object.prototype.hasOwnProperty.call(answer, 'error'))
        toPage.error = String(answer.error);
      else if (Object.prototype.hasOwnProperty.call(answer, 'result'))
        toPage.result = answer.result;
      answerPage(toPage);
    });
    nativePort.onDisconnect.addListener(() => {
      const reason = chrome.runtime.lastError ? chrome.runtime.lastError.message : 'it closed the connection';
      nativePort = null;
      failAll('The orvanta host is not available: ' + reason);
    });
  }

  pagePort.onMessage.addListener((request) => {
    if (!isRequest(request)) {
      if (request && Number.isSafeInteger(request.id))
        answerPage({ id: request.id, error: 'Malformed request' });
      return;
    }
    const message = { origin };
    if (typeof request.method === 'string') {
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
    pending.set(hostId, request.id);
    if (!nativePort)
      connectHost();
    try {
      nativePort.postMessage(message);
    } catch (e) {
      pending.delete(hostId);
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

// The page's `orvanta` object, in the page's own script world. Every member answers with a
// Promise of exactly what the plug-in's root object answers (true, a count, a text or a
// negative status) and rejects with the plug-in's error message where the plug-in throws.
// Calls travel as window messages to content.js, which forwards them to the extension.
(() => {
  'use strict';
  if (Object.prototype.hasOwnProperty.call(window, 'orvanta'))
    return;

  const CHANNEL = 'orvanta';
  const METHODS = [
    'get_version',
    'olvIsTokenPresentAndOK', 'olvIsUserLoggedIn', 'olvUserLoginDlg', 'olvLogout',
    'olvSign', 'olvGenKeyPair', 'olvDestroyContainer', 'olvGetNumberOfContainers',
    'olvGetPublicKey', 'olvGetContainerName', 'olvRepair',
  ];

  const pending = new Map();
  let nextId = 1;

  function send(request) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { resolve, reject });
      window.postMessage({ channel: CHANNEL, direction: 'request', request: Object.assign({ id }, request) }, '*');
    });
  }

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || !data || data.channel !== CHANNEL)
      return;
    if (data.direction === 'answer') {
      const answer = data.answer || {};
      const entry = pending.get(answer.id);
      if (!entry)
        return;
      pending.delete(answer.id);
      if (Object.prototype.hasOwnProperty.call(answer, 'error'))
        entry.reject(new Error(answer.error));
      else
        entry.resolve(answer.result);
    } else if (data.direction === 'disconnected') {
      // Every call still waiting is answered: none can come back any more.
      const message = data.message || 'The connection to orvanta-host was closed';
      for (const entry of pending.values())
        entry.reject(new Error(message));
      pending.clear();
    }
  });

  const api = {};
  for (const name of METHODS)
    api[name] = (...args) => send({ method: name, args });
  Object.defineProperty(api, 'version', { get: () => send({ get: 'version' }), enumerable: true });
  // How this installation stands for the page, without a prompt or a token call: the
  // extension's and the host's versions, the origin's standing, and for an allowed origin the
  // module and the token. orvanta.js reads it into one of its states.
  api.status = () => send({ query: 'status' });
  Object.freeze(api);
  Object.defineProperty(window, 'orvanta', { value: api, enumerable: false, writable: false, configurable: false });

  // The counterpart of the plug-in's onload: fired once the page's own scripts can listen.
  const ready = () => document.dispatchEvent(new CustomEvent('orvanta-ready', { detail: api }));
  if (document.readyState === 'loading')
    document.addEventListener('DOMContentLoaded', ready, { once: true });
  else
    ready();
})();

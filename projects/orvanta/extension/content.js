// Moves messages between the page's `orvanta` object (page.js) and the extension's service
// worker, and nothing else: it reads no other part of the page. The connection is opened on
// the page's first call, so pages that never call start no host.
(() => {
  'use strict';
  const CHANNEL = 'orvanta';
  let port = null;

  function toPage(message) {
    window.postMessage(Object.assign({ channel: CHANNEL }, message), '*');
  }

  function connect() {
    port = chrome.runtime.connect({ name: 'orvanta-page' });
    port.onMessage.addListener((answer) => toPage({ direction: 'answer', answer }));
    port.onDisconnect.addListener(() => {
      port = null;
      toPage({ direction: 'disconnected', message: 'The orvanta extension closed the connection' });
    });
  }

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || !data || data.channel !== CHANNEL || data.direction !== 'request')
      return;
    if (!port)
      connect();
    try {
      port.postMessage(data.request);
    } catch (e) {
      // Arguments the port cannot carry (a value with a cycle, say): the call is answered here.
      const id = data.request && data.request.id;
      toPage({ direction: 'answer', answer: { id, error: 'The arguments cannot be sent: ' + (e && e.message) } });
    }
  });
})();

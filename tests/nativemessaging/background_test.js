// The extension's service worker (background.js) run under node with a stand-in for the
// browser's `chrome` object: which pages may ask, requests it must answer itself, answers of
// the host it cannot match, and the reason a host connection dropped.
//
// usage: node --test background_test.js   (ORVANTA_EXTENSION names the extension folder)
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const extension = process.env.ORVANTA_EXTENSION || path.join(__dirname, '..', '..', 'projects', 'orvanta', 'extension');
const source = fs.readFileSync(path.join(extension, 'background.js'), 'utf8');

function event() {
  const listeners = [];
  return { addListener: (f) => listeners.push(f), fire: (...a) => listeners.forEach((f) => f(...a)) };
}

// A fresh worker; returns its browser stand-in.
function worker() {
  const browser = { natives: [], lastError: undefined };
  const onConnect = event();
  browser.chrome = {
    runtime: {
      onConnect,
      getManifest: () => ({ version: '1.1.0' }),
      get lastError() { return browser.lastError; },
      connectNative(name) {
        const port = { name, sent: [], onMessage: event(), onDisconnect: event(), disconnected: false };
        port.postMessage = (m) => port.sent.push(JSON.parse(JSON.stringify(m)));
        port.disconnect = () => { port.disconnected = true; };
        browser.natives.push(port);
        return port;
      },
    },
  };
  browser.connectPage = (sender) => {
    const page = { name: 'orvanta-page', sender, answers: [], onMessage: event(), onDisconnect: event() };
    page.postMessage = (m) => page.answers.push(JSON.parse(JSON.stringify(m)));  // as a port copies it
    page.send = (request) => page.onMessage.fire(request);
    onConnect.fire(page);
    return page;
  };
  vm.runInNewContext(source, { chrome: browser.chrome, TextEncoder, URL, console });
  return browser;
}

test('only a page whose browser-given origin is http or https reaches the host, with that origin', () => {
  const cases = [
    [{ origin: 'https://bank.example', url: 'https://bank.example/sign' }, 'https://bank.example'],
    [{ origin: 'http://127.0.0.1:8080', url: 'http://127.0.0.1:8080/' }, 'http://127.0.0.1:8080'],
    // Opaque origins (sandbox iframe, CSP sandbox) never borrow the origin their URL names.
    [{ origin: 'null', url: 'https://bank.example/upload/preview.html' }, null],
    [{ url: 'https://bank.example/' }, null],
    [{ origin: '', url: 'https://bank.example/' }, null],
    // Local files all share one origin: they cannot ask.
    [{ origin: 'file://', url: 'file:///home/me/Downloads/invoice.html' }, null],
    [{ origin: 'null', url: 'file:///home/me/a.html' }, null],
    [{ origin: 'chrome-extension://abcdefghijklmnop', url: 'chrome-extension://abcdefghijklmnop/x.html' }, null],
    [{ origin: 'https://bank.example/path' }, null],
    [undefined, null],
  ];
  for (const [sender, origin] of cases) {
    const browser = worker();
    const page = browser.connectPage(sender);
    page.send({ id: 1, method: 'get_version', args: [] });
    page.send({ id: 2, get: 'version' });
    if (origin === null) {
      assert.strictEqual(browser.natives.length, 0, JSON.stringify(sender));
      assert.deepStrictEqual(page.answers.map((a) => a.id), [1, 2]);
      for (const answer of page.answers)
        assert.match(answer.error, /no origin of its own/, JSON.stringify(sender));
    } else {
      assert.strictEqual(browser.natives.length, 1);
      assert.deepStrictEqual(browser.natives[0].sent.map((m) => m.origin), [origin, origin]);
      assert.deepStrictEqual(page.answers, []);
    }
  }
});

test('text that is not Unicode is refused with a readable error, and the host never sees it', () => {
  const cases = [
    [['\ud800'], true],
    [['a\udc00b'], true],
    [[{ '\ud83d': 1 }], true],
    [[['x', ['\udfff']]], true],
    [['\ud83d\ude00 ok'], false],
    [[{ 'ключ': 'значение' }], false],
  ];
  for (const [args, refused] of cases) {
    const browser = worker();
    const page = browser.connectPage({ origin: 'https://bank.example' });
    page.send({ id: 7, method: 'olvSign', args });
    if (refused) {
      assert.deepStrictEqual(page.answers, [{ id: 7, error: 'The arguments hold text that is not valid Unicode (a lone UTF-16 surrogate)' }]);
      assert.strictEqual(browser.natives.length, 0);
    } else {
      assert.deepStrictEqual(page.answers, []);
      assert.deepStrictEqual(browser.natives[0].sent[0].args, args);
    }
  }
});

test('an answer the host could not match to a request settles the oldest call, once', () => {
  const browser = worker();
  const page = browser.connectPage({ origin: 'https://bank.example' });
  page.send({ id: 10, method: 'get_version', args: [] });
  page.send({ id: 11, method: 'get_version', args: [] });
  page.send({ id: 12, method: 'get_version', args: [] });
  const host = browser.natives[0];
  const [first, second, third] = host.sent.map((m) => m.id);
  // What the host says to a message it could not parse: no id of the request.
  host.onMessage.fire({ id: null, error: 'The request is not valid JSON: bad' });
  host.onMessage.fire({ id: second, result: '1.1' });
  host.onMessage.fire({ id: 'nothing sent', result: 'stray' });
  host.onMessage.fire({ id: first, result: 'late' });  // already settled: dropped
  host.onMessage.fire({ id: third, result: '1.1' });
  assert.deepStrictEqual(page.answers, [
    { id: 10, error: 'The request is not valid JSON: bad' },
    { id: 11, result: '1.1' },
    { id: 12, error: 'The orvanta host sent an answer that matches no call' },
  ]);
  host.onMessage.fire({ id: null, error: 'nobody waits' });
  assert.strictEqual(page.answers.length, 3);
});

test('the reason the host went away comes from the port (Firefox) or lastError (Chromium)', () => {
  const cases = [
    ['firefox', { error: { message: 'No such native application pelorima.orvanta' } }, undefined,
      'The orvanta host is not available: No such native application pelorima.orvanta'],
    ['chromium', {}, { message: 'Native host has exited.' }, 'The orvanta host is not available: Native host has exited.'],
    ['neither', {}, undefined, 'The orvanta host is not available: it closed the connection'],
  ];
  for (const [name, portFields, lastError, expected] of cases) {
    const browser = worker();
    const page = browser.connectPage({ origin: 'https://bank.example' });
    page.send({ id: 1, method: 'get_version', args: [] });
    page.send({ id: 2, method: 'get_version', args: [] });
    const host = browser.natives[0];
    Object.assign(host, portFields);
    browser.lastError = lastError;
    host.onDisconnect.fire(host);
    browser.lastError = undefined;
    assert.deepStrictEqual(page.answers, [{ id: 1, error: expected }, { id: 2, error: expected }], name);
  }
});

test('a status request is answered with the versions and what the host found, whatever the host does', () => {
  const browser = worker();
  const page = browser.connectPage({ origin: 'https://bank.example' });
  page.send({ id: 1, query: 'status' });
  page.send({ id: 2, query: 'status' });
  page.send({ id: 3, query: 'status' });
  page.send({ id: 4, method: 'get_version', args: [] });
  const host = browser.natives[0];
  assert.deepStrictEqual(host.sent.map((m) => [m.query, m.origin]),
    [['status', 'https://bank.example'], ['status', 'https://bank.example'], ['status', 'https://bank.example'],
      [undefined, 'https://bank.example']]);
  host.onMessage.fire({ id: host.sent[0].id, result: { host: '1.1.0', origin: 'allowed', module: 'loaded', token: 'absent', other: 1 } });
  // A host of an older version does not know the query.
  host.onMessage.fire({ id: host.sent[1].id, error: 'The request names neither a method nor a property, or both' });
  browser.lastError = { message: 'Native host has exited.' };
  host.onDisconnect.fire(host);
  assert.deepStrictEqual(page.answers, [
    { id: 1, result: { extension: '1.1.0', host: '1.1.0', origin: 'allowed', module: 'loaded', token: 'absent' } },
    { id: 2, result: { extension: '1.1.0', hostRefused: 'The request names neither a method nor a property, or both' } },
    { id: 3, result: { extension: '1.1.0', hostError: 'Native host has exited.' } },
    { id: 4, error: 'The orvanta host is not available: Native host has exited.' },
  ]);
});

test('a status request of a page without an origin of its own starts no host', () => {
  const browser = worker();
  const page = browser.connectPage({ origin: 'null', url: 'https://bank.example/frame.html' });
  page.send({ id: 1, query: 'status' });
  page.send({ id: 2, query: 'status', method: 'olvSign' });
  page.send({ id: 3, query: 'tokens' });
  assert.strictEqual(browser.natives.length, 0);
  assert.deepStrictEqual(page.answers, [
    { id: 1, result: { extension: '1.1.0', origin: 'refused', reason: 'This page has no origin of its own (a sandboxed document or a local file): it cannot use the token' } },
    { id: 2, error: 'Malformed request' },
    { id: 3, error: 'Malformed request' },
  ]);
});

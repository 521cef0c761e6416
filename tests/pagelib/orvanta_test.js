// orvanta.js under node, in a stand-in window: the state each status report and each way of
// finding orvanta leads to, the install advice for each browser, one API over the extension
// and the plug-in, and pages without Promise.
//
// usage: node --test orvanta_test.js   (ORVANTA_TOP names the source tree)
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');

const top = process.env.ORVANTA_TOP || path.join(__dirname, '..', '..');
const libraryPath = path.join(top, 'projects', 'orvanta', 'pagelib', 'orvanta.js');
const Orvanta = require(libraryPath);

const LINUX_CHROMIUM = 'Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36';
const QTWEBKIT = 'Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/602.1 (KHTML, like Gecko) Version/10.0 Safari/602.1';

// A window of a page that has finished loading. `extension`: the extension's object;
// `plugin`: what the browser makes of an <embed type="application/x-orvanta"> ({root,
// viaOnload}), or null for a listed plug-in that never scripts.
function fakeWindow(setup) {
  setup = setup || {};
  const listeners = {};
  const appended = [];
  const win = {
    navigator: { userAgent: setup.userAgent || LINUX_CHROMIUM, platform: 'Linux x86_64', mimeTypes: {} },
    setTimeout: (f, ms) => setTimeout(f, Math.min(ms, 5)),
    appended,
  };
  if ('Promise' in setup ? setup.Promise : true)
    win.Promise = Promise;
  if (setup.extension)
    win.orvanta = setup.extension;
  if ('plugin' in setup)
    win.navigator.mimeTypes['application/x-orvanta'] = { type: 'application/x-orvanta', enabledPlugin: {} };
  win.document = {
    readyState: setup.readyState || 'complete',
    addEventListener: (name, f) => (listeners[name] = listeners[name] || []).push(f),
    fire: (name) => (listeners[name] || []).forEach((f) => f({})),
    createElement: (tag) => ({
      tagName: tag.toUpperCase(), nodeType: 1, attributes: {},
      setAttribute(k, v) { this.attributes[k] = v; },
      getAttribute(k) { return this.attributes[k]; },
      appendChild() {},
    }),
    body: {
      appendChild(element) {
        appended.push(element);
        const plugin = setup.plugin;
        if (!plugin)
          return;
        // The browser makes the instance a little later; the plug-in then calls its onload.
        setTimeout(() => {
          if (plugin.viaOnload)
            win[element.attributes.onload](plugin.root);
          else
            Object.assign(element, plugin.root);
        }, 10);
      },
    },
  };
  return win;
}

function pluginRoot(fields) {
  const calls = [];
  const root = { version: '1.1', calls };
  for (const name of ['get_version', 'olvIsTokenPresentAndOK', 'olvSign', 'olvGetContainerName'])
    root[name] = (...args) => {
      calls.push([name, ...args]);
      if (fields && fields.throws)
        throw fields.throws;
      return name === 'get_version' ? '1.1' : (name === 'olvSign' ? 'AB'.repeat(64) : true);
    };
  return Object.assign(root, fields && fields.extra);
}

function extensionObject(report, fields) {
  const api = {
    status: () => (report instanceof Error ? Promise.reject(report) : Promise.resolve(report)),
    olvSign: (name, hash) => Promise.resolve('sig:' + name + ':' + hash),
    get_version: () => Promise.resolve('1.1'),
    olvIsTokenPresentAndOK: () => Promise.reject(new Error('The page origin https://a.example is not allowed to use the token')),
  };
  return Object.assign(api, fields);
}

const ready = { extension: '1.1.0', host: '1.1.0', origin: 'allowed', module: 'loaded', token: 'present' };

test('every report of the extension is one state, judged in the order the links are crossed', () => {
  const cases = [
    [ready, 'ready'],
    [{ extension: '1.1.0', hostError: 'Specified native messaging host not found.' }, 'host-missing'],
    [{ extension: '1.1.0', hostError: 'Access to the specified native messaging host is forbidden.' }, 'host-missing'],
    [{ extension: '1.1.0', hostError: 'No such native application pelorima.orvanta' }, 'host-missing'],
    [{ extension: '1.1.0', hostError: 'Native host has exited.' }, 'host-missing'],
    [null, 'host-missing'],
    [{ extension: '1.1.0', hostRefused: 'The request names neither a method nor a property, or both' }, 'version-mismatch'],
    [Object.assign({}, ready, { host: '1.0.9' }), 'version-mismatch'],
    // A host of another version is told before anything it says about the origin or token.
    [{ extension: '1.1.0', host: '1.2.0', origin: 'refused', reason: 'x' }, 'version-mismatch'],
    [{ extension: '1.1.0', host: '1.1.0', origin: 'refused', reason: 'The page origin https://a.example is not allowed to use the token' }, 'origin-refused'],
    [{ extension: '1.1.0', host: '1.1.0', origin: 'not-asked' }, 'origin-not-asked'],
    [{ extension: '1.1.0', host: '1.1.0', origin: 'allowed', module: 'failed', moduleError: 'Error loading pkcs11 library 0x00000002' }, 'module-missing'],
    [{ extension: '1.1.0', host: '1.1.0', origin: 'allowed', module: 'loaded', token: 'failed', tokenStatus: -85 }, 'module-missing'],
    [{ extension: '1.1.0', host: '1.1.0', origin: 'allowed', module: 'loaded', token: 'absent' }, 'no-token'],
    // Nothing this library knows: never called ready.
    [{ extension: '1.1.0', host: '1.1.0', origin: 'allowed', module: 'loaded' }, 'version-mismatch'],
    [{ extension: '1.1.0', host: '1.1.0', origin: 'maybe' }, 'version-mismatch'],
  ];
  for (const [report, code] of cases) {
    const result = Orvanta.stateFromReport(report);
    assert.strictEqual(result.code, code, JSON.stringify(report));
    assert.strictEqual(result.message, Orvanta.MESSAGES[code]);
    assert.strictEqual(result.via, 'extension');
  }
  assert.strictEqual(Orvanta.stateFromReport(cases[1][0]).detail, 'Specified native messaging host not found.');
  assert.match(Orvanta.stateFromReport(cases[7][0]).detail, /extension 1\.1\.0, orvanta-host 1\.0\.9/);
  assert.deepStrictEqual(Object.values(Orvanta.STATES).sort(), Object.keys(Orvanta.MESSAGES).sort());
});

test('the install advice names what to install for this browser and system', () => {
  const cases = [
    [LINUX_CHROMIUM, 'Linux x86_64', 'chromium', 'linux', 'sudo apt install ./orvanta_1.1.0_amd64.deb'],
    ['Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0', 'Linux x86_64', 'firefox', 'linux', 'orvanta.xpi'],
    ['Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:128.0) Gecko/20100101 Firefox/128.0', 'Win32', 'firefox', 'windows', 'orvanta-1.1.0.msi'],
    ['Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36 Edg/120.0.0.0', 'Win32', 'edge', 'windows', 'orvanta-1.1.0.msi'],
    ['Mozilla/5.0 (Windows NT 10.0; WOW64; Trident/7.0; rv:11.0) like Gecko', 'Win32', 'internet-explorer', 'windows', 'orvanta-1.1.0.msi'],
    [QTWEBKIT, 'Linux x86_64', 'plugin-browser', 'linux', 'orvanta plug-in'],
    ['Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36', 'MacIntel', 'chromium', 'other', 'extension store'],
  ];
  for (const [ua, platform, browser, system, mention] of cases) {
    const advice = Orvanta.installAdvice(ua, platform);
    assert.deepStrictEqual([advice.browser, advice.system], [browser, system], ua);
    assert.ok(advice.text.includes(mention), advice.text);
  }
});

test('the extension\'s object: status from its report, and its calls as they are', async () => {
  const lib = Orvanta.create(fakeWindow({ extension: extensionObject(ready) }));
  assert.deepStrictEqual(await lib.status(), Object.assign(Orvanta.stateFromReport(ready)));
  const api = await lib.connect();
  assert.strictEqual(api.via, 'extension');
  assert.strictEqual(await api.olvSign('c', 'FF'), 'sig:c:FF');
  await assert.rejects(api.olvIsTokenPresentAndOK(), /is not allowed to use the token/);

  const broken = Orvanta.create(fakeWindow({ extension: extensionObject(new Error('The orvanta extension closed the connection')) }));
  const state = await broken.status();
  assert.deepStrictEqual([state.code, state.detail], ['host-missing', 'The orvanta extension closed the connection']);

  // An extension that cannot tell its status is older than this library.
  const old = Orvanta.create(fakeWindow({ extension: extensionObject(ready, { status: undefined }) }));
  assert.strictEqual((await old.status()).code, 'version-mismatch');

  // A status that never comes: the host is taken as unreachable, not waited for forever.
  const silent = Orvanta.create(fakeWindow({ extension: extensionObject(ready, { status: () => new Promise(() => {}) }) }));
  const late = await silent.status({ timeout: 30 });
  assert.deepStrictEqual([late.code, late.detail], ['host-missing', 'orvanta-host gave no answer in 30 ms']);
  // Each call's own waiting time holds.
  assert.strictEqual((await silent.status({ timeout: 10 })).detail, 'orvanta-host gave no answer in 10 ms');
});

test('an extension object that arrives while the page loads is waited for', async () => {
  const win = fakeWindow({ readyState: 'loading' });
  const lib = Orvanta.create(win);
  const pending = lib.status();
  win.orvanta = extensionObject(ready);
  win.document.fire('orvanta-ready');
  assert.strictEqual((await pending).code, 'ready');
});

test('no extension and no plug-in: not installed, with the advice for this browser', async () => {
  const lib = Orvanta.create(fakeWindow({ userAgent: LINUX_CHROMIUM }));
  const state = await lib.status();
  assert.strictEqual(state.code, 'not-installed');
  assert.strictEqual(state.via, null);
  assert.strictEqual(state.install.command, 'sudo apt install ./orvanta_1.1.0_amd64.deb');
  assert.strictEqual(state.message, Orvanta.MESSAGES['not-installed'] + ' ' + state.install.text);
  await assert.rejects(lib.connect(), (e) => e.code === 'not-installed');
  // An element with the id "orvanta" is not the extension's object.
  const named = fakeWindow();
  named.orvanta = { nodeType: 1, olvSign: () => {} };
  assert.strictEqual((await Orvanta.create(named).status()).code, 'not-installed');
});

test('the plug-in: embedded once, its answers and its exceptions as Promises, a refusal remembered', async () => {
  for (const viaOnload of [true, false]) {
    const root = pluginRoot();
    const win = fakeWindow({ userAgent: QTWEBKIT, plugin: { root, viaOnload } });
    const lib = Orvanta.create(win);
    const state = await lib.status();
    assert.deepStrictEqual([state.code, state.via, state.versions.plugin], ['ready', 'npapi', '1.1']);
    assert.deepStrictEqual(state.checked, ['plug-in', 'version']);
    // status() asked the token nothing.
    assert.deepStrictEqual(root.calls, []);
    const api = await lib.connect();
    assert.strictEqual(await api.olvSign('c', 'FF'), 'AB'.repeat(64));
    assert.strictEqual(await api.olvGetContainerName(0), true);
    assert.deepStrictEqual(root.calls, [['olvSign', 'c', 'FF'], ['olvGetContainerName', 0]]);
    assert.strictEqual(win.appended.length, 1);
    assert.strictEqual(win.appended[0].attributes.type, 'application/x-orvanta');
  }

  const refused = pluginRoot({ throws: new Error('The page origin http://127.0.0.1:8000 is not allowed to use the token') });
  const lib = Orvanta.create(fakeWindow({ userAgent: QTWEBKIT, plugin: { root: refused, viaOnload: true } }));
  const api = await lib.connect();
  await assert.rejects(api.olvIsTokenPresentAndOK(), /http:\/\/127\.0\.0\.1:8000 is not allowed/);
  const state = await lib.status();
  assert.deepStrictEqual([state.code, state.detail],
    ['origin-refused', 'The page origin http://127.0.0.1:8000 is not allowed to use the token']);

  // A script exception that is not an Error object still rejects with an Error.
  const odd = Orvanta.create(fakeWindow({ plugin: { root: pluginRoot({ throws: 'Invalid argument count' }), viaOnload: true } }));
  await assert.rejects((await odd.connect()).get_version(), (e) => e instanceof Error && e.message === 'Invalid argument count');
});

test('a plug-in of another page API, or one that never scripts, is told as such', async () => {
  const other = Orvanta.create(fakeWindow({ plugin: { root: pluginRoot({ extra: { version: '1.0' } }), viaOnload: true } }));
  const state = await other.status();
  assert.deepStrictEqual([state.code, state.detail], ['version-mismatch', 'The plug-in offers page API 1.0; this page expects 1.1']);

  const dead = Orvanta.create(fakeWindow({ userAgent: QTWEBKIT, plugin: null }));
  const deadState = await dead.status({ pluginTimeout: 100 });
  assert.strictEqual(deadState.code, 'not-installed');
  assert.match(deadState.detail, /does not answer script/);
  assert.strictEqual(deadState.install.browser, 'plugin-browser');
});

test('a browser without Promise: callbacks, and a clear error without one', (t, end) => {
  const win = fakeWindow({ Promise: false, plugin: { root: pluginRoot(), viaOnload: true } });
  const lib = Orvanta.create(win);
  assert.throws(() => lib.status(), /This browser has no Promise: pass a callback/);
  const returned = lib.status((error, state) => {
    assert.strictEqual(error, null);
    assert.strictEqual(state.code, 'ready');
    lib.connect((connectError, api) => {
      assert.strictEqual(connectError, null);
      api.olvSign('c', 'FF', (signError, signature) => {
        assert.strictEqual(signError, null);
        assert.strictEqual(signature, 'AB'.repeat(64));
        end();
      });
    });
  });
  assert.strictEqual(returned, null);
});

test('one version everywhere, and a package a web developer can use as it is', () => {
  const manifest = JSON.parse(fs.readFileSync(path.join(top, 'projects', 'orvanta', 'extension', 'manifest.json'), 'utf8'));
  const pkg = JSON.parse(fs.readFileSync(path.join(top, 'projects', 'orvanta', 'pagelib', 'package.json'), 'utf8'));
  assert.strictEqual(Orvanta.VERSION, manifest.version);
  assert.strictEqual(pkg.version, manifest.version);
  assert.strictEqual(pkg.main, 'orvanta.js');
  assert.ok(pkg.files.includes('orvanta.js'));
  assert.strictEqual(pkg.scripts, undefined);  // nothing to build
});

test('the library is plain ES5', () => {
  const code = fs.readFileSync(libraryPath, 'utf8')
    .replace(/\/\*[\s\S]*?\*\//g, '')
    .replace(/\/\/.*$/gm, '')
    .replace(/'(?:[^'\\\n]|\\.)*'/g, "''");
  for (const [what, pattern] of [['arrow function', /=>/], ['let or const', /\b(let|const)\s/], ['class', /\bclass\s/],
    ['template string', /`/], ['spread or rest', /\.\.\./], ['async', /\basync\b|\bawait\b/]])
    assert.doesNotMatch(code, pattern, what);
});

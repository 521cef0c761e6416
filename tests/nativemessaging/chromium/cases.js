// The page-level cases: every member of `orvanta` against the SoftHSM token, each answer
// compared with exactly what the plug-in answers. Results go to the harness by POST; the
// harness verifies the signatures with Botan. Then the page moves on to ?next=, which
// closes its connection to the host.
(() => {
  const HEX128 = /^[0-9A-F]{128}$/;
  const HASH = '000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F';
  const DIGIT_KEY = '1029384756102938475610293847561029384756102938475610293847561029';
  const NAME = 'первый контейнер';
  const METHODS = ['get_version', 'olvIsTokenPresentAndOK', 'olvIsUserLoggedIn', 'olvUserLoginDlg',
    'olvLogout', 'olvSign', 'olvGenKeyPair', 'olvDestroyContainer', 'olvGetNumberOfContainers',
    'olvGetPublicKey', 'olvGetContainerName', 'olvRepair'];

  const results = { cases: [], signatures: [], timing: {} };

  function record(name, ok, got, expected) {
    results.cases.push({ name, ok, got: describe(got), expected: describe(expected) });
  }
  function describe(value) {
    if (value instanceof RegExp)
      return String(value);
    return typeof value === 'string' ? JSON.stringify(value) : typeof value + ' ' + String(value);
  }

  // One call: `expected` is the exact value (type included), or a RegExp for a hex text.
  async function expect(name, call, expected) {
    let got;
    try {
      const promise = call();
      if (!(promise instanceof Promise)) {
        record(name, false, promise, 'a Promise');
        return undefined;
      }
      got = await promise;
    } catch (e) {
      record(name, false, 'rejected: ' + (e && e.message), expected);
      return undefined;
    }
    const ok = expected instanceof RegExp ? typeof got === 'string' && expected.test(got) : got === expected;
    record(name, ok, got, expected);
    return got;
  }

  // A call that never settles is a failed case, not a page that waits for ever.
  function settledWithin(promise) {
    return Promise.race([promise, new Promise((resolve) => setTimeout(() => resolve('never settled'), 10000))]);
  }

  // A call the plug-in ends with a script error: a rejection with an Error carrying its text.
  async function expectRejection(name, call, messageStart) {
    try {
      const got = await call();
      record(name, false, got, 'a rejection');
    } catch (e) {
      const ok = e instanceof Error && typeof e.message === 'string' && e.message.startsWith(messageStart);
      record(name, ok, 'rejected: ' + (e && e.message), 'rejected: ' + messageStart + '...');
    }
  }

  async function run() {
    const o = window.orvanta;
    record('orvanta-ready came with the object', window.orvantaReady === o, String(window.orvantaReady === o), 'true');
    record('every method is there', METHODS.every((m) => typeof o[m] === 'function'),
      METHODS.filter((m) => typeof o[m] !== 'function').join(',') || 'all', 'all');

    // Round trips of one get_version: the first starts the host, the others are steady.
    let t = performance.now();
    await expect('get_version', () => o.get_version(), '1.1');
    results.timing.firstCallMs = performance.now() - t;
    const times = [];
    for (let i = 0; i < 30; ++i) {
      t = performance.now();
      await o.get_version();
      times.push(performance.now() - t);
    }
    times.sort((a, b) => a - b);
    results.timing.roundTripsMs = times;

    await expect('version', () => o.version, '1.1');
    await expect('olvIsTokenPresentAndOK', () => o.olvIsTokenPresentAndOK(), true);
    await expect('olvIsUserLoggedIn before login', () => o.olvIsUserLoggedIn(), -2);
    await expect('olvGetNumberOfContainers on an empty token', () => o.olvGetNumberOfContainers(), 0);
    await expect('olvGetContainerName(0) of an empty table', () => o.olvGetContainerName(0), -20);
    await expect('olvGenKeyPair("repair key")', () => o.olvGenKeyPair('repair key'), -10);
    await expect('olvGenKeyPair("")', () => o.olvGenKeyPair(''), -11);
    const publicKey = await expect('olvGenKeyPair', () => o.olvGenKeyPair(NAME), HEX128);
    await expect('olvGenKeyPair of an existing name', () => o.olvGenKeyPair(NAME), -21);
    await expect('olvIsUserLoggedIn after olvGenKeyPair', () => o.olvIsUserLoggedIn(), -2);
    await expect('olvGetNumberOfContainers', () => o.olvGetNumberOfContainers(), 1);
    await expect('olvGetContainerName(0)', () => o.olvGetContainerName(0), NAME);
    await expect('olvGetContainerName(1)', () => o.olvGetContainerName(1), -20);
    await expect('olvGetPublicKey', () => o.olvGetPublicKey(NAME), publicKey);
    await expect('olvGetPublicKey of no container', () => o.olvGetPublicKey('none'), -20);
    const signature = await expect('olvSign', () => o.olvSign(NAME, HASH), HEX128);
    results.signatures.push({ name: 'olvSign', mode: 'public', key: publicKey, hash: HASH, signature });
    await expect('olvSign with a short hash', () => o.olvSign(NAME, HASH.slice(2)), -11);
    await expect('olvSign without a key', () => o.olvSign('none', HASH), -20);
    await expect('olvUserLoginDlg', () => o.olvUserLoginDlg(), true);
    await expect('olvIsUserLoggedIn after login', () => o.olvIsUserLoggedIn(), true);
    await expect('olvUserLoginDlg when logged in', () => o.olvUserLoginDlg(), true);
    await expect('olvLogout', () => o.olvLogout(), true);
    await expect('olvIsUserLoggedIn after logout', () => o.olvIsUserLoggedIn(), -2);
    await expect('olvLogout when logged out', () => o.olvLogout(), true);
    const repaired = await expect('olvRepair', () => o.olvRepair(DIGIT_KEY, HASH), HEX128);
    results.signatures.push({ name: 'olvRepair', mode: 'digits', key: DIGIT_KEY, hash: HASH, signature: repaired });
    await expect('olvRepair with a short key', () => o.olvRepair(DIGIT_KEY.slice(1), HASH), -11);
    await expect('olvDestroyContainer', () => o.olvDestroyContainer(NAME), true);
    await expect('olvDestroyContainer of no container', () => o.olvDestroyContainer(NAME), -20);
    await expect('olvGetNumberOfContainers after olvDestroyContainer', () => o.olvGetNumberOfContainers(), 0);

    await expectRejection('olvGetContainerName("abc")', () => o.olvGetContainerName('abc'), 'Could not convert from');
    await expectRejection('olvGetContainerName({})', () => o.olvGetContainerName({}), 'Could not convert from');
    await expectRejection('olvRepair()', () => o.olvRepair(), 'Could not convert from');
    await expectRejection('olvSign with a function', () => o.olvSign(() => 1, HASH), '');
    // Text that is not Unicode has no JSON form for the host: the call is still answered.
    await expectRejection('olvGetPublicKey with a lone surrogate', () => settledWithin(o.olvGetPublicKey('a\ud800')),
      'The arguments hold text that is not valid Unicode (a lone UTF-16 surrogate)');
    await expectRejection('olvSign with a lone surrogate in a key', () => settledWithin(o.olvSign({ '\udc01': 1 }, HASH)),
      'The arguments hold text that is not valid Unicode');
    // Still answering after all of that.
    await expect('get_version at the end', () => o.get_version(), '1.1');

    await fetch('/results/allowed', { method: 'POST', body: JSON.stringify(results) });
    const next = new URLSearchParams(location.search).get('next');
    if (next)
      location.href = next;
  }

  function start() {
    const report = (e) => fetch('/results/allowed', { method: 'POST', body: JSON.stringify({ crashed: String(e) }) });
    if (window.orvanta)
      run().catch(report);
    else
      report('the page has no orvanta object');
  }
  if (document.readyState === 'loading')
    document.addEventListener('DOMContentLoaded', () => setTimeout(start, 0), { once: true });
  else
    start();
})();

/*
 * orvanta.js: one way for a web page to reach the orvanta token, whichever way this browser
 * offers it (the orvanta extension in today's browsers, the NPAPI plug-in, the ActiveX
 * control), and to tell the person what is missing when it cannot.
 *
 *   Orvanta.status()   resolves to {code, message, ...}: one of Orvanta.STATES.
 *   Orvanta.connect()  resolves to an object whose token methods (get_version, olv...)
 *                      all answer with Promises, with the same values on every path.
 *
 * Plain ES5 so that the script engines of plug-in browsers run it. Where the browser has no
 * Promise, pass a callback as the last argument: it is called as callback(error, value).
 * status() never touches the token: no login, no PIN prompt, no key, no permission prompt.
 */
(function (root, factory) {
  var library = factory(root);
  if (typeof module === 'object' && module && module.exports)
    module.exports = library;
  else
    root.Orvanta = library;
}(typeof window !== 'undefined' ? window : (typeof globalThis !== 'undefined' ? globalThis : this), function (defaultWindow) {
  'use strict';

  // The product's version: the orvanta package, the extension and orvanta-host of one
  // release carry it.
  var VERSION = '1.1.0';
  // What the root object's "version" answers: the page API these calls follow.
  var API_VERSION = '1.1';
  var MIME_TYPE = 'application/x-orvanta';
  var CLASS_ID = 'clsid:7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7';

  var METHODS = [
    'get_version',
    'olvIsTokenPresentAndOK', 'olvIsUserLoggedIn', 'olvUserLoginDlg', 'olvLogout',
    'olvSign', 'olvGenKeyPair', 'olvDestroyContainer', 'olvGetNumberOfContainers',
    'olvGetPublicKey', 'olvGetContainerName', 'olvRepair'
  ];

  var STATES = {
    READY: 'ready',
    NOT_INSTALLED: 'not-installed',
    HOST_MISSING: 'host-missing',
    VERSION_MISMATCH: 'version-mismatch',
    MODULE_MISSING: 'module-missing',
    NO_TOKEN: 'no-token',
    ORIGIN_REFUSED: 'origin-refused',
    ORIGIN_NOT_ASKED: 'origin-not-asked'
  };

  var SENTENCES = {
    'ready': 'orvanta is ready.',
    'not-installed': 'orvanta is not installed in this browser.',
    'host-missing': 'The orvanta extension is installed, but its program orvanta-host is not installed ' +
      'for this browser or cannot be started.',
    'version-mismatch': 'The orvanta extension and the orvanta program on this computer are of different ' +
      'versions: install one version of both.',
    'module-missing': 'The token\'s driver (the PKCS#11 module olpkcs11xsg) is missing or fails to load.',
    'no-token': 'No token is connected: insert the token.',
    'origin-refused': 'This site is not allowed to use the token.',
    'origin-not-asked': 'orvanta is installed. This site has not been allowed to use the token yet: ' +
      'its first token call asks you.'
  };

  var REFUSAL = /is not allowed to use the token|is not a secure origin|no origin of its own|cannot be read/;

  // ---- What to install, for this browser and system -------------------------------------

  function installAdvice(userAgent, platform) {
    var ua = String(userAgent || '');
    var windows = /Windows/.test(ua) || /^Win/.test(String(platform || ''));
    var linux = !windows && /Linux|X11/.test(ua) && !/Android/.test(ua);
    var deb = 'orvanta_' + VERSION + '_amd64.deb';
    var msi = 'orvanta-' + VERSION + '.msi';
    var advice = { system: windows ? 'windows' : (linux ? 'linux' : 'other') };
    if (/Trident\/|MSIE /.test(ua)) {
      advice.browser = 'internet-explorer';
      advice.file = msi;
      advice.text = 'Install orvanta for Windows (' + msi + '): it registers the orvanta control for this browser.';
    } else if (/Firefox\//.test(ua)) {
      advice.browser = 'firefox';
      advice.file = 'orvanta.xpi';
      advice.text = 'Add the orvanta add-on (orvanta.xpi) to Firefox, and install the orvanta program: ' +
        (windows ? msi : (linux ? 'sudo apt install ./' + deb : 'orvanta-host')) + '.';
      if (linux)
        advice.command = 'sudo apt install ./' + deb;
    } else if (/Chrome\/|Chromium\/|Edg\//.test(ua)) {
      advice.browser = /Edg\//.test(ua) ? 'edge' : 'chromium';
      if (windows) {
        advice.file = msi;
        advice.text = 'Install orvanta for Windows (' + msi + ') and add the orvanta extension to this browser.';
      } else if (linux) {
        advice.command = 'sudo apt install ./' + deb;
        advice.file = deb;
        advice.text = 'Install the orvanta package (' + advice.command + ') and add the orvanta extension to ' +
          'this browser.';
      } else {
        advice.text = 'Add the orvanta extension to this browser from its extension store, and install orvanta-host.';
      }
    } else {
      // A browser that loads NPAPI plug-ins.
      advice.browser = 'plugin-browser';
      if (windows) {
        advice.file = msi;
        advice.text = 'Install orvanta for Windows (' + msi + '): it installs the orvanta plug-in.';
      } else if (linux) {
        advice.command = 'sudo apt install ./' + deb;
        advice.file = deb;
        advice.text = 'Install the orvanta plug-in (' + advice.command + ').';
      } else {
        advice.text = 'Install the orvanta plug-in (nporvanta) into this browser\'s plug-in folder.';
      }
    }
    return advice;
  }

  // ---- States ---------------------------------------------------------------------------

  function state(code, fields) {
    var result = { code: code, message: SENTENCES[code] };
    for (var key in fields)
      if (Object.prototype.hasOwnProperty.call(fields, key) && fields[key] !== undefined)
        result[key] = fields[key];
    if (result.detail !== undefined)
      result.detail = String(result.detail);
    if (result.install)
      result.message += ' ' + result.install.text;
    return result;
  }

  // The extension's status report (what it and orvanta-host found) as one state. The links
  // are judged in the order they are crossed: host, versions, the page's origin, module, token.
  function stateFromReport(report) {
    var via = { via: 'extension', versions: { extension: report && report.extension, host: report && report.host } };
    function make(code, detail) {
      return state(code, { via: via.via, versions: via.versions, detail: detail });
    }
    if (!report || typeof report !== 'object')
      return make(STATES.HOST_MISSING, 'The orvanta extension gave no status');
    if (report.hostError !== undefined)
      return make(STATES.HOST_MISSING, report.hostError);
    if (report.hostRefused !== undefined)
      return make(STATES.VERSION_MISMATCH, 'orvanta-host is older than the extension ' + report.extension +
        ': ' + report.hostRefused);
    if (report.host !== report.extension)
      return make(STATES.VERSION_MISMATCH, 'extension ' + report.extension + ', orvanta-host ' + report.host);
    if (report.origin === 'refused')
      return make(STATES.ORIGIN_REFUSED, report.reason);
    if (report.origin === 'not-asked')
      return make(STATES.ORIGIN_NOT_ASKED);
    if (report.origin !== 'allowed')
      return make(STATES.VERSION_MISMATCH, 'orvanta-host answered a status this page does not know');
    if (report.module === 'failed')
      return make(STATES.MODULE_MISSING, report.moduleError || ('status ' + report.moduleStatus));
    if (report.token === 'absent')
      return make(STATES.NO_TOKEN);
    if (report.token === 'failed')
      return make(STATES.MODULE_MISSING, 'The module could not list the tokens (status ' + report.tokenStatus + ')' +
        (report.tokenError ? ': ' + report.tokenError : ''));
    if (report.token === 'present')
      return make(STATES.READY);
    return make(STATES.VERSION_MISMATCH, 'orvanta-host answered a status this page does not know');
  }

  // ---- Promises or callbacks --------------------------------------------------------------

  function errorOf(thrown) {
    if (thrown instanceof Error)
      return thrown;
    var message = thrown && thrown.message !== undefined ? thrown.message : thrown;
    var error = new Error(String(message));
    if (thrown && thrown.code !== undefined)
      error.code = thrown.code;
    return error;
  }

  // Runs `start(done)` and answers the way the caller asked: a Promise (when the browser has
  // one), and the callback when one was given.
  function answer(win, callback, start) {
    var PromiseType = win.Promise || null;
    if (!PromiseType && typeof callback !== 'function')
      throw new Error('This browser has no Promise: pass a callback as the last argument, ' +
        'called as callback(error, value)');
    var settled = false;
    var promise = null;
    var resolvePromise = null;
    var rejectPromise = null;
    if (PromiseType) {
      promise = new PromiseType(function (resolve, reject) {
        resolvePromise = resolve;
        rejectPromise = reject;
      });
      if (typeof callback === 'function')
        promise.then(null, function () {});  // the callback is told; no unhandled rejection
    }
    function done(error, value) {
      if (settled)
        return;
      settled = true;
      if (error) {
        if (rejectPromise)
          rejectPromise(error);
      } else if (resolvePromise) {
        resolvePromise(value);
      }
      if (typeof callback === 'function')
        callback(error || null, error ? undefined : value);
    }
    try {
      start(done);
    } catch (e) {
      done(errorOf(e));
    }
    return promise;
  }

  function splitCallback(args) {
    var list = Array.prototype.slice.call(args);
    var callback = list.length && typeof list[list.length - 1] === 'function' ? list.pop() : null;
    return { list: list, callback: callback };
  }

  // ---- Finding orvanta -------------------------------------------------------------------

  function Finder(win, options) {
    this.win = win;
    this.doc = win.document;
    this.options = options || {};
    this.found = null;     // {via, target} once found
    this.refusal = null;   // what a refused call of this page was told (the plug-in paths)
    this.waiting = null;   // callbacks while a search runs
  }

  function isElement(value) {
    return !!value && typeof value === 'object' && value.nodeType === 1;
  }

  function hasMember(target, name) {
    try {
      return typeof target[name] !== 'undefined';
    } catch (e) {
      return false;
    }
  }

  function extensionObject(win) {
    var object;
    try {
      object = win.orvanta;
    } catch (e) {
      return null;
    }
    return object && !isElement(object) && typeof object.olvSign === 'function' ? object : null;
  }

  Finder.prototype.later = function (milliseconds, run) {
    var timers = this.options.setTimeout || this.win.setTimeout;
    return timers.call(this.win, run, milliseconds);
  };

  Finder.prototype.find = function (done) {
    if (this.found)
      return done(this.found);
    if (this.waiting) {
      this.waiting.push(done);
      return;
    }
    this.waiting = [done];
    var self = this;
    this.searchExtension(function (found) {
      if (found)
        return self.settle(found);
      self.searchPlugin(function (plugin) {
        self.settle(plugin);
      });
    });
  };

  Finder.prototype.settle = function (found) {
    this.found = found;
    var waiting = this.waiting || [];
    this.waiting = null;
    for (var i = 0; i < waiting.length; ++i)
      waiting[i](found);
  };

  // The extension puts its object on the window before the page's own scripts run, and fires
  // "orvanta-ready" once they can listen; a page that runs this early waits for either.
  Finder.prototype.searchExtension = function (done) {
    var win = this.win;
    var doc = this.doc;
    var object = extensionObject(win);
    if (object)
      return done({ via: 'extension', target: object });
    var finished = false;
    function finish() {
      if (finished)
        return;
      finished = true;
      var late = extensionObject(win);
      done(late ? { via: 'extension', target: late } : null);
    }
    if (doc && doc.addEventListener) {
      doc.addEventListener('orvanta-ready', finish, false);
      if (doc.readyState === 'loading')
        doc.addEventListener('DOMContentLoaded', function () { this.later(50, finish); }.bind(this), false);
      else
        this.later(this.options.extensionWait === undefined ? 50 : this.options.extensionWait, finish);
    } else {
      finish();
    }
  };

  Finder.prototype.pluginKind = function () {
    var types = this.win.navigator && this.win.navigator.mimeTypes;
    var type = null;
    try {
      type = types && (types[MIME_TYPE] || (types.namedItem && types.namedItem(MIME_TYPE)));
    } catch (e) {
      type = null;
    }
    if (type && (type.enabledPlugin === undefined || type.enabledPlugin))
      return 'npapi';
    if ('ActiveXObject' in this.win)
      return 'activex';
    return null;
  };

  // The plug-in: the page's own element when it gave one, otherwise an element made here
  // (an <embed> by MIME type, or an <object> by the control's class id). Its root object
  // scripts once the browser has made the instance; that is waited for.
  Finder.prototype.searchPlugin = function (done) {
    var self = this;
    var given = this.options.element;
    var kind = given ? (given.tagName && given.tagName.toLowerCase() === 'object' && 'ActiveXObject' in this.win
      ? 'activex' : 'npapi') : this.pluginKind();
    if (!kind)
      return done(null);
    var doc = this.doc;
    if (!given && !doc.body) {
      doc.addEventListener('DOMContentLoaded', function () { self.searchPlugin(done); }, false);
      return;
    }
    // The plug-in's "onload" parameter names a window function it calls with its root object.
    var loaded = { root: null };
    var element = given || this.embed(kind, loaded);
    var waited = 0;
    var limit = this.options.pluginTimeout === undefined ? 5000 : this.options.pluginTimeout;
    (function poll() {
      var target = loaded.root || element;
      if (hasMember(target, 'olvSign') && hasMember(target, 'version'))
        return done({ via: kind, target: target, element: element });
      if (waited >= limit)
        return done(given || kind === 'npapi' ? { via: kind, target: null, element: element } : null);
      waited += 50;
      self.later(50, poll);
    }());
  };

  var embedCount = 0;

  Finder.prototype.embed = function (kind, loaded) {
    var doc = this.doc;
    var element;
    var onload = 'orvantaJsLoaded' + (++embedCount) + '_' + Math.floor(Math.random() * 1e9);
    this.win[onload] = function (object) { loaded.root = object; };
    if (kind === 'activex') {
      element = doc.createElement('object');
      element.setAttribute('classid', CLASS_ID);
      var param = doc.createElement('param');
      param.setAttribute('name', 'onload');
      param.setAttribute('value', onload);
      element.appendChild(param);
    } else {
      element = doc.createElement('embed');
      element.setAttribute('type', MIME_TYPE);
      element.setAttribute('onload', onload);
    }
    element.setAttribute('width', '1');
    element.setAttribute('height', '1');
    // Out of sight but laid out: a browser makes no plug-in instance for an element it does
    // not display.
    element.setAttribute('style', 'position: absolute; left: -1000px; top: 0;');
    doc.body.appendChild(element);
    return element;
  };

  function notInstalledError() {
    var error = new Error(SENTENCES['not-installed']);
    error.code = STATES.NOT_INSTALLED;
    return error;
  }

  // ---- One API over every path ------------------------------------------------------------

  // A plug-in's method, called with the page's arguments; its answer or its exception.
  function callPlugin(target, name, args) {
    switch (args.length) {
    case 0: return target[name]();
    case 1: return target[name](args[0]);
    case 2: return target[name](args[0], args[1]);
    case 3: return target[name](args[0], args[1], args[2]);
    default: return target[name].apply(target, args);
    }
  }

  Finder.prototype.invoke = function (found, name, args, done) {
    var self = this;
    function failed(e) {
      var error = errorOf(e);
      if (REFUSAL.test(error.message))
        self.refusal = error.message;
      done(error);
    }
    if (!found || !found.target)
      return done(notInstalledError());
    var value;
    try {
      value = callPlugin(found.target, name, args);
    } catch (e) {
      return failed(e);
    }
    if (value && typeof value.then === 'function')
      value.then(function (v) { done(null, v); }, failed);
    else
      done(null, value);
  };

  Finder.prototype.api = function (found) {
    var self = this;
    var api = { via: found.via };
    function method(name) {
      return function () {
        var split = splitCallback(arguments);
        return answer(self.win, split.callback, function (done) {
          self.invoke(found, name, split.list, done);
        });
      };
    }
    for (var i = 0; i < METHODS.length; ++i)
      api[METHODS[i]] = method(METHODS[i]);
    return api;
  };

  // ---- status() on each path ----------------------------------------------------------------

  Finder.prototype.statusOf = function (found, done) {
    var win = this.win;
    if (!found)
      return done(state(STATES.NOT_INSTALLED, {
        via: null,
        install: installAdvice(this.options.userAgent || (win.navigator && win.navigator.userAgent),
                               this.options.platform || (win.navigator && win.navigator.platform))
      }));
    if (found.via === 'extension')
      return this.extensionStatus(found, done);
    return done(this.pluginStatus(found));
  };

  Finder.prototype.extensionStatus = function (found, done) {
    var object = found.target;
    if (typeof object.status !== 'function')
      return done(state(STATES.VERSION_MISMATCH, {
        via: 'extension', detail: 'The orvanta extension is older than ' + VERSION + ' and cannot tell its status'
      }));
    var finished = false;
    function finish(result) {
      if (!finished) {
        finished = true;
        done(result);
      }
    }
    var limit = this.options.timeout === undefined ? 20000 : this.options.timeout;
    this.later(limit, function () {
      finish(state(STATES.HOST_MISSING, { via: 'extension', detail: 'orvanta-host gave no answer in ' + limit + ' ms' }));
    });
    try {
      object.status().then(function (report) {
        finish(stateFromReport(report));
      }, function (e) {
        finish(state(STATES.HOST_MISSING, { via: 'extension', detail: errorOf(e).message }));
      });
    } catch (e) {
      finish(state(STATES.HOST_MISSING, { via: 'extension', detail: errorOf(e).message }));
    }
  };

  // The plug-in answers no status of its own, and asking the token would ask the person: it
  // is judged by what the page can see without a token call. `checked` says what that was.
  Finder.prototype.pluginStatus = function (found) {
    var fields = { via: found.via, checked: ['plug-in', 'version'] };
    if (!found.target) {
      fields.detail = 'The browser lists the orvanta plug-in, but it does not answer script';
      fields.install = installAdvice(this.options.userAgent || (this.win.navigator && this.win.navigator.userAgent),
                                     this.options.platform || (this.win.navigator && this.win.navigator.platform));
      return state(STATES.NOT_INSTALLED, fields);
    }
    var version;
    try {
      version = found.target.version;
    } catch (e) {
      fields.detail = errorOf(e).message;
      return state(STATES.NOT_INSTALLED, fields);
    }
    fields.versions = { plugin: version };
    if (version !== API_VERSION) {
      fields.detail = 'The plug-in offers page API ' + version + '; this page expects ' + API_VERSION;
      return state(STATES.VERSION_MISMATCH, fields);
    }
    if (this.refusal) {
      fields.detail = this.refusal;
      return state(STATES.ORIGIN_REFUSED, fields);
    }
    fields.limits = 'The token, its module and this site\'s permission are checked on the first token call.';
    return state(STATES.READY, fields);
  };

  // ---- The library --------------------------------------------------------------------------

  function create(win) {
    var finders = [];
    function finderFor(options) {
      options = options || {};
      var target = options.window || win;
      // One search per window and element: the plug-in is embedded once.
      for (var i = 0; i < finders.length; ++i) {
        if (finders[i].win === target && finders[i].options.element === options.element) {
          // This call's waiting times hold for this call on.
          for (var key in options)
            if (Object.prototype.hasOwnProperty.call(options, key))
              finders[i].options[key] = options[key];
          return finders[i];
        }
      }
      var finder = new Finder(target, options);
      finders.push(finder);
      return finder;
    }
    function optionsAndCallback(args) {
      var split = splitCallback(args);
      return { options: split.list[0] || {}, callback: split.callback };
    }
    return {
      VERSION: VERSION,
      API_VERSION: API_VERSION,
      STATES: STATES,
      MESSAGES: SENTENCES,

      // How orvanta stands for this page: {code, message, via, detail?, install?, versions?,
      // checked?, limits?}. Never rejects for a broken installation: that is a state.
      status: function () {
        var call = optionsAndCallback(arguments);
        var finder = finderFor(call.options);
        return answer(finder.win, call.callback, function (done) {
          finder.find(function (found) {
            finder.statusOf(found, function (result) { done(null, result); });
          });
        });
      },

      // The token methods over whichever path was found. Rejects (error.code "not-installed")
      // when there is none.
      connect: function () {
        var call = optionsAndCallback(arguments);
        var finder = finderFor(call.options);
        return answer(finder.win, call.callback, function (done) {
          finder.find(function (found) {
            if (!found || !found.target)
              return done(notInstalledError());
            done(null, finder.api(found));
          });
        });
      },

      // The pieces a site (and the tests) may use on their own.
      stateFromReport: stateFromReport,
      installAdvice: installAdvice,
      create: create
    };
  }

  return create(defaultWindow);
}));

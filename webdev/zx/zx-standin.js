// @ts-check
// A stand-in for the Fenestra shell's `zx`, so that a page can be developed in
// an ordinary browser. Load it before the page's own scripts:
//
//   <script src="zx-standin.js"></script>
//
// Inside the shell it does nothing: every page there has Qt's channel
// transport, and the shell's own `zx` is the only one such a page may use.
// Elsewhere it defines `zx`, logs every call to the console and answers as the
// shell would, by the same rules: refused inputs have no effect, downloadFile
// answers the path where the shell would store the file (nothing is fetched,
// no callback address is requested, no program starts, no browser opens).
(function () {
  'use strict';

  var qt = /** @type {any} */ (window).qt;
  var inShell = typeof qt === 'object' && qt !== null && !!qt.webChannelTransport;
  if (inShell || window.zx)
    return;

  // Where the installer puts the shell by default.
  var appDir = 'C:/Users/用户/AppData/Local/Programs/Fenestra';

  /** @param {...any} parts */
  function log(...parts) {
    console.info('[zx stand-in]', ...parts);
  }

  // Characters XML 1.0 can hold (config.dll must stay readable).
  /** @param {string} text */
  function isXmlText(text) {
    return !/[^\t\n\r\u0020-\uD7FF\uE000-\uFFFD\u{10000}-\u{10FFFF}]/u.test(text);
  }

  // Names as the shell's XML reader takes them: no colon, and of the CJK
  // ideographs only the common block.
  /** @param {string} name */
  function isXmlName(name) {
    return isXmlText(name) && /^[\p{L}_][\p{L}\p{Nd}\p{M}._\-\u00B7]*$/u.test(name)
        && !/(?![\u4E00-\u9FA5\u3007\u3021-\u3029])\p{Script=Han}/u.test(name);
  }

  // The text after the last "/" must be a name Windows stores as given.
  /** @param {string} name */
  function isPortableFileName(name) {
    if (name === '' || /[\u0000-\u001F\u007F-\u009F\/\\:<>"|?*]/.test(name) || /[. ]$/.test(name))
      return false;
    var stem = name.split('.')[0].replace(/ +$/, '').toUpperCase();
    return !/^(CON|PRN|AUX|NUL|(COM|LPT)[1-9\u00B9\u00B2\u00B3])$/.test(stem)
        && !/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?:[^\uD800-\uDBFF]|^)[\uDC00-\uDFFF]/.test(name);
  }

  // A folder relative to the shell's, as the shell resolves it.
  /** @param {string} dir */
  function folderOf(dir) {
    var path = (dir || 'server/www/src').replace(/\\/g, '/');
    if (!/^([A-Za-z]:)?\//.test(path))
      path = appDir + '/' + path;
    var parts = /** @type {string[]} */ ([]);
    path.split('/').forEach(function (part, i) {
      if (part === '..' && parts.length > 1)
        parts.pop();
      else if (i === 0 || (part !== '' && part !== '.'))
        parts.push(part);
    });
    return parts.join('/');
  }

  // Capture 1: the program; capture 2: its comma-separated arguments. White
  // space as the shell's pattern sees it: ASCII only, a line break ends the rest.
  var wordAndRest = /^([^\t\n\v\f\r ]+)[\t\n\v\f\r ]+([^\n]*)$/;

  /**
   * @param {string} cmd
   * @param {string} args
   * @returns {string}
   */
  function startsWhat(cmd, args) {
    if (cmd.indexOf('\0') >= 0 || args.indexOf('\0') >= 0)
      return 'nothing: the program text or its argument contains NUL';
    if (args !== '')
      return JSON.stringify(cmd) + ' with ' + JSON.stringify([args]) + ' in ' + appDir;
    var match = wordAndRest.exec(cmd);
    if (!match)
      return cmd === '' ? 'nothing: no program' : JSON.stringify(cmd) + ' without arguments';
    var rest = match[1] === 'explorer' ? '.\\excel\\' : match[2];
    return JSON.stringify(match[1]) + ' with ' + JSON.stringify(rest.split(',')) + ' in ' + appDir;
  }

  /** @param {string} url */
  function opensWhat(url) {
    var address = url.indexOf('http://') >= 0 || /^[A-Za-z][A-Za-z0-9+.-]*:\/\//.test(url) ? url : 'http://' + url;
    try {
      var scheme = new URL(address).protocol;
      if (scheme === 'http:' || scheme === 'https:')
        return address;
    } catch (e) {
    }
    return null;
  }

  /**
   * Takes the arguments as the channel does: a function among them is the
   * reply function, the others are sent as texts. Without a reply function the
   * call answers with a promise. The method runs only with an argument count
   * that the shell's object has.
   * @param {string} name
   * @param {number[]} counts
   * @param {(...texts: string[]) => any} method
   */
  function call(name, counts, method) {
    return function (/** @type {any[]} */ ...given) {
      var reply = given.filter(function (a) { return typeof a === 'function'; }).pop();
      var texts = given.filter(function (a) { return typeof a !== 'function'; })
          .map(function (a) { return a === null || a === undefined ? '' : String(a); });
      if (counts.indexOf(texts.length) < 0) {
        console.error('[zx stand-in] zx.' + name + ' takes ' + counts.join(' or ') + ' arguments, not '
                      + texts.length + ': the shell does not run this call');
        return reply ? undefined : new Promise(function () {});
      }
      var answer = method.apply(null, texts);
      var delivered = new Promise(function (resolve) {
        setTimeout(function () { resolve(answer === undefined ? null : answer); }, 0);
      });
      if (!reply)
        return delivered;
      delivered.then(reply);
      return undefined;
    };
  }

  /** @type {any} */
  var standIn = {
    setConfig: call('setConfig', [3], function (name, attr, value) {
      if (isXmlName(name) && isXmlName(attr) && isXmlText(value))
        log('setConfig: config.dll would get', '<' + name + ' ' + attr + '=' + JSON.stringify(value) + '/>');
      else
        log('setConfig refused: the name, attribute or value cannot be stored in XML', [name, attr, value]);
    }),
    run: call('run', [0, 1, 2], function (cmd, args) {
      log('run(' + JSON.stringify(cmd || '') + ', ' + JSON.stringify(args || '') + ') would start '
          + startsWhat(cmd || '', args || ''));
    }),
    openUrlExt: call('openUrlExt', [1], function (url) {
      var address = opensWhat(url);
      if (address)
        log('openUrlExt would open', address, 'in the system browser');
      else
        log('openUrlExt refused: 网址语法错误!', url);
    }),
    downloadFile: call('downloadFile', [3], function (fUrl, dstDir, callback) {
      var name = fUrl.slice(fUrl.lastIndexOf('/') + 1);
      if (!isPortableFileName(name)) {
        log('downloadFile refused: Windows cannot store the name', JSON.stringify(name), '→ ""');
        return '';
      }
      var path = folderOf(dstDir) + '/' + name;
      log('downloadFile', fUrl, '→', JSON.stringify(path), callback ? '(the shell would then request ' + callback + ')' : '');
      return path;
    })
  };
  window.zx = standIn;
  log('in use: this page runs outside the Fenestra shell');
})();

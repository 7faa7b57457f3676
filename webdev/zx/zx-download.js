// @ts-check
// zxDownloadFile(fUrl, dstDir, callback): zx.downloadFile as a promise that
// also waits for the shell to give the page its `zx` (shortly after loading).
// Load it with <script src="zx-download.js"></script>; types in zx-download.d.ts.

/**
 * @param {string} fUrl
 * @param {string} [dstDir]
 * @param {string} [callback]
 * @returns {Promise<string>}
 */
function zxDownloadFile(fUrl, dstDir, callback) {
  var waited = 0;
  return new Promise(function (resolve, reject) {
    (function whenReady() {
      var bridge = window.zx;
      if (bridge)
        bridge.downloadFile(fUrl, dstDir || '', callback || '', resolve);
      else if ((waited += 50) > 10000)
        reject(new Error('zx is not available on this page'));
      else
        setTimeout(whenReady, 50);
    })();
  });
}

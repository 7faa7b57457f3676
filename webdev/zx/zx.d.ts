// The `zx` object that the Fenestra desktop shell gives the company's pages.
// Copy this file into a project (or install the folder with npm) and put
// `// @ts-check` at the top of a plain JavaScript file: an editor or `tsc`
// then knows every call, its arguments and its answer.
//
// Calls travel to the shell over Qt's web channel and are asynchronous. Every
// call answers with a promise; a function given after the arguments (the
// channel's reply function) receives the answer instead. All arguments are
// texts. No call reports an error: what the shell refuses simply has no effect.

/** The bridge object of the Fenestra shell. */
interface Zx {
    /**
     * Sets the attribute `attr` of the first element `name` in `config.dll`
     * beside the shell (appending the element when there is none) and reloads
     * the configuration. A new start address takes effect at the next start.
     *
     * Refused (nothing changes): `name` or `attr` not an XML name (letters,
     * digits, `_`, `-`, `.`, not starting with a digit, `-` or `.`, no colon, no
     * space: `服务器` is fine, `a b`, `1x`, `x=y`, `a:b` are not); `value` with a
     * character XML 1.0 cannot hold (NUL and other control characters except
     * tab and line breaks, U+FFFE, U+FFFF). Also unchanged when `config.dll`
     * cannot be read or written.
     *
     * @example zx.setConfig('server', 'url', '192.168.1.20');
     */
    setConfig(name: string, attr: string, value: string): Promise<void>;

    /**
     * Starts a local program detached; the shell neither waits for it nor
     * reports whether it started.
     *
     * - `run(cmd, args)`, `args` not empty: the program `cmd` as it is, with
     *   the single argument `args` (not split), in the shell's folder. Use this
     *   form for a program whose path contains spaces.
     * - `run('word rest')`: the program `word` with `rest` split at every
     *   comma (`'prog a,b'` passes `a` and `b`), in the shell's folder;
     *   `'explorer anything'` opens the folder `excel` beside the shell.
     * - `run('word')`, or a text starting with white space: the whole text
     *   is the program, without arguments, in the shell's current folder.
     *
     * Refused (nothing starts): `run()` and `run('')`; `cmd` or `args`
     * containing a NUL character; a program the system cannot find.
     *
     * @example zx.run('notepad', 'readme.txt');
     */
    run(cmd?: string, args?: string): Promise<void>;

    /**
     * Opens the address in the system's default browser. An address that
     * neither starts with a scheme and `://` nor contains `http://` gets
     * `http://` in front (`host/page` opens `http://host/page`).
     *
     * Refused (nothing opens, the shell logs "网址语法错误!"): a scheme other
     * than `http` and `https` (`file://`, `smb://`, `ftp://` ...), an address
     * that does not parse, one the desktop cannot open.
     *
     * @example zx.openUrlExt(location.origin + '/help');
     */
    openUrlExt(url: string): Promise<void>;

    /**
     * Downloads `fUrl` while a small progress window with a cancel button is
     * shown, and stores it under the text after the last `/` of `fUrl` in the
     * folder `dstDir` (relative to the shell's folder; `''` means
     * `server/www/src`; missing folders are created). A file of that name is
     * replaced only once the download has succeeded. Then, when `callback` is
     * not empty, the shell requests the address `callback` once (a server
     * address, not a page function) and ignores its answer.
     *
     * Answers the full path of the stored file (forward slashes, e.g.
     * `C:/Users/li/AppData/Local/Programs/Fenestra/server/www/src/a.pdf`),
     * or `''` when the download failed, was cancelled or could not be stored.
     *
     * Refused at once with `''` (no request, no window, no folder), because
     * Windows could not store the name as given: `fUrl` ending in `/`; a
     * name containing `\ / : < > " | ? *` or a control character (so leave
     * a query such as `?v=2` off); a name ending in a dot or a space; the
     * device names `CON`, `PRN`, `AUX`, `NUL`, `COM1`–`COM9`, `LPT1`–`LPT9`
     * in any letter case, also with an extension (`aux.txt`).
     *
     * While a download runs a second one may start; the first answers only
     * after the second has finished.
     *
     * @example zx.downloadFile(url, 'downloads', '').then(function (path) { ... });
     */
    downloadFile(fUrl: string, dstDir: string, callback: string): Promise<string>;
    /**
     * The same with the channel's reply function, which receives the path of
     * the stored file or `''` (see the form without it).
     *
     * @example zx.downloadFile(url, 'downloads', '', function (path) { ... });
     */
    downloadFile(fUrl: string, dstDir: string, callback: string, reply: (path: string) => void): void;
}

/**
 * The bridge, once the shell has given it to the page: `undefined` until then
 * (shortly after the page has loaded), in an ordinary browser (unless the
 * stand-in `zx-standin.js` is loaded) and on pages of other sites.
 */
declare var zx: Zx | undefined;

/// <reference path="zx.d.ts" />

/**
 * `zx.downloadFile` as a promise. Waits up to 10 seconds for the shell to give
 * the page its `zx`, then downloads `fUrl` into `dstDir` (default `''`, the
 * folder `server/www/src`) and requests `callback` (default `''`: none).
 *
 * Resolves with the full path of the stored file, or `''` when the download
 * failed, was cancelled, could not be stored or was refused (see
 * `Zx.downloadFile`). Rejects only when the page has no `zx` after 10 seconds:
 * a page outside the shell without the stand-in, or of another site.
 */
declare function zxDownloadFile(fUrl: string, dstDir?: string, callback?: string): Promise<string>;

/// <reference path="zx.d.ts" />
/// <reference path="zx-download.d.ts" />

// Writes the scripts of pages and of the guide's examples as separate
// JavaScript files, so that tsc can check them. Each output keeps its source's
// line numbers (tsc's messages point into the page or the guide); its name is
// the source's path, "~", a number and ".js".
//
//   node page-scripts.js OUTDIR FILE...    FILE: .html, .js or .md
'use strict';
const fs = require('fs');
const path = require('path');

const [outDir, ...sources] = process.argv.slice(2);

// The inline scripts of an HTML text, each with the line it starts on.
function inlineScripts(html, firstLine) {
  const scripts = [];
  for (const m of html.matchAll(/<script(\s[^>]*)?>([\s\S]*?)<\/script>/gi)) {
    if (/\ssrc\s*=/i.test(m[1] || ''))
      continue;
    const start = m.index + m[0].indexOf('>') + 1;
    scripts.push({ line: firstLine + lineOf(html, start), text: m[2] });
  }
  return scripts;
}

function lineOf(text, index) {
  return text.slice(0, index).split('\n').length - 1;
}

// One program's scripts in one file, each on its own lines.
function joined(scripts) {
  let out = '';
  for (const s of scripts)
    out += '\n'.repeat(Math.max(0, s.line - lineOf(out, out.length))) + s.text;
  return out;
}

function programsOf(file, text) {
  if (file.endsWith('.js'))
    return [[{ line: 0, text }]];
  if (file.endsWith('.html'))
    return [inlineScripts(text, 0)];
  // Markdown: every js block, and the scripts of every html block.
  const programs = [];
  for (const m of text.matchAll(/^```(js|javascript|html)\n([\s\S]*?)^```/gm)) {
    const line = lineOf(text, m.index) + 1;
    programs.push(m[1] === 'html' ? inlineScripts(m[2], line) : [{ line, text: m[2] }]);
  }
  return programs;
}

for (const file of sources) {
  const programs = programsOf(file, fs.readFileSync(file, 'utf8')).filter((p) => p.length > 0);
  programs.forEach((scripts, i) => {
    const out = path.join(outDir, `${file}~${i + 1}.js`);
    fs.mkdirSync(path.dirname(out), { recursive: true });
    fs.writeFileSync(out, joined(scripts));
  });
}

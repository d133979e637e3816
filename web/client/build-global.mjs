// Writes modbus-bridge.global.js, the client as a classic script: browsers load no modules into
// a page opened from disk (file://), and the demo page must work that way.
// Run `node web/client/build-global.mjs` after changing modbus-bridge.js; a test checks it.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const modulePath = path.join(here, 'modbus-bridge.js');
export const globalPath = path.join(here, 'modbus-bridge.global.js');
const EXPORT = /^export (const|class|function|async function) ([A-Za-z_$][\w$]*)/gm;

export function globalScript(moduleSource) {
  const names = [...moduleSource.matchAll(EXPORT)].map((m) => m[2]);
  const body = moduleSource.replace(EXPORT, '$1 $2');
  return '// Generated from modbus-bridge.js by build-global.mjs; do not edit. The same client as a\n' +
    '// classic script for pages opened from disk: it defines the global ModbusBridgeClient.\n' +
    "(() => {\n'use strict';\n\n" + body +
    `\nglobalThis.ModbusBridgeClient = Object.freeze({ ${names.join(', ')} });\n})();\n`;
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  fs.writeFileSync(globalPath, globalScript(fs.readFileSync(modulePath, 'utf8')));
  console.log(`wrote ${globalPath}`);
}

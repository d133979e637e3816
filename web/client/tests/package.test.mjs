// The client as it is shipped: declarations that name everything the module has, and a package
// that npm packs and installs.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import * as client from '../modbus-bridge.js';

const clientDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const declarations = fs.readFileSync(path.join(clientDir, 'modbus-bridge.d.ts'), 'utf8');

test('the declarations name every export, method and PDU builder', () => {
  const block = (start) => {
    const from = declarations.indexOf(start);
    assert.notEqual(from, -1, `no "${start}" in the declarations`);
    return declarations.slice(from, declarations.indexOf('\n}', from));
  };
  for (const name of Object.keys(client)) {
    assert.match(declarations, new RegExp(`export (const|class|function) ${name}\\b`), `export ${name}`);
  }
  const bridgeBlock = block('export class ModbusBridge {');
  for (const method of Object.getOwnPropertyNames(client.ModbusBridge.prototype).filter((m) => m !== 'constructor')) {
    assert.match(bridgeBlock, new RegExp(`\\b${method}[<(:]`), `ModbusBridge.${method}`);
  }
  const pduBlock = block('export const pdu: {');
  for (const builder of Object.keys(client.pdu)) {
    assert.match(pduBlock, new RegExp(`\\b${builder}\\(`), `pdu.${builder}`);
  }
});

test('npm pack makes a package that npm installs and Node imports', () => {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'client-pack-'));
  try {
    const packed = JSON.parse(execFileSync('npm', ['pack', '--json', '--pack-destination', work],
      { cwd: clientDir, encoding: 'utf8' }))[0];
    const guide = fs.readFileSync(path.resolve(clientDir, '..', '..', 'docs', 'user-guide.md'), 'utf8');
    assert.equal(packed.filename, /npm install \.\/(modbus-bridge-client-[^`]+\.tgz)/.exec(guide)?.[1],
      'the package the user guide tells to install');
    assert.deepEqual(packed.files.map((f) => f.path).sort(),
      ['modbus-bridge.d.ts', 'modbus-bridge.js', 'package.json']);
    const page = path.join(work, 'page');
    fs.mkdirSync(page);
    fs.writeFileSync(path.join(page, 'package.json'), '{"name":"page","version":"1.0.0","type":"module"}\n');
    execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', path.join(work, packed.filename)],
      { cwd: page, encoding: 'utf8' });
    const imported = execFileSync(process.execPath, ['--input-type=module', '-e',
      "import { ModbusBridge, pdu } from 'modbus-bridge-client'; " +
      "console.log(new ModbusBridge({ comPort: 1, slave: 1 }).url, pdu.readDeviceSection().bytes[0])"],
    { cwd: page, encoding: 'utf8' });
    assert.equal(imported.trim(), 'http://localhost:19284/ 69');
  } finally {
    fs.rmSync(work, { recursive: true, force: true });
  }
});

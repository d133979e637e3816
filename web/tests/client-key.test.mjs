// The client against a bridge whose settings file sets an access key: the key goes with every
// request, and a wrong or missing one is refused with 125 (an access refusal, by its kind), also
// from the bridge's own page, whose origin needs no answer but whose requests need the key.
//
// Environment: MODBUS_SIM and MODBUS_BRIDGED (set by CTest), CHROMIUM (default /usr/bin/chromium).
// It uses port 19284: run it alone on that port (CTest's resource lock, or a network namespace).
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { BRIDGE_PORT } from './bridge-port.mjs';
import { launchChromium, startBridge, startSim, stop } from './programs.mjs';

// Spaces, a plus sign, an ampersand and Cyrillic: everything that form encoding can get wrong.
const KEY = 'ключ доступа+1&2=3';

let browser;
let page;
let sim;
let bridge;

before(async () => {
  assert.ok(process.env.MODBUS_SIM && process.env.MODBUS_BRIDGED, 'MODBUS_SIM and MODBUS_BRIDGED must name the programs');
  sim = await startSim(process.env.MODBUS_SIM);
  bridge = await startBridge(process.env.MODBUS_BRIDGED, [sim.pty], { key: KEY });
  browser = await launchChromium();
  page = await browser.newPage();
  await page.goto(`http://localhost:${BRIDGE_PORT}/demo/`);
});

after(async () => {
  if (browser) await browser.close();
  if (bridge) await bridge.stopAndClean();
  if (sim) await stop(sim);
});

const table = [
  ['the right key is served', { key: KEY }, { ok: true, value: [0, 1] }],
  ['a wrong key is refused with 125', { key: 'ключ доступа 1&2=3' },
    { ok: false, name: 'BridgeError', code: 125, kind: 'access', text: 'Запрос отклонён настройками доступа моста' }],
  ['no key is refused with 125', {},
    { ok: false, name: 'BridgeError', code: 125, kind: 'access', text: 'Запрос отклонён настройками доступа моста' }],
];
for (const [name, options, expected] of table) {
  test(name, async () => {
    const outcome = await page.evaluate(async (o) => {
      const { ModbusBridge } = await import('/demo/client/modbus-bridge.js');
      const bridgeOfPage = new ModbusBridge({ comPort: 1, slave: 1, ...o });
      try {
        return { ok: true, value: await bridgeOfPage.readHoldingRegisters(0, 2) };
      } catch (e) {
        return { ok: false, name: e.name, code: e.code, kind: e.kind, text: e.text };
      }
    }, options);
    assert.deepEqual(outcome, expected);
  });
}

// The client library in a real Chromium against modbus-bridged and simulated slaves: every call,
// a batch in the caller's order, two widgets polling at once, the bridge's failures as values,
// a stopped bridge, and the example page of the user guide. The calls run in the page the bridge
// serves (its own origin, served by default); the widgets and the guide's page in pages of a
// web server of this test, whose origin the bridge's settings list, as a page author's would be.
// client-key.test.mjs tries the key.
//
// Environment: MODBUS_SIM and MODBUS_BRIDGED (set by CTest), CHROMIUM (default /usr/bin/chromium).
// It uses port 19284: run it alone on that port (CTest's resource lock, or a network namespace).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { execFile } from 'node:child_process';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { addClientModule, DEVICE_TURNAROUND_MS, launchChromium, simulatedRecord, startBridge, startSim, stop } from './programs.mjs';
import { BRIDGE_PORT, checkPortFree } from './bridge-port.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const webDir = path.resolve(here, '..');
const guidePath = path.resolve(webDir, '..', 'docs', 'user-guide.md');
const DEVICE_TYPE = 0x0110;
const BUSY_LINE = 'Предыдущая команда не обработана';

// An example of the user guide's chapter for page authors.
function guideExample(language) {
  const guide = fs.readFileSync(guidePath, 'utf8');
  const chapter = guide.slice(guide.indexOf('## Writing a page with the client library'));
  const found = new RegExp(`\`\`\`${language}\\n([\\s\\S]*?)\`\`\``).exec(chapter);
  assert.ok(found, `no ${language} example in the chapter for page authors`);
  return found[1];
}

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8' };

// Serves web/ and, under /example/, the guide's page with the module beside it.
async function startWebServer(exampleDir) {
  const server = http.createServer((req, res) => {
    const { pathname } = new URL(req.url, 'http://page');
    const [root, rest] = pathname.startsWith('/example/')
      ? [exampleDir, pathname.slice('/example/'.length)] : [webDir, pathname.slice(1)];
    const file = path.resolve(root, rest || 'blank.html');
    if (!file.startsWith(root + path.sep) || !fs.existsSync(file)) {
      res.writeHead(rest === 'blank.html' || rest === '' ? 200 : 404, TYPES['.html']);
      res.end('<!doctype html><title>blank</title>');
      return;
    }
    res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
    res.end(fs.readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return server;
}

let browser;
// The bridge's own page, and a page of the listed web server.
let page;
let listedPage;
let bridge;
let webServer;
let pageErrors = [];
const sims = [];
const exampleDir = fs.mkdtempSync(path.join(os.tmpdir(), 'client-example-'));

// Runs body(module, arg) in a page (the bridge's own unless named); a thrown error comes back as
// its fields. The page's policy forbids eval, so body goes in as the source of the expression
// that is evaluated, as the browser's tools evaluate one.
async function inPage(body, arg, where = page) {
  const modulePath = where === page ? '/demo/client/modbus-bridge.js' : '/client/modbus-bridge.js';
  return where.evaluate(`(async () => {
    const module = await import(${JSON.stringify(modulePath)});
    try {
      return { ok: true, value: await (${body.toString()})(module, ${JSON.stringify(arg)}) };
    } catch (e) {
      return { ok: false, error: { name: e.name, message: e.message, code: e.code, text: e.text,
        reason: e.reason, pduIndex: e.pduIndex, results: e.results, url: e.url } };
    }
  })()`);
}

// The simulator's event record r, as its help describes it.
before(async () => {
  assert.ok(process.env.MODBUS_SIM && process.env.MODBUS_BRIDGED, 'MODBUS_SIM and MODBUS_BRIDGED must name the programs');
  await checkPortFree();
  // COM1 answers as device type 0x0110; COM2 never answers.
  sims.push(await startSim(process.env.MODBUS_SIM, ['--device-type', `0x${DEVICE_TYPE.toString(16)}`,
    '--delay', String(DEVICE_TURNAROUND_MS)]));
  sims.push(await startSim(process.env.MODBUS_SIM, ['--silent']));
  fs.writeFileSync(path.join(exampleDir, 'index.html'), guideExample('html'));
  fs.copyFileSync(path.join(webDir, 'client', 'modbus-bridge.js'), path.join(exampleDir, 'modbus-bridge.js'));
  webServer = await startWebServer(exampleDir);
  bridge = await startBridge(process.env.MODBUS_BRIDGED, sims.map((s) => s.pty), {
    settings: `[Origins]\nhttp://127.0.0.1:${webServer.address().port}=1\n`,
  });
  browser = await launchChromium();
  page = await browser.newPage();
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  await page.goto(`http://localhost:${BRIDGE_PORT}/demo/`);
  listedPage = await browser.newPage();
  listedPage.on('pageerror', (e) => pageErrors.push(String(e)));
  await listedPage.goto(`http://127.0.0.1:${webServer.address().port}/blank.html`);
});

after(async () => {
  if (browser) await browser.close();
  if (webServer) await new Promise((resolve) => webServer.close(resolve));
  if (bridge) await bridge.stopAndClean();
  for (const sim of sims) await stop(sim);
  fs.rmSync(exampleDir, { recursive: true, force: true });
});

describe('calls against modbus-bridged and modbus-sim', () => {
  const calls = [
    ['holding registers 0..9', async (m) => new m.ModbusBridge({ comPort: 1, slave: 1 }).readHoldingRegisters(0, 10),
      [0, 1, 2, 3, 4, 5, 6, 7, 8, 9]],
    ['input registers 0x10, 0x11', async (m) => new m.ModbusBridge({ comPort: 1, slave: 1 }).readInputRegisters(0x10, 2),
      [0x1010, 0x1011]],
    ['write one register and read it back', async (m) => {
      const b = new m.ModbusBridge({ comPort: 1, slave: 1 });
      return [await b.writeSingleRegister(5, 1234), await b.readHoldingRegisters(5, 1)];
    }, [undefined, [1234]]],
    ['write several registers and read them back', async (m) => {
      const b = new m.ModbusBridge({ comPort: 1, slave: 1 });
      await b.writeMultipleRegisters(0x20, [7, 0x1234, -1]);
      return b.readHoldingRegisters(0x20, 3);
    }, [7, 0x1234, 0xFFFF]],
    ['the device section', async (m) => new m.ModbusBridge({ comPort: 1, slave: 1 }).readDeviceSection(),
      { deviceType: DEVICE_TYPE, registers: [1, DEVICE_TYPE, 256, 1, 8230, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0] }],
    ['event record 4', async (m) => new m.ModbusBridge({ comPort: 1, slave: 1 }).readFileRecords(6, 4),
      simulatedRecord(4)],
    ['event records 0..6 in one PDU', async (m) => new m.ModbusBridge({ comPort: 1, slave: 1 })
      .readFileRecords([0, 1, 2, 3, 4, 5, 6].map((record) => ({ file: 6, record }))),
    [0, 1, 2, 3, 4, 5, 6].map(simulatedRecord)],
    // Ten writes to one register, then a read: only the caller's order leaves the last value.
    ['a batch of eleven PDUs in the caller\'s order', async (m) => {
      const b = new m.ModbusBridge({ comPort: 1, slave: 1 });
      const writes = Array.from({ length: 10 }, (_, i) => m.pdu.writeSingleRegister(0x50, 100 + i));
      return b.batch([...writes, m.pdu.readHoldingRegisters(0x50, 1), m.pdu.readDeviceSection()]);
    }, [...new Array(10).fill(undefined), [109], { deviceType: DEVICE_TYPE,
      registers: [1, DEVICE_TYPE, 256, 1, 8230, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0] }]],
  ];
  for (const [name, call, expected] of calls) {
    test(name, async () => {
      const outcome = await inPage(call);
      assert.deepEqual(outcome, { ok: true, value: expected });
    });
  }

  const failures = [
    ['an exception answer is BridgeError 2', async (m) => new m.ModbusBridge({ comPort: 1, slave: 1 }).readHoldingRegisters(0x9000, 1),
      { name: 'BridgeError', code: 2, text: 'Указанный в запросе адрес данных не существует', pduIndex: 0, results: [] }],
    ['a silent device is BridgeError 123', async (m) => new m.ModbusBridge({ comPort: 2, slave: 1, timeoutMs: 250 }).readInputRegisters(0, 1),
      { name: 'BridgeError', code: 123, text: 'Истекло время ожидания ответа', pduIndex: 0, results: [] }],
    ['a batch that fails at its second PDU keeps the first one\'s result', async (m) => new m.ModbusBridge({ comPort: 1, slave: 1 })
      .batch([m.pdu.readInputRegisters(0x10, 1), m.pdu.readHoldingRegisters(0x9000, 1)]),
    { name: 'BridgeError', code: 2, text: 'Указанный в запросе адрес данных не существует', pduIndex: 1, results: [[0x1010]] }],
  ];
  for (const [name, call, expected] of failures) {
    test(name, async () => {
      const outcome = await inPage(call);
      assert.equal(outcome.ok, false, JSON.stringify(outcome));
      const { name: kind, code, text, pduIndex, results } = outcome.error;
      assert.deepEqual({ name: kind, code, text, pduIndex, results }, expected);
    });
  }
});

describe('sharing the bridge', () => {
  test('two widgets polling at once are never refused', async () => {
    const logBefore = bridge.log.length;
    const outcome = await inPage(async (m) => {
      const rounds = 12;
      const widget = (options, pdus) => new Promise((resolve) => {
        const seen = [];
        const polling = new m.ModbusBridge({ slave: 1, ...options }).poll(pdus, 0, (o) => {
          seen.push(o.ok ? 'ok' : `${o.error.name} ${o.error.code ?? o.error.reason}`);
          if (seen.length === rounds) polling.stop().then(() => resolve(seen));
        });
      });
      return Promise.all([
        widget({ comPort: 1 }, [m.pdu.readInputRegisters(0, 3)]),
        widget({ comPort: 1, url: 'http://127.0.0.1:19284' }, [m.pdu.readHoldingRegisters(0, 2), m.pdu.readInputRegisters(0x10, 1)]),
      ]);
    }, undefined, listedPage);
    assert.deepEqual(outcome, { ok: true, value: [new Array(12).fill('ok'), new Array(12).fill('ok')] });
    const log = bridge.log.slice(logBefore);
    assert.ok(!log.includes(BUSY_LINE), `the bridge refused a request:\n${log}`);
    assert.ok((log.match(/READ_INPUT_REGISTER/g) || []).length >= 2 * 12, 'the requests reached the bridge');
  });
});

describe('the user guide\'s examples', () => {
  test('the batch example runs in Node', async () => {
    fs.writeFileSync(path.join(exampleDir, 'batch.mjs'), guideExample('js'));
    const output = await new Promise((resolve, reject) => {
      execFile(process.execPath, ['batch.mjs'], { cwd: exampleDir }, (error, stdout, stderr) => (error
        ? reject(new Error(`${error.message}\n${stderr}`)) : resolve(stdout)));
    });
    assert.match(output, new RegExp(`^registers \\d+ \\d+ \\d+, device type ${DEVICE_TYPE}\n$`));
  });


  test('the page shows the device type and a counter that goes up', async () => {
    const example = await browser.newPage();
    try {
      await example.goto(`http://127.0.0.1:${webServer.address().port}/example/index.html`);
      await example.waitForFunction(() => /^\d+$/.test(document.getElementById('counter').textContent), null,
        { timeout: 15000 });
      const first = Number(await example.textContent('#counter'));
      await example.waitForFunction((n) => Number(document.getElementById('counter').textContent) > n, first,
        { timeout: 15000 });
      assert.equal(await example.textContent('#device'), '0x0110');
      assert.equal(await example.isHidden('#problem'), true);
    } finally {
      await example.close();
    }
  });
});

describe('the browser\'s local network permission', () => {
  // Chromium lets no page of an opaque origin reach this computer, and headless it asks nobody.
  test('a page it keeps from the bridge hears so', async () => {
    const blank = await browser.newPage();
    try {
      await blank.goto('about:blank');
      await addClientModule(blank);
      const error = await blank.evaluate(() => new ModbusBridgeClient.ModbusBridge({ comPort: 1, slave: 1 })
        .readHoldingRegisters(0, 1).then(() => null, (e) => ({ name: e.name, reason: e.reason, message: e.message })));
      assert.deepEqual([error.name, error.reason], ['BridgeUnreachableError', 'permission']);
      assert.match(error.message, /local network permission keeps this page from reaching http:\/\/localhost:19284\//);
      assert.ok(!bridge.log.includes('Error[10'), 'the blocked page reached the bridge');
    } finally {
      await blank.close();
    }
  });
});

describe('a port held by another program', () => {
  // The page's own web server stands in: it answers, but with no cross-origin header for the page.
  test('is reported as not the bridge', async () => {
    const outcome = await inPage(async (m, url) => new m.ModbusBridge({ url, comPort: 1, slave: 1 }).readHoldingRegisters(0, 1),
      `http://localhost:${webServer.address().port}/`, listedPage);
    assert.equal(outcome.ok, false);
    assert.deepEqual([outcome.error.name, outcome.error.reason], ['BridgeUnreachableError', 'not-bridge']);
    assert.match(outcome.error.message, /something answers at .*, but not as the bridge: another program may hold the port/);
  });
});

describe('a stopped bridge', () => {
  test('is reported as unreachable, naming the URL', async () => {
    await bridge.stopAndClean();
    bridge = null;
    const outcome = await inPage(async (m) => new m.ModbusBridge({ comPort: 1, slave: 1 }).readHoldingRegisters(0, 1));
    assert.equal(outcome.ok, false);
    assert.deepEqual([outcome.error.name, outcome.error.reason, outcome.error.url],
      ['BridgeUnreachableError', 'network', 'http://localhost:19284/']);
    assert.match(outcome.error.message, /nothing answers at http:\/\/localhost:19284\/: start modbus-bridge/);
  });

  test('left no error on the page', () => {
    assert.deepEqual(pageErrors, []);
  });
});

// The demo page's tools in a real Chromium, opened from modbus-bridged, against simulated slaves
// on pseudo-terminals: the bus scan over a line with slaves at two speeds (exactly those found,
// reads only, a cancel stops it within one request, a refusal stops it), the typed write and the
// typed table, the register map through a reload and its file, the CSV of polled values and the
// chart as PNG.
//
// Environment: MODBUS_SIM and MODBUS_BRIDGED (set by CTest), CHROMIUM (default /usr/bin/chromium),
// WEB_TOOLS_SCREENSHOT=1 to write docs/scan.png and docs/typed-table.png.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import { BRIDGE_PORT } from './bridge-port.mjs';
import { launchChromium, startBridge, startSim, stop } from './programs.mjs';
import { check, fail, runSteps, step } from './steps.mjs';

const { MODBUS_SIM: SIM, MODBUS_BRIDGED: BRIDGED } = process.env;
const SCREENSHOT = process.env.WEB_TOOLS_SCREENSHOT === '1';
const docs = new URL('../../docs/', import.meta.url).pathname;
const MAP_KEY = 'modbus-bridge-demo-map';
// COM1: slaves at two speeds, 12 at both, 21 beyond the range scanned. COM2: slave 5 refuses all.
const LINE_SLAVES = ['3@19200', '7@9600', '12@9600', '12@19200', '21@9600'];
const EXPECTED_FOUND = ['7@9600', '12@9600', '3@19200', '12@19200'];

const sims = [];
let bridge = null;

function equal(actual, expected, what) {
  if (JSON.stringify(actual) !== JSON.stringify(expected)) {
    fail(`${what}: expected ${JSON.stringify(expected)}, got ${JSON.stringify(actual)}`);
  }
}

// The request frames a simulator took since line `from` of its --verbose output.
const framesTaken = (sim, from) => sim.lines.slice(from).filter((l) => l.startsWith('rx '))
  .map((l) => ({ address: parseInt(l.slice(3, 5), 16), fc: parseInt(l.slice(5, 7), 16) }));

async function runOnce(page) {
  const seq = Number(await page.getAttribute('#status', 'data-seq'));
  await page.click('#run-once');
  await page.waitForFunction((n) => Number(document.getElementById('status').dataset.seq) > n, seq, { timeout: 15000 });
  equal(await page.textContent('#status-text'), 'ok', `the command (${await page.textContent('#banner-text')})`);
}

async function read(page, op, start, count) {
  await page.click(`#op-${op}`);
  await page.fill('#start-addr', start);
  await page.fill('#reg-count', String(count));
  await runOnce(page);
}

// The register table as shown: address, name, hex, type and order, the value without its unit.
const table = (page) => page.$$eval('#register-rows tr', (rows) => rows.map((r) => ({
  addr: Number(r.dataset.addr), name: r.querySelector('.reg-name').textContent, hex: r.querySelector('.reg-hex').textContent,
  format: `${r.querySelector('.reg-type').value} ${r.querySelector('.reg-order').value}`,
  value: r.querySelector('.reg-value').dataset.value ?? r.querySelector('.reg-value').textContent,
})));

async function scan(page, { port, from, to, speeds, tryInput = true, wait = true }) {
  for (const [id, value] of [['#scan-port', port], ['#scan-timeout', 100], ['#scan-from', from], ['#scan-to', to]]) {
    await page.fill(id, String(value));
  }
  for (const box of await page.$$('#scan-speeds input')) await box.setChecked(speeds.includes(Number(await box.getAttribute('value'))));
  await page.setChecked('#scan-input', tryInput);
  await page.click('#scan-start');
  if (wait) await page.waitForFunction(() => document.getElementById('scan-card').dataset.state === 'idle', null, { timeout: 120000 });
  return page.$$eval('#scan-rows tr', (rows) => rows.map((r) => `${r.dataset.address}@${r.dataset.baud} ${r.querySelector('.scan-answer').textContent}`));
}

async function downloaded(page, button) {
  const [file] = await Promise.all([page.waitForEvent('download', { timeout: 10000 }), page.click(button)]);
  return { name: file.suggestedFilename(), bytes: fs.readFileSync(await file.path()) };
}

// CSV lines into fields, quoted ones with their doubled quotes (the values here hold no line end).
const parseCsv = (text) => text.split('\r\n').slice(0, -1).map((line) => [...line.matchAll(/(?:^|,)(?:"((?:[^"]|"")*)"|([^,]*))/g)]
  .map((m) => (m[1] === undefined ? m[2] : m[1].replace(/""/g, '"'))));

async function main() {
  check(SIM && BRIDGED, 'MODBUS_SIM and MODBUS_BRIDGED must name the programs');
  const line = await startSim(SIM, [...LINE_SLAVES.flatMap((s) => ['--slave', s]), '--verbose']);
  sims.push(line, await startSim(SIM, ['--address', '5', '--exception', '1']));
  bridge = await startBridge(BRIDGED, sims.map((s) => s.pty));
  const browser = await launchChromium();
  try {
    const page = await (await browser.newContext({ viewport: { width: 1280, height: 900 }, acceptDownloads: true })).newPage();
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(String(e)));
    page.on('console', (m) => { if (m.type() === 'error') pageErrors.push(m.text()); });
    await page.goto(`http://localhost:${BRIDGE_PORT}/demo/`);
    let timing = '';

    await step(`the scan of COM1, addresses 1 to 20, finds exactly ${EXPECTED_FOUND.join(', ')}, reading only`, async () => {
      const before = line.lines.length;
      const started = Date.now();
      const found = await scan(page, { port: 1, from: 1, to: 20, speeds: [9600, 19200] });
      const seconds = (Date.now() - started) / 1000;
      equal(found, EXPECTED_FOUND.map((at) => `${at} ФК 3: регистр 0 = 0`), 'devices found');
      const frames = framesTaken(line, before);
      // One read where a slave answers, two (FC 3, then FC 4) where none does, all within range.
      equal(frames.length, 2 * 40 - EXPECTED_FOUND.length, 'request frames on the line');
      check(frames.every((f) => (f.fc === 3 || f.fc === 4) && f.address >= 1 && f.address <= 20), `frames ${JSON.stringify(frames)}`);
      check((await page.textContent('#scan-status')).startsWith('Проверено 40 из 40. Найдено устройств: 4.'), 'status');
      timing = `${frames.length} requests in ${seconds.toFixed(1)} s: ${Math.round((1000 * seconds) / frames.length)} ms a request`;
      if (SCREENSHOT) await page.locator('#scan-card').screenshot({ path: path.join(docs, 'scan.png') });
    });
    console.log(`  (the scan: ${timing})`);

    await step('an exception answer counts as a device; "Взять" puts one into the connection form', async () => {
      equal(await scan(page, { port: 2, from: 4, to: 6, speeds: [19200] }),
        ['5@19200 ФК 3: исключение 1 — В запросе был передан недопустимый код функции'], 'devices found on COM2');
      await scan(page, { port: 1, from: 7, to: 7, speeds: [9600], tryInput: false });
      await page.click('#scan-rows tr[data-address="7"] .scan-use');
      equal([await page.inputValue('#com-port'), await page.inputValue('#slave-addr'), await page.inputValue('#baud-rate')],
        ['1', '7', '9600'], 'connection form');
      await read(page, 'read-holding', '0', 2);
      equal((await table(page)).map((r) => r.value), ['0', '1'], 'registers of slave 7');
    });

    await step('a cancel stops the scan within one request', async () => {
      const before = line.lines.length;
      await scan(page, { port: 1, from: 100, to: 247, speeds: [19200], tryInput: false, wait: false });
      await page.waitForFunction(() => document.getElementById('scan-bar').value >= 3, null, { timeout: 30000 });
      await page.click('#scan-cancel');
      equal(await page.getAttribute('#scan-card', 'data-state'), 'idle', 'the card right after the cancel');
      const done = await page.$eval('#scan-bar', (b) => b.value);
      check((await page.textContent('#scan-status')).startsWith(`Поиск прерван после ${done} из 148.`), 'status');
      // A read of COM2 waits in the library's queue behind the scan's last request: once it is
      // shown, the line has had all the scan will send.
      await page.fill('#com-port', '2');
      await page.fill('#slave-addr', '5');
      await page.click('#run-once');
      await page.waitForFunction(() => document.getElementById('status').dataset.busy === '0' &&
        document.getElementById('status-text').textContent === 'error', null, { timeout: 15000 });
      const sent = framesTaken(line, before).length;
      check(sent >= done && sent <= done + 1, `${sent} requests for ${done} probes done at the cancel`);
      equal(await page.$eval('#scan-bar', (b) => b.value), done, 'progress after the cancel');
    });

    await step('a float written through the typed write form reads back equal in the typed table', async () => {
      await page.fill('#com-port', '1');
      await page.fill('#slave-addr', '3');
      await page.selectOption('#baud-rate', '19200');
      await page.click('#op-write-typed');
      await page.fill('#start-addr', '0x30');
      await page.selectOption('#typed-type', 'float32');
      await page.selectOption('#typed-order', 'CDAB');
      await page.fill('#typed-scale', '1');
      await page.fill('#typed-value', '3,14');
      await runOnce(page);
      // 3.14 as float32 is 0x4048F5C3; CDAB puts the low register first.
      equal(JSON.parse(await page.textContent('#request-json')).pdu, { p00: [16, 0, 0x30, 0, 2, 4, 0xF5, 0xC3, 0x40, 0x48] }, 'the write');
      await read(page, 'read-holding', '0x30', 3);
      await page.selectOption('#register-rows tr[data-addr="48"] .reg-type', 'float32');
      await page.selectOption('#register-rows tr[data-addr="48"] .reg-order', 'CDAB');
      equal((await table(page)).map((r) => `${r.format} ${r.value}`), ['float32 CDAB 3.14', 'uint16 ABCD ↑ часть 0x0030',
        'uint16 ABCD 50'], 'typed table');
    });

    await step('the register map names registers and survives a reload and a round trip through its file', async () => {
      const named = '#map-rows tr[data-function="3"][data-address="48"]';
      await page.fill(`${named} [data-field="name"]`, 'Температура');
      await page.fill(`${named} [data-field="unit"]`, '°C');
      await page.click('#map-add');
      const added = '#map-rows tr:last-child';
      await page.fill(`${added} [data-field="name"]`, 'Счётчик');
      await page.selectOption(`${added} [data-field="function"]`, '4');
      for (const [field, value] of [['address', '0'], ['scale', '0,1'], ['unit', 'с']]) {
        await page.fill(`${added} [data-field="${field}"]`, value);
      }
      await page.press(`${added} [data-field="unit"]`, 'Tab');
      const expected = [
        { name: 'Температура', function: 3, address: 48, type: 'float32', order: 'CDAB', scale: 1, unit: '°C' },
        { name: 'Счётчик', function: 4, address: 0, type: 'uint16', order: 'ABCD', scale: 0.1, unit: 'с' },
      ];
      const stored = () => page.evaluate((key) => JSON.parse(localStorage.getItem(key)), MAP_KEY);
      equal(await stored(), expected, 'the map kept');
      await page.reload();
      equal(await stored(), expected, 'the map after the reload');
      equal(await page.$$eval('#map-rows [data-field="name"]', (els) => els.map((e) => e.value)), ['Температура', 'Счётчик'], 'map card');
      await read(page, 'read-holding', '0x30', 2);
      const row = (await table(page))[0];
      equal([row.name, row.format, row.value], ['Температура', 'float32 CDAB', '3.14'], 'typed row after the reload');
      check((await page.textContent('#register-rows tr[data-addr="48"] .reg-value')).endsWith('°C'), 'the unit');

      const file = await downloaded(page, '#map-export');
      equal([file.name, JSON.parse(file.bytes)], ['register-map.json',
        { format: 'modbus-bridge-register-map', version: 1, registers: expected }], 'the map file');
      const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'map-'));
      try {
        fs.writeFileSync(path.join(dir, 'map.json'), file.bytes);
        fs.writeFileSync(path.join(dir, 'wrong.json'), JSON.stringify({ format: 'modbus-bridge-register-map', version: 1,
          registers: [{ address: 70000 }] }));
        for (const _ of expected) await page.click('#map-rows tr:first-child .map-remove');
        await page.setInputFiles('#map-import', path.join(dir, 'wrong.json'));
        await page.waitForSelector('#map-error:not([hidden])');
        equal(await page.textContent('#map-error'), 'Файл wrong.json не загружен. Регистр 1: адрес — целое от 0 до 65535, а не 70000',
          'a wrong file');
        equal(await stored(), [], 'the map after a wrong file');
        await page.setInputFiles('#map-import', path.join(dir, 'map.json'));
        await page.waitForSelector('#map-error', { state: 'hidden' });
        equal(await stored(), expected, 'the map read from its file');
      } finally {
        fs.rmSync(dir, { recursive: true, force: true });
      }
    });

    await step('the CSV of polled values parses back into the values shown; the chart goes out as PNG', async () => {
      await page.click('#chart-clear');
      await read(page, 'read-input', '0', 3);
      await page.check('#register-rows tr[data-addr="0"] .chart-pick');
      await page.fill('#poll-ms', '200');
      await page.click('#poll-toggle');
      await page.waitForFunction(() => Number(document.getElementById('chart').dataset.points) >= 4, null, { timeout: 30000 });
      await page.click('#poll-toggle');
      await page.waitForFunction(() => document.getElementById('status').dataset.busy === '0', null, { timeout: 10000 });
      equal(await page.textContent('#chart-legend li[data-series="4:0"] .name'), 'Счётчик, с', 'the series named from the map');

      const shown = await table(page);
      equal(shown[0].value, String(parseInt(shown[0].hex, 16) / 10), 'the counter in tenths');
      const csv = await downloaded(page, '#export-csv');
      check(/^values-\d{8}-\d{6}\.csv$/.test(csv.name), `file name ${csv.name}`);
      equal([...csv.bytes.subarray(0, 3)], [0xEF, 0xBB, 0xBF], 'UTF-8 byte order mark');
      const [header, ...values] = parseCsv(csv.bytes.toString('utf8').slice(1));
      equal(header, ['time', 'name', 'value', 'unit'], 'header');
      check(values.length % 3 === 0 && values.length >= 15 && (await page.textContent('#log-caption')).includes(String(values.length)),
        `${values.length} rows, not whole rounds of three registers or not the count shown`);
      check(values.every((v) => /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}$/.test(v[0])), 'time stamps');
      const last = values.slice(-3);
      equal(last.map((v) => [v[0] === last[0][0], ...v.slice(1)]), [[true, 'Счётчик', shown[0].value, 'с'],
        [true, 'Вх. 0x0001', shown[1].value, ''], [true, 'Вх. 0x0002', shown[2].value, '']], 'the last round against the table');

      const png = await downloaded(page, '#export-png');
      equal([...png.bytes.subarray(0, 8)], [0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A], 'PNG signature');
      const [width, height] = await page.$eval('#chart', (c) => [c.width, c.height]);
      check(png.bytes.readUInt32BE(16) === width && png.bytes.readUInt32BE(20) > height, 'the chart and a legend below it');
      // The series' colour #1f5fa8 in the picture, decoded from its bytes (the page takes no data: picture).
      const drawn = await page.evaluate(async (base64) => {
        const image = await createImageBitmap(new Blob([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))]));
        const ctx = new OffscreenCanvas(image.width, image.height).getContext('2d');
        ctx.drawImage(image, 0, 0);
        const { data } = ctx.getImageData(0, 0, image.width, image.height);
        let n = 0;
        for (let i = 0; i < data.length; i += 4) {
          if (Math.abs(data[i] - 0x1f) < 24 && Math.abs(data[i + 1] - 0x5f) < 24 && Math.abs(data[i + 2] - 0xa8) < 24) n++;
        }
        return n;
      }, png.bytes.toString('base64'));
      check(drawn > 50, `only ${drawn} pixels of the series in the PNG`);
    });

    if (SCREENSHOT) await typedTableScreenshot(page);

    await step('the bridge never saw a second request while serving one, and the page raised no error', async () => {
      check(!bridge.log.includes('Предыдущая команда не обработана'), `overlapping requests:\n${bridge.log}`);
      equal(pageErrors, [], 'errors on the page');
    });

    await step('a refusal of the access settings stops the scan at its first request, as advice', async () => {
      // A bridge that wants a key, which the demo page does not send: 125 before any frame.
      await bridge.stopAndClean();
      bridge = await startBridge(BRIDGED, sims.map((s) => s.pty), { key: 'k' });
      const before = line.lines.length;
      await scan(page, { port: 1, from: 1, to: 5, speeds: [9600, 19200] });
      check((await page.textContent('#scan-status')).startsWith('Поиск остановлен после 0 из 10.'), 'status');
      equal(await page.getAttribute('#banner', 'class'), 'banner advice', 'banner');
      check((await page.textContent('#banner-text')).includes('(код 125)'), 'the code in the advice');
      equal(framesTaken(line, before), [], 'frames on the line');
    });
  } finally {
    await browser.close();
  }
}

// docs/typed-table.png: a few typed values of slave 3, written through the form and named in the
// map, and the map below the table.
async function typedTableScreenshot(page) {
  const values = [['Расход', 0x32, 'int32', 'ABCD', 0.01, 'м³/ч', '-1234,56'], ['Наработка', 0x34, 'uint32', 'CDAB', 1, 'с', '3000000000'],
    ['Коэффициент', 0x36, 'float64', 'ABCD', 1, '', '2.718281828459045']];
  await page.click('#op-write-typed');
  for (const [, address, type, order, scale, , value] of values) {
    await page.fill('#start-addr', String(address));
    await page.selectOption('#typed-type', type);
    await page.selectOption('#typed-order', order);
    await page.fill('#typed-scale', String(scale));
    await page.fill('#typed-value', value);
    await runOnce(page);
  }
  await page.evaluate(([key, entries]) => {
    localStorage.setItem(key, JSON.stringify([...JSON.parse(localStorage.getItem(key)), ...entries]));
  }, [MAP_KEY, values.map(([name, address, type, order, scale, unit]) => ({ name, function: 3, address, type, order, scale, unit }))]);
  await page.reload();
  await read(page, 'read-holding', '0x30', 12);
  await page.evaluate(() => window.scrollTo(0, 0));
  const top = await page.locator('#registers-card').boundingBox();
  const bottom = await page.locator('#map-card').boundingBox();
  await page.screenshot({ path: path.join(docs, 'typed-table.png'), fullPage: true,
    clip: { x: top.x, y: top.y, width: top.width, height: bottom.y + bottom.height - top.y } });
  console.log(`screenshots: ${docs}scan.png, ${docs}typed-table.png`);
}

await runSteps('web tools', main, async () => {
  if (bridge) await bridge.stopAndClean();
  while (sims.length > 0) await stop(sims.pop());
}, () => bridge?.log);

// The demo page's tools in a real Chromium, opened from modbus-bridged, against simulated slaves
// on pseudo-terminals: the bus scan over a line with slaves at two speeds (it finds exactly
// those, only reads, and a cancel stops it within one request), the typed write and the typed
// table, the register map through a reload and its file, the CSV of polled values and the chart
// as PNG.
//
// Environment: MODBUS_SIM and MODBUS_BRIDGED (paths of the programs, set by CTest), CHROMIUM
// (browser, default /usr/bin/chromium), WEB_TOOLS_SCREENSHOT=1 to write docs/scan.png and
// docs/typed-table.png.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { BRIDGE_PORT } from './bridge-port.mjs';
import { launchChromium, startBridge, startSim, stop } from './programs.mjs';
import { check, fail, runSteps, step } from './steps.mjs';

const SIM = process.env.MODBUS_SIM;
const BRIDGED = process.env.MODBUS_BRIDGED;
const SCREENSHOT = process.env.WEB_TOOLS_SCREENSHOT === '1';
const PAGE_URL = `http://localhost:${BRIDGE_PORT}/demo/`;
const docs = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..', 'docs');
const BUSY_LINE = 'Предыдущая команда не обработана';

// COM1: a line with slaves at two speeds, 12 at both, 21 beyond the range the scan asks.
const LINE_SLAVES = ['3@19200', '7@9600', '12@9600', '12@19200', '21@9600'];
const SCAN_RANGE = [1, 20];
const EXPECTED_FOUND = ['7@9600', '12@9600', '3@19200', '12@19200'];
// COM2: one slave that refuses everything with exception 1.
const REFUSING = ['--address', '5', '--exception', '1'];

const sims = [];
let bridge = null;

function equal(actual, expected, what) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  if (a !== e) fail(`${what}: expected ${e}, got ${a}`);
}

// The request frames a simulator took ("rx" lines of --verbose): address and function code.
function framesTaken(sim, from = 0) {
  return sim.lines.slice(from).filter((l) => l.startsWith('rx ')).map((l) => ({
    address: parseInt(l.slice(3, 5), 16), fc: parseInt(l.slice(5, 7), 16) }));
}

async function cleanUp() {
  if (bridge) await bridge.stopAndClean();
  while (sims.length > 0) await stop(sims.pop());
}

// ------------------------------------------------------------------ the page

async function waitOutcome(page, before) {
  await page.waitForFunction((n) => Number(document.getElementById('status').dataset.seq) > n, before,
    { timeout: 15000 });
  return page.evaluate(() => ({
    status: document.getElementById('status-text').textContent.trim(),
    title: document.getElementById('banner-title').textContent.trim(),
    detail: document.getElementById('banner-text').textContent.trim(),
  }));
}

async function runOnce(page) {
  const seq = Number(await page.getAttribute('#status', 'data-seq'));
  await page.click('#run-once');
  const result = await waitOutcome(page, seq);
  equal(result.status, 'ok', `the command (${result.title}: ${result.detail})`);
}

async function readHolding(page, start, count) {
  await page.click('#op-read-holding');
  await page.fill('#start-addr', start);
  await page.fill('#reg-count', String(count));
  await runOnce(page);
}

// The register table as shown: address, name, type, order and the value's text without unit.
function table(page) {
  return page.$$eval('#register-rows tr', (rows) => rows.map((r) => ({
    addr: Number(r.dataset.addr),
    name: r.querySelector('.reg-name').textContent,
    hex: r.querySelector('.reg-hex').textContent,
    format: `${r.querySelector('.reg-type').value} ${r.querySelector('.reg-order').value}`,
    value: r.querySelector('.reg-value').dataset.value ?? r.querySelector('.reg-value').textContent,
  })));
}

async function scanWith(page, { port, from, to, speeds, tryInput = true }) {
  await page.fill('#scan-port', String(port));
  await page.fill('#scan-timeout', '100');
  await page.fill('#scan-from', String(from));
  await page.fill('#scan-to', String(to));
  for (const box of await page.$$('#scan-speeds input')) {
    const baud = Number(await box.getAttribute('value'));
    if (speeds.includes(baud)) await box.check();
    else await box.uncheck();
  }
  if (tryInput) await page.check('#scan-input');
  else await page.uncheck('#scan-input');
  await page.click('#scan-start');
}

const scanIdle = (page, timeout) => page.waitForFunction(
  () => document.getElementById('scan-card').dataset.state === 'idle', null, { timeout });

function foundRows(page) {
  return page.$$eval('#scan-rows tr', (rows) => rows.map((r) => ({
    at: `${r.dataset.address}@${r.dataset.baud}`,
    answer: r.querySelector('.scan-answer').textContent,
  })));
}

async function downloaded(page, button) {
  const [file] = await Promise.all([page.waitForEvent('download', { timeout: 10000 }), page.click(button)]);
  return { name: file.suggestedFilename(), bytes: fs.readFileSync(await file.path()) };
}

// RFC 4180 fields: quoted ones may hold commas, quotes (doubled) and line ends.
function parseCsv(text) {
  const rows = [];
  let row = [];
  let field = '';
  let quoted = false;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (quoted) {
      if (c === '"' && text[i + 1] === '"') { field += '"'; i++; } else if (c === '"') quoted = false;
      else field += c;
    } else if (c === '"') quoted = true;
    else if (c === ',') { row.push(field); field = ''; } else if (c === '\r' && text[i + 1] === '\n') {
      row.push(field); rows.push(row); row = []; field = ''; i++;
    } else field += c;
  }
  if (field !== '' || row.length) fail(`the CSV does not end with CRLF: ${JSON.stringify(text.slice(-40))}`);
  return rows;
}

async function main() {
  check(SIM && BRIDGED, 'MODBUS_SIM and MODBUS_BRIDGED must name the programs');
  const line = await startSim(SIM, [...LINE_SLAVES.flatMap((s) => ['--slave', s]), '--verbose']);
  sims.push(line);
  sims.push(await startSim(SIM, [...REFUSING, '--verbose']));
  bridge = await startBridge(BRIDGED, sims.map((s) => s.pty));
  const browser = await launchChromium();
  try {
    const context = await browser.newContext({ viewport: { width: 1280, height: 900 }, acceptDownloads: true });
    const page = await context.newPage();
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(String(e)));
    page.on('console', (m) => { if (m.type() === 'error') pageErrors.push(m.text()); });
    await page.goto(PAGE_URL);
    let timing = '';

    await step(`the scan of COM1 finds exactly ${EXPECTED_FOUND.join(', ')}, reading only`, async () => {
      const before = line.lines.length;
      const started = Date.now();
      await scanWith(page, { port: 1, from: SCAN_RANGE[0], to: SCAN_RANGE[1], speeds: [9600, 19200] });
      equal(await page.getAttribute('#scan-card', 'data-state'), 'running', 'the card while scanning');
      await scanIdle(page, 120000);
      const seconds = (Date.now() - started) / 1000;
      const rows = await foundRows(page);
      equal(rows.map((r) => r.at), EXPECTED_FOUND, 'devices found');
      for (const r of rows) equal(r.answer, 'ФК 3: регистр 0 = 0', `answer of ${r.at}`);
      const frames = framesTaken(line, before);
      const probes = 2 * (SCAN_RANGE[1] - SCAN_RANGE[0] + 1);
      // One read where a slave answers, two (FC 3, then FC 4) where none does.
      equal(frames.length, 2 * probes - EXPECTED_FOUND.length, 'request frames on the line');
      check(frames.every((f) => f.fc === 3 || f.fc === 4), `a frame other than a read: ${JSON.stringify(frames)}`);
      check(frames.every((f) => f.address >= SCAN_RANGE[0] && f.address <= SCAN_RANGE[1]), 'a frame outside the range');
      check((await page.textContent('#scan-status')).startsWith(`Проверено ${probes} из ${probes}. Найдено устройств: 4.`),
        `status "${await page.textContent('#scan-status')}"`);
      timing = `${probes} probes, ${frames.length} requests in ${seconds.toFixed(1)} s: ` +
        `${Math.round((1000 * seconds) / frames.length)} ms a request`;
      if (SCREENSHOT) {
        await page.evaluate(() => document.activeElement && document.activeElement.blur());
        await page.locator('#scan-card').screenshot({ path: path.join(docs, 'scan.png') });
      }
    });

    console.log(`  (the scan: ${timing})`);

    await step('an exception answer counts as a device (COM2, slave 5)', async () => {
      await scanWith(page, { port: 2, from: 4, to: 6, speeds: [19200] });
      await scanIdle(page, 30000);
      equal(await foundRows(page), [{ at: '5@19200',
        answer: 'ФК 3: исключение 1 — В запросе был передан недопустимый код функции' }], 'devices found on COM2');
    });

    await step('"Взять" puts a device found into the connection form, which then reads it', async () => {
      await scanWith(page, { port: 1, from: 7, to: 7, speeds: [9600], tryInput: false });
      await scanIdle(page, 30000);
      await page.click('#scan-rows tr[data-address="7"] .scan-use');
      equal([await page.inputValue('#com-port'), await page.inputValue('#slave-addr'), await page.inputValue('#baud-rate')],
        ['1', '7', '9600'], 'connection form');
      await readHolding(page, '0', 2);
      equal((await table(page)).map((r) => r.value), ['0', '1'], 'registers of slave 7');
    });

    await step('a cancel stops the scan within one request', async () => {
      const before = line.lines.length;
      await scanWith(page, { port: 1, from: 100, to: 247, speeds: [19200], tryInput: false });
      await page.waitForFunction(() => Number(document.getElementById('scan-bar').value) >= 3, null, { timeout: 30000 });
      await page.click('#scan-cancel');
      equal(await page.getAttribute('#scan-card', 'data-state'), 'idle', 'the card right after the cancel');
      const done = await page.$eval('#scan-bar', (b) => b.value);
      const status = await page.textContent('#scan-status');
      check(status.startsWith(`Поиск прерван после ${done} из 148.`), `status "${status}"`);
      // A read of COM2 waits in the library's queue behind the scan's last request, so once it
      // is shown the line has had all the scan will ever send.
      await page.fill('#com-port', '2');
      await page.fill('#slave-addr', '5');
      await page.selectOption('#baud-rate', '19200');
      const seq = Number(await page.getAttribute('#status', 'data-seq'));
      await page.click('#run-once');
      await waitOutcome(page, seq);
      const sent = framesTaken(line, before).length;
      check(sent >= done && sent <= done + 1, `${sent} requests for ${done} probes done at the cancel`);
      equal(await page.$eval('#scan-bar', (b) => b.value), done, 'progress after the cancel');
    });

    await step('a float written through the typed write form reads back equal', async () => {
      await page.fill('#com-port', '1');
      await page.fill('#slave-addr', '3');
      await page.click('#op-write-typed');
      await page.fill('#start-addr', '0x30');
      await page.selectOption('#typed-type', 'float32');
      await page.selectOption('#typed-order', 'CDAB');
      await page.fill('#typed-scale', '1');
      await page.fill('#typed-value', '3,14');
      await runOnce(page);
      const request = JSON.parse(await page.textContent('#request-json'));
      // 3.14 as float32 is 0x4048F5C3; CDAB puts the low register first.
      equal(request.pdu, { p00: [16, 0, 0x30, 0, 2, 4, 0xF5, 0xC3, 0x40, 0x48] }, 'the FC 16 write');
      await readHolding(page, '0x30', 4);
      await page.selectOption('#register-rows tr[data-addr="48"] .reg-type', 'float32');
      await page.selectOption('#register-rows tr[data-addr="48"] .reg-order', 'CDAB');
      const rows = await table(page);
      equal(rows.map((r) => [r.addr, r.format, r.value]), [[48, 'float32 CDAB', '3.14'], [49, 'uint16 ABCD', '↑ часть 0x0030'],
        [50, 'uint16 ABCD', '50'], [51, 'uint16 ABCD', '51']], 'typed table');
    });

    await step('the register map names registers and survives a reload and a round trip through its file', async () => {
      const row = '#map-rows tr[data-function="3"][data-address="48"]';
      await page.fill(`${row} [data-field="name"]`, 'Температура');
      await page.fill(`${row} [data-field="unit"]`, '°C');
      await page.press(`${row} [data-field="unit"]`, 'Tab');
      await page.waitForFunction(() => document.querySelector('#register-rows tr[data-addr="48"] .reg-name')?.textContent === 'Температура');
      check((await page.textContent('#register-rows tr[data-addr="48"] .reg-value')).includes('°C'), 'the unit beside the value');
      // A second entry from the map card itself: input register 0, a tenth of the counter.
      await page.click('#map-add');
      const added = '#map-rows tr:last-child';
      await page.fill(`${added} [data-field="name"]`, 'Счётчик');
      await page.selectOption(`${added} [data-field="function"]`, '4');
      await page.fill(`${added} [data-field="address"]`, '0');
      await page.fill(`${added} [data-field="scale"]`, '0,1');
      await page.fill(`${added} [data-field="unit"]`, 'с');
      await page.press(`${added} [data-field="unit"]`, 'Tab');
      const expected = [
        { name: 'Температура', function: 3, address: 48, type: 'float32', order: 'CDAB', scale: 1, unit: '°C' },
        { name: 'Счётчик', function: 4, address: 0, type: 'uint16', order: 'ABCD', scale: 0.1, unit: 'с' },
      ];
      await page.waitForFunction(() => localStorage.getItem('modbus-bridge-demo-map')?.includes('Счётчик'));

      await page.reload();
      const stored = JSON.parse(await page.evaluate(() => localStorage.getItem('modbus-bridge-demo-map')));
      equal(stored, expected, 'the map after the reload');
      equal(await page.$$eval('#map-rows [data-field="name"]', (els) => els.map((e) => e.value)), ['Температура', 'Счётчик'],
        'names in the map card after the reload');
      await readHolding(page, '0x30', 2);
      const typed = (await table(page))[0];
      equal([typed.addr, typed.name, typed.format, typed.value], [48, 'Температура', 'float32 CDAB', '3.14'], 'typed row after the reload');

      const file = await downloaded(page, '#map-export');
      equal(file.name, 'register-map.json', 'file name');
      const text = file.bytes.toString('utf8');
      equal(JSON.parse(text), { format: 'modbus-bridge-register-map', version: 1, registers: expected }, 'the map file');
      const saved = path.join(fs.mkdtempSync(path.join(process.env.TMPDIR || '/tmp', 'map-')), 'map.json');
      fs.writeFileSync(saved, text);

      for (const _ of expected) await page.click('#map-rows tr:first-child .map-remove');
      equal(await page.$$eval('#map-rows tr', (rows) => rows.length), 0, 'rows after removing all');
      const wrong = path.join(path.dirname(saved), 'wrong.json');
      fs.writeFileSync(wrong, JSON.stringify({ format: 'modbus-bridge-register-map', version: 1, registers: [{ address: 70000 }] }));
      await page.setInputFiles('#map-import', wrong);
      await page.waitForSelector('#map-error:not([hidden])');
      equal(await page.textContent('#map-error'),
        'Файл wrong.json не загружен. Регистр 1: адрес — целое от 0 до 65535, а не 70000', 'error for a wrong file');
      equal(await page.$$eval('#map-rows tr', (rows) => rows.length), 0, 'a wrong file changes nothing');
      await page.setInputFiles('#map-import', saved);
      await page.waitForFunction(() => document.querySelectorAll('#map-rows tr').length === 2);
      equal(JSON.parse(await page.evaluate(() => localStorage.getItem('modbus-bridge-demo-map'))), expected, 'the map read from its file');
      check(await page.isHidden('#map-error'), 'the error is gone after a good file');
      fs.rmSync(path.dirname(saved), { recursive: true, force: true });
    });

    await step('the CSV of polled values parses back into the values shown; the chart goes out as PNG', async () => {
      await page.click('#chart-clear');
      await page.click('#op-read-input');
      await page.fill('#start-addr', '0');
      await page.fill('#reg-count', '3');
      await runOnce(page);
      await page.check('#register-rows tr[data-addr="0"] .chart-pick');
      await page.fill('#poll-ms', '200');
      await page.click('#poll-toggle');
      await page.waitForFunction(() => Number(document.getElementById('chart').dataset.points) >= 4, null, { timeout: 30000 });
      await page.click('#poll-toggle');
      await page.waitForFunction(() => document.getElementById('status').dataset.busy === '0', null, { timeout: 10000 });
      equal(await page.textContent('#chart-legend li[data-series="4:0"] .name'), 'Счётчик, с', 'the series is named from the map');

      const shown = await table(page);
      const file = await downloaded(page, '#export-csv');
      check(/^values-\d{8}-\d{6}\.csv$/.test(file.name), `file name ${file.name}`);
      equal([...file.bytes.subarray(0, 3)], [0xEF, 0xBB, 0xBF], 'UTF-8 byte order mark');
      const rows = parseCsv(file.bytes.toString('utf8').slice(1));
      equal(rows[0], ['time', 'name', 'value', 'unit'], 'header');
      const values = rows.slice(1);
      const rounds = values.length / 3;
      check(Number.isInteger(rounds) && rounds >= 5, `${values.length} rows are not whole rounds of three registers`);
      const caption = await page.textContent('#log-caption');
      check(caption.includes(String(values.length)), `caption "${caption}" for ${values.length} rows`);
      for (const v of values) check(/^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}$/.test(v[0]), `time stamp ${v[0]}`);
      const last = values.slice(-3);
      equal(last.map((v) => v[0]), [last[0][0], last[0][0], last[0][0]], 'one time stamp a round');
      equal(last.map((v) => [v[1], v[2], v[3]]), [['Счётчик', shown[0].value, 'с'], ['Вх. 0x0001', shown[1].value, ''],
        ['Вх. 0x0002', shown[2].value, '']], 'the last round against the table');
      // The counter is shown in tenths of its register, and it counts up.
      equal(shown[0].value, String(parseInt(shown[0].hex, 16) / 10), 'the scaled counter');
      const counts = values.filter((v) => v[1] === 'Счётчик').map((v) => Number(v[2]));
      check(counts.every((c, i) => i === 0 || c >= counts[i - 1]), `the counter went back: ${counts}`);

      const png = await downloaded(page, '#export-png');
      check(/^chart-\d{8}-\d{6}\.png$/.test(png.name), `file name ${png.name}`);
      equal([...png.bytes.subarray(0, 8)], [0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A], 'PNG signature');
      const [canvasWidth, canvasHeight] = await page.$eval('#chart', (c) => [c.width, c.height]);
      equal(png.bytes.readUInt32BE(16), canvasWidth, 'PNG width');
      check(png.bytes.readUInt32BE(20) > canvasHeight, 'the PNG has room for the legend below the chart');
      // The series' colour, #1f5fa8, in the picture: its line and its legend swatch.
      const drawn = await page.evaluate(async (base64) => {
        // Decoded from bytes: the page's policy lets no data: picture in.
        const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
        const image = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
        const canvas = new OffscreenCanvas(image.width, image.height);
        const ctx = canvas.getContext('2d');
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

    if (SCREENSHOT) {
      // The typed table of a few values of slave 3, as a user keeps them in the map.
      await page.click('#op-write-typed');
      for (const [address, type, order, scale, value] of [['0x32', 'int32', 'ABCD', '0.01', '-1234,56'],
        ['0x34', 'uint32', 'CDAB', '1', '3000000000'], ['0x36', 'float64', 'ABCD', '1', '2.718281828459045']]) {
        await page.fill('#start-addr', address);
        await page.selectOption('#typed-type', type);
        await page.selectOption('#typed-order', order);
        await page.fill('#typed-scale', scale);
        await page.fill('#typed-value', value);
        await runOnce(page);
      }
      await page.evaluate(() => {
        const map = JSON.parse(localStorage.getItem('modbus-bridge-demo-map'));
        map.push({ name: 'Расход', function: 3, address: 0x32, type: 'int32', order: 'ABCD', scale: 0.01, unit: 'м³/ч' },
          { name: 'Наработка', function: 3, address: 0x34, type: 'uint32', order: 'CDAB', scale: 1, unit: 'с' },
          { name: 'Коэффициент', function: 3, address: 0x36, type: 'float64', order: 'ABCD', scale: 1, unit: '' });
        localStorage.setItem('modbus-bridge-demo-map', JSON.stringify(map));
      });
      await page.reload();
      await readHolding(page, '0x30', 12);
      await page.evaluate(() => {
        if (document.activeElement) document.activeElement.blur();
        window.scrollTo(0, 0);
      });
      // The typed table with the map below it that names its registers.
      const top = await page.locator('#registers-card').boundingBox();
      const bottom = await page.locator('#map-card').boundingBox();
      await page.screenshot({ path: path.join(docs, 'typed-table.png'), fullPage: true,
        clip: { x: top.x, y: top.y, width: top.width, height: bottom.y + bottom.height - top.y } });
      console.log(`screenshots: ${path.join(docs, 'scan.png')}, ${path.join(docs, 'typed-table.png')}`);
    }

    await step('the bridge never saw a second request while serving one, and the page raised no error', async () => {
      check(!bridge.log.includes(BUSY_LINE), `the bridge complained about overlapping requests:\n${bridge.log}`);
      equal(pageErrors, [], 'errors on the page');
    });

    await step('a refusal of the access settings stops the scan at its first request, as advice', async () => {
      // A bridge that wants a key, which the demo page does not send: 125 before any frame.
      await bridge.stopAndClean();
      bridge = await startBridge(BRIDGED, sims.map((s) => s.pty), { key: 'k' });
      const before = line.lines.length;
      await scanWith(page, { port: 1, from: 1, to: 5, speeds: [9600, 19200] });
      await scanIdle(page, 30000);
      check((await page.textContent('#scan-status')).startsWith('Поиск остановлен после 0 из 10.'),
        `status "${await page.textContent('#scan-status')}"`);
      equal(await page.getAttribute('#banner', 'class'), 'banner advice', 'banner');
      check((await page.textContent('#banner-text')).includes('(код 125)'), `advice "${await page.textContent('#banner-text')}"`);
      equal(framesTaken(line, before), [], 'frames on the line');
    });
  } finally {
    await browser.close();
  }
}

await runSteps('web tools', main, cleanUp, () => bridge?.log);

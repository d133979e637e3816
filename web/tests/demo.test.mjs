// The demo page in a real Chromium, opened from the bridge that serves it
// (http://localhost:19284/demo/), against the window and modbus-bridged with their default
// settings and simulated slaves on pseudo-terminals: every command of the page, its error display
// and advice, and its polling chart.
//
// Environment: MODBUS_SIM, MODBUS_BRIDGED and MODBUS_BRIDGE (paths of the programs, set by
// CTest), CHROMIUM (browser, default /usr/bin/chromium), WEB_DEMO_SCREENSHOT=1 to write
// docs/web-demo.png.

import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { BRIDGE_PORT } from './bridge-port.mjs';
import { DEVICE_TURNAROUND_MS, launchChromium, simulatedRecord, startBridge, startSim, startWindow, stop } from './programs.mjs';
import { check, fail, runSteps, step } from './steps.mjs';

const DEVICE_TYPE = 0x0110;
const SLOW_DEVICE_MS = 250;
const SIM = process.env.MODBUS_SIM;
const BRIDGED = process.env.MODBUS_BRIDGED;
const WINDOW = process.env.MODBUS_BRIDGE;
const SCREENSHOT = process.env.WEB_DEMO_SCREENSHOT === '1';
const PAGE_URL = `http://localhost:${BRIDGE_PORT}/demo/`;

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const screenshotPath = path.resolve(root, 'docs', 'web-demo.png');

const sims = [];
let bridge = null;

function equal(actual, expected, what) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  if (a !== e) fail(`${what}: expected ${e}, got ${a}`);
}

// ------------------------------------------------------------------ processes

// COM1 is the device most steps use; COM2 a device that answers only after SLOW_DEVICE_MS. Each
// program gets devices fresh from their start, since the steps write registers.
async function freshSims() {
  while (sims.length > 0) await stop(sims.pop());
  // --verbose: a failure shows what each device took and answered.
  sims.push(await startSim(SIM, ['--verbose', '--device-type', '0x' + DEVICE_TYPE.toString(16),
    '--delay', String(DEVICE_TURNAROUND_MS)]));
  sims.push(await startSim(SIM, ['--verbose', '--delay', String(SLOW_DEVICE_MS)]));
  return sims.map((sim) => sim.pty);
}

async function cleanUp() {
  if (bridge) await bridge.stopAndClean();
  while (sims.length > 0) await stop(sims.pop());
}

// ------------------------------------------------------------------ the page

// Runs the chosen command once and waits until the page has shown its outcome.
async function runOnce(page) {
  const seq = Number(await page.getAttribute('#status', 'data-seq'));
  await page.click('#run-once');
  await page.waitForFunction(
    (before) => Number(document.getElementById('status').dataset.seq) > before, seq,
    { timeout: 15000 });
  return outcome(page);
}

function outcome(page) {
  return page.evaluate(() => {
    const text = (id) => document.getElementById(id).textContent.trim();
    return {
      banner: document.getElementById('banner').className,
      title: text('banner-title'),
      detail: text('banner-text'),
      status: text('status-text'),
      code: text('error-code'),
      errorText: text('error-text'),
    };
  });
}

function registers(page) {
  return page.$$eval('#register-rows tr', (rows) => rows.map((r) => ({
    addr: Number(r.dataset.addr),
    dec: r.querySelector('.reg-value').textContent,
    hex: r.querySelector('.reg-hex').textContent,
  })));
}

async function readRegisters(page, op, start, count) {
  await page.click(`#op-${op}`);
  await page.fill('#start-addr', start);
  await page.fill('#reg-count', String(count));
  const result = await runOnce(page);
  equal(result.status, 'ok', `status of ${op} ${start} x${count} (${result.title}: ${result.detail})`);
  return registers(page);
}

function expectOk(result, what) {
  check(result.status === 'ok' && result.banner.includes('ok'),
    `${what}: expected success, got ${JSON.stringify(result)}`);
  equal(result.code, '0', `${what}: error code`);
}

// The record as the page shows it: two hexadecimal digits a byte.
function shownRecord(r) {
  return simulatedRecord(r).map((b) => b.toString(16).toUpperCase().padStart(2, '0'));
}

// Every command of the page against one program, from the page it serves.
async function pageSteps(page, pageErrors, program) {
  await step(`${program}: connection parameters survive a reload`, async () => {
    await page.fill('#com-port', '1');
    await page.fill('#slave-addr', '1');
    await page.selectOption('#baud-rate', '19200');
    await page.fill('#timeout-ms', '500');
    await page.fill('#poll-ms', '250');
    await page.check('#ctrl-dtr');
    await page.reload();
    equal(await page.inputValue('#poll-ms'), '250', 'poll period after reload');
    equal(await page.isChecked('#ctrl-dtr'), true, 'DTR after reload');
    await page.uncheck('#ctrl-dtr');
    await page.reload();
    equal(await page.isChecked('#ctrl-dtr'), false, 'DTR after unchecking and reload');
  });

  await step(`${program}: holding registers 0..9 read as 0..9`, async () => {
    const rows = await readRegisters(page, 'read-holding', '0', 10);
    equal(rows, Array.from({ length: 10 }, (_, i) => ({
      addr: i, dec: String(i), hex: '0x000' + i })), 'holding registers 0..9');
    expectOk(await outcome(page), 'read holding');
  });

  await step(`${program}: the request shown is the one the bridge expects`, async () => {
    await page.click('#request-box summary');
    const request = JSON.parse(await page.textContent('#request-json'));
    equal(request.pdu, { p00: [3, 0, 0, 0, 10] }, 'pdu of the last request');
    equal([request.com_port, request.slave_addr, request.baud_rate, request.timeout_ms, request.poll_ms],
      [1, 1, 19200, 500, 250], 'connection members');
    equal([request.ctrl_echo, request.ctrl_dtr, request.ctrl_rts, request.ctrl_invert],
      [false, false, false, false], 'line members');
    check(typeof request.rand_string === 'string' && request.rand_string.length > 0, 'rand_string is set');
    await page.click('#request-box summary');
  });

  await step(`${program}: input register 0x10 reads 0x1010`, async () => {
    const rows = await readRegisters(page, 'read-input', '0x10', 1);
    equal(rows, [{ addr: 16, dec: '4112', hex: '0x1010' }], 'input register 0x10');
  });

  await step(`${program}: device section shows device type 0x${DEVICE_TYPE.toString(16).padStart(4, '0')}`, async () => {
    await page.click('#op-device');
    expectOk(await runOnce(page), 'device section');
    equal(await page.textContent('#device-type'), '0x0110', 'device type code');
    equal(await page.$$eval('#device-rows tr', (rows) => rows.length), 16, 'device section registers');
  });

  await step(`${program}: writing register 5 = 1234 reads back 1234`, async () => {
    const before = await readRegisters(page, 'read-holding', '5', 1);
    equal(before, [{ addr: 5, dec: '5', hex: '0x0005' }], 'register 5 before the write');
    await page.click('#op-write-single');
    await page.fill('#start-addr', '5');
    await page.fill('#write-value', '1234');
    expectOk(await runOnce(page), 'write single register');
    const after = await readRegisters(page, 'read-holding', '5', 1);
    equal(after, [{ addr: 5, dec: '1234', hex: '0x04D2' }], 'register 5 after the write');
  });

  await step(`${program}: writing several registers (FC 16, hex and negative values) reads back`, async () => {
    await page.click('#op-write-multiple');
    await page.fill('#start-addr', '0x20');
    await page.fill('#write-values', '7, 0x1234, -1');
    expectOk(await runOnce(page), 'write multiple registers');
    const rows = await readRegisters(page, 'read-holding', '0x20', 3);
    equal(rows.map((r) => r.dec), ['7', '4660', '65535'], 'registers 0x20..0x22');
  });

  await step(`${program}: an exception answer (holding 0x9000) shows code 2 in a red banner`, async () => {
    await page.click('#op-read-holding');
    await page.fill('#start-addr', '0x9000');
    await page.fill('#reg-count', '1');
    const result = await runOnce(page);
    equal(result.code, '2', 'error code');
    equal(result.status, 'error', 'status');
    check(result.banner.includes('error'), `banner class is "${result.banner}"`);
    check(result.errorText.includes('адрес данных не существует'), `error text "${result.errorText}"`);
    check(result.title.includes('2'), `banner title "${result.title}" names the code`);
    check(await page.isVisible('#banner'), 'the banner is visible');
    const [r, g, b] = (await page.$eval('#banner', (e) => getComputedStyle(e).backgroundColor))
      .match(/\d+/g).map(Number);
    check(r > 150 && g < 90 && b < 90, `banner background rgb(${r}, ${g}, ${b}) is not red`);
    equal(await registers(page), [], 'no stale registers after the failed read');
  });

  await step(`${program}: an invalid count is refused by the page without a request`, async () => {
    const sent = await page.textContent('#request-count');
    await page.fill('#start-addr', '0');
    await page.fill('#reg-count', '126');
    const result = await runOnce(page);
    check(result.banner.includes('error') && result.title === 'Запрос не отправлен',
      `expected the page to refuse, got ${JSON.stringify(result)}`);
    equal(await page.textContent('#request-count'), sent, 'requests sent');
    check(await page.$eval('#reg-count', (e) => e.classList.contains('invalid')), 'count field marked');
  });

  await step(`${program}: event records 0-11 (two FC 20 requests) match the device, record 4 = 04 05 ...`, async () => {
    await page.click('#op-events');
    await page.fill('#event-records', '0-11');
    expectOk(await runOnce(page), 'event records');
    const request = JSON.parse(await page.textContent('#request-json'));
    const subRequest = (r) => [6, 0, 6, 0, r, 0, 16];
    equal(request.pdu, {
      p00: [20, 49, ...[0, 1, 2, 3, 4, 5, 6].flatMap(subRequest)],
      p01: [20, 35, ...[7, 8, 9, 10, 11].flatMap(subRequest)],
    }, 'FC 20 requests for twelve records');
    const rows = await page.$$eval('#event-rows tr', (trs) => trs.map((tr) => ({
      record: Number(tr.dataset.record),
      bytes: [...tr.querySelectorAll('.ev-byte')].map((td) => td.textContent),
    })));
    equal(rows.map((r) => r.record), [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11], 'record numbers in order');
    equal(rows[4].bytes.slice(0, 6), ['04', '05', '00', '00', '0F', 'A0'], 'record 4 first bytes');
    for (const row of rows) equal(row.bytes, shownRecord(row.record), `record ${row.record}`);
  });

  await step(`${program}: a raw PDU "04 00 10 00 02" reads input registers 0x10, 0x11`, async () => {
    await page.click('#op-raw');
    await page.fill('#raw-pdu', '04 00 10 00 02');
    expectOk(await runOnce(page), 'raw PDU');
    equal(await registers(page), [
      { addr: 16, dec: '4112', hex: '0x1010' },
      { addr: 17, dec: '4113', hex: '0x1011' },
    ], 'registers of the raw read');
  });

  await step(`${program}: polling input registers draws the counter on the chart`, async () => {
    const rows = await readRegisters(page, 'read-input', '0', 3);
    equal(rows.map((r) => r.addr), [0, 1, 2], 'input registers 0..2');
    const first = Number(rows[0].dec);
    await page.fill('#poll-ms', '200');
    await page.check('#register-rows tr[data-addr="0"] .chart-pick');
    await page.check('#register-rows tr[data-addr="1"] .chart-pick');
    await page.waitForSelector('#chart-legend li[data-series="4:0"]', { timeout: 5000 });
    await page.click('#poll-toggle');
    equal(await page.getAttribute('#poll-toggle', 'aria-pressed'), 'true', 'toggle pressed');
    const wanted = SCREENSHOT ? 30 : 3;
    await page.waitForFunction((n) => Number(document.getElementById('chart').dataset.points) >= n,
      wanted, { timeout: 30000 });
    await page.click('#poll-toggle');
    equal(await page.getAttribute('#poll-toggle', 'aria-pressed'), 'false', 'toggle released');
    await page.waitForFunction(() => document.getElementById('status').dataset.busy === '0', null,
      { timeout: 10000 });
    const counterPoints = Number(await page.getAttribute('#chart-legend li[data-series="4:0"]', 'data-points'));
    check(counterPoints >= wanted, `counter series has ${counterPoints} points`);
    const last = Number(await page.textContent('#chart-legend li[data-series="4:0"] .last'));
    check(last > first, `the counter went from ${first} to ${last} on the chart`);
    expectOk(await outcome(page), 'polling');
    // The first series is drawn in #1f5fa8: its line must be on the canvas.
    const drawn = await page.$eval('#chart', (canvas) => {
      const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
      let n = 0;
      for (let i = 0; i < data.length; i += 4) {
        if (Math.abs(data[i] - 0x1f) < 24 && Math.abs(data[i + 1] - 0x5f) < 24 &&
            Math.abs(data[i + 2] - 0xa8) < 24) n++;
      }
      return n;
    });
    check(drawn > 50, `only ${drawn} pixels of the counter's line on the canvas`);
  });

  if (SCREENSHOT && program === 'modbus-bridged') {
    // The page as a user sees it after these reads: chart, register table, section, records.
    // From the top, so that the banner, which follows scrolling, is in its own place.
    await page.evaluate(() => {
      if (document.activeElement) document.activeElement.blur();
      window.scrollTo(0, 0);
    });
    await page.screenshot({ path: screenshotPath, fullPage: true });
    console.log(`screenshot: ${screenshotPath}`);
  }

  await step(`${program}: polling a device slower than the period keeps one request in flight`, async () => {
    // The device on COM2 answers after 250 ms while the page polls every 100 ms: a page that
    // sent on a clock would reach a busy bridge, which leaves such a request unanswered.
    await page.fill('#com-port', '2');
    await page.fill('#poll-ms', '100');
    await page.click('#op-read-input');
    await page.fill('#start-addr', '0x40');
    await page.fill('#reg-count', '2');
    const sent = Number(await page.textContent('#request-count'));
    await page.click('#poll-toggle');
    await page.waitForFunction((n) => Number(document.getElementById('request-count').textContent) >= n,
      sent + 5, { timeout: 30000 });
    await page.click('#poll-toggle');
    await page.waitForFunction(() => document.getElementById('status').dataset.busy === '0', null,
      { timeout: 10000 });
    expectOk(await outcome(page), 'polling the slow device');
    const took = parseInt(await page.textContent('#reply-time'), 10);
    check(took >= SLOW_DEVICE_MS, `the slow device answered in ${took} ms`);
    equal((await registers(page)).map((r) => r.hex), ['0x1040', '0x1041'], 'registers of the slow device');
    await page.fill('#com-port', '1');
    await page.fill('#poll-ms', '1000');
  });

  await step(`${program}: the bridge never saw a second request while serving one`, async () => {
    check(!bridge.log.includes('Предыдущая команда не обработана'),
      `the bridge complained about overlapping requests:\n${bridge.log}`);
    equal(pageErrors, [], 'errors on the page');
  });
}

async function openPage(browser) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  const pageErrors = [];
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') pageErrors.push(m.text()); });
  await page.goto(PAGE_URL);
  return { page, pageErrors };
}

async function main() {
  check(SIM && BRIDGED && WINDOW, 'MODBUS_SIM, MODBUS_BRIDGED and MODBUS_BRIDGE must name the programs');

  console.log(`page: ${PAGE_URL}`);
  const browser = await launchChromium();
  try {
    // Both with their default settings: the page the bridge serves needs nobody's answer.
    bridge = await startWindow(WINDOW, await freshSims());
    const inWindow = await openPage(browser);
    await pageSteps(inWindow.page, inWindow.pageErrors, 'window');
    await inWindow.page.context().close();
    await bridge.stopAndClean();
    bridge = null;

    const ptys = await freshSims();
    bridge = await startBridge(BRIDGED, ptys);
    const { page, pageErrors } = await openPage(browser);
    await pageSteps(page, pageErrors, 'modbus-bridged');

    await step('a bridge that is not running is reported', async () => {
      await stop(bridge);
      await page.click('#op-read-holding');
      await page.fill('#start-addr', '0');
      await page.fill('#reg-count', '2');
      const result = await runOnce(page);
      check(result.banner.includes('error'), `banner class is "${result.banner}"`);
      equal(result.title, 'Мост не отвечает', 'banner title');
      check(result.errorText.includes(`http://localhost:${BRIDGE_PORT}`), `error text "${result.errorText}"`);
    });

    await step('a refusal of the access settings is advice, not a failure', async () => {
      // A bridge that wants a key, which the demo page does not send: 125.
      await bridge.stopAndClean();
      bridge = await startBridge(BRIDGED, ptys, { key: 'k' });
      const result = await runOnce(page);
      equal([result.banner, result.title, result.code], ['banner advice', 'Разрешите эту страницу в окне моста', '125'],
        'banner and code');
      check(result.detail.startsWith('Запрос отклонён настройками доступа моста.'), `advice "${result.detail}"`);
      check(!(await page.$eval('#error-code', (e) => e.classList.contains('bad'))), 'the code is not shown as a failure');
    });
  } finally {
    await browser.close();
  }
}

await runSteps('web demo', main, cleanUp, () => [
  bridge?.log,
  ...sims.map((sim, index) => `--- modbus-sim on COM${index + 1} ---\n${sim.lines.slice(-40).join('\n')}`),
].filter(Boolean).join('\n'));

// The road of a real user: a page of a public HTTPS site (a copy of the demo page) reaches the
// bridge on localhost only once the browser's local network permission is granted to that site.
// Chromium takes a second loopback address for a public site (--ip-address-space-overrides) and
// takes a certificate made for this run (--ignore-certificate-errors). Not granted: the client
// reports `permission`, the demo page asks to allow the site, and neither bridge hears of it.
// Granted: modbus-bridged with the site listed serves it; the window asks (127) and serves it after
// the operator pressed "Разрешить" (Tab and Space, from xdotool on an Xvfb display of its own).
// With no bridge running, the client reports `network`.
//
// Environment: MODBUS_SIM, MODBUS_BRIDGED and MODBUS_BRIDGE (paths of the programs, set by
// CTest), CHROMIUM (browser, default /usr/bin/chromium).

import {
  addClientModule, answerInWindow, launchChromium, startBridge, startDisplay, startSim, startWindow, stop,
} from './programs.mjs';
import {
  PAGE_HOST, demoCopy, deviceTook, readWithClient, runOnce, servePages, throwAwayCertificate,
} from './site-pages.mjs';
import { check, runSteps, step } from './steps.mjs';

const SITE_PORT = 28443;
const SITE = `https://${PAGE_HOST}:${SITE_PORT}`;
const SIM = process.env.MODBUS_SIM;
const BRIDGED = process.env.MODBUS_BRIDGED;
const WINDOW = process.env.MODBUS_BRIDGE;

// What the demo page shows after one read of register 0x23, and what the client library's read
// of it ends in.
const OUTCOMES = {
  permission: { banner: 'banner error', title: 'Браузер не пускает страницу к мосту', reason: 'permission' },
  network: { banner: 'banner error', title: 'Мост не отвечает', reason: 'network' },
  asked: { banner: 'banner advice', title: 'Разрешите эту страницу в окне моста', code: '127', kind: 'access' },
  served: { banner: 'banner ok', title: 'Выполнено', code: '0', value: [0x23] },
};

// Each row: which bridge runs, whether the site holds the permission, what the page shows. A
// bridge starts when its first row comes; once the window asked, the operator allows the site.
const ROADS = [
  ['modbus-bridged, the site listed', 'not granted', 'permission'],
  ['modbus-bridged, the site listed', 'granted', 'served'],
  ['no bridge', 'granted', 'network'],
  ['no bridge', 'not granted', 'permission'],
  ['the window', 'not granted', 'permission'],
  ['the window', 'granted', 'asked'],
  ['the window', 'granted', 'served'],
];

let sim = null;
let bridge = null;
let display = null;
let site = null;
let certificate = null;

async function cleanUp() {
  if (site) site.close();
  if (bridge) await bridge.stopAndClean();
  if (sim) await stop(sim);
  if (display) await stop(display);
  if (certificate) certificate.remove();
}

const BRIDGES = {
  'modbus-bridged, the site listed': () => startBridge(BRIDGED, [sim.pty], { settings: `[Origins]\n${SITE}=1\n` }),
  'no bridge': async () => null,
  'the window': async () => {
    display ??= await startDisplay();
    return startWindow(WINDOW, [sim.pty], { display });
  },
};

// The demo page's banner after one read, and the client library's outcome of another.
async function outcome(page) {
  const { banner, title, code } = await runOnce(page);
  const read = await readWithClient(page);
  return { banner, title, code, kind: read.kind, reason: read.reason, value: read.value };
}

async function openSite(context) {
  const page = await context.newPage();
  await page.goto(`${SITE}/demo/`);
  await page.fill('#start-addr', '0x23');
  await page.fill('#reg-count', '1');
  await addClientModule(page);
  return page;
}

async function main() {
  check(SIM && BRIDGED && WINDOW, 'MODBUS_SIM, MODBUS_BRIDGED and MODBUS_BRIDGE must name the programs');
  certificate = throwAwayCertificate(PAGE_HOST);
  site = await servePages(SITE_PORT, demoCopy, certificate);
  sim = await startSim(SIM, ['--verbose']);

  // Headless, Chromium cannot show its question: it counts it as refused, as the user's "Block"
  // would be, so the context without a grant stands for a site the user refused.
  const browser = await launchChromium([
    `--ip-address-space-overrides=${PAGE_HOST}:${SITE_PORT}=public`, '--ignore-certificate-errors']);
  try {
    const granted = await browser.newContext();
    await granted.grantPermissions(['local-network-access'], { origin: SITE });
    const pages = { 'not granted': await openSite(await browser.newContext()), granted: await openSite(granted) };

    let took = 0;
    let running = null;
    for (const [bridgeName, permission, shows] of ROADS) {
      if (bridgeName !== running) {
        if (bridge) await bridge.stopAndClean();
        bridge = await BRIDGES[bridgeName]();
        running = bridgeName;
      }
      await step(`${bridgeName}, the permission ${permission}: ${shows}`, async () => {
        const got = await outcome(pages[permission]);
        const expected = OUTCOMES[shows];
        const differs = Object.keys(expected).filter((key) => JSON.stringify(got[key]) !== JSON.stringify(expected[key]));
        check(differs.length === 0, `the page got ${JSON.stringify(got)}, expected ${JSON.stringify(expected)}`);
        if (shows === 'served') took += 2;
        const requests = deviceTook(sim);
        check(requests.length === took && requests.every((line) => line.startsWith('rx 010300230001')),
          `the device took ${JSON.stringify(requests)}, expected ${took} reads of register 0x23`);
        if (shows === 'permission' && bridge) {
          check(!bridge.log.includes(SITE), `the bridge heard of the site:\n${bridge.log}`);
        }
      });
      if (shows === 'asked') {
        await step('the operator allows the site in the window', () => answerInWindow(bridge, display, SITE, true));
      }
    }
  } finally {
    await browser.close();
  }
}

await runSteps('web public site', main, cleanUp, () => bridge?.log);

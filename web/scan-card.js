// The card "Поиск устройств": the scan's form, its progress and the devices found. The scan
// itself is bus-scan.js; each probe is a ModbusBridge read through the library's one queue.
import { BridgeUnreachableError, ModbusBridge } from './client/modbus-bridge.js';
import {
  HIGHEST_ADDRESS, LOWEST_ADDRESS, formatDuration, runScan, scanProbes, timeLeftMs,
} from './bus-scan.js';
import { $, cell, span } from './page-dom.js';

const SPEED_PREFIX = 'scan-baud-';

function fieldValue(id, min, max, what) {
  const text = $(id).value.trim();
  const value = /^\d+$/.test(text) ? Number(text) : NaN;
  if (!(value >= min && value <= max)) {
    $(id).classList.add('invalid');
    throw new Error(`${what}: ожидается число от ${min} до ${max}`);
  }
  return value;
}

/**
 * Sets the card up. speeds: the page's list of speeds, defaultSpeed the one ticked until the
 * settings say otherwise; connection(): the URL, ids and line
 * flags of the connection form; onUse({ comPort, address, baud }) puts a device found into it;
 * report(kind, title, text) shows a message in the page's banner. Returns the ids of the fields
 * the page keeps in its settings.
 */
export function setupScanCard({ speeds, defaultSpeed, connection, onUse, report }) {
  const box = $('scan-speeds');
  for (const baud of speeds) {
    const label = document.createElement('label');
    const check = document.createElement('input');
    check.type = 'checkbox';
    check.id = `${SPEED_PREFIX}${baud}`;
    check.value = String(baud);
    check.checked = baud === defaultSpeed;
    label.append(check, ` ${baud}`);
    box.append(label);
  }

  let scan = null;

  function readForm() {
    for (const el of document.querySelectorAll('#scan-card .invalid')) el.classList.remove('invalid');
    const comPort = fieldValue('scan-port', 1, 255, 'COM-порт');
    const timeoutMs = fieldValue('scan-timeout', 1, 60000, 'Тайм-аут');
    const from = fieldValue('scan-from', LOWEST_ADDRESS, HIGHEST_ADDRESS, 'Адреса от');
    const to = fieldValue('scan-to', LOWEST_ADDRESS, HIGHEST_ADDRESS, 'Адреса до');
    if (to < from) {
      $('scan-to').classList.add('invalid');
      throw new Error('Адреса: конец диапазона меньше начала');
    }
    const chosen = speeds.filter((baud) => $(`${SPEED_PREFIX}${baud}`).checked);
    if (chosen.length === 0) throw new Error('Скорости: отметьте хотя бы одну');
    return { comPort, timeoutMs, from, to, speeds: chosen, tryInput: $('scan-input').checked };
  }

  function showRunning(running) {
    $('scan-start').disabled = running;
    $('scan-cancel').disabled = !running;
    $('scan-card').dataset.state = running ? 'running' : 'idle';
  }

  function showProgress(done, total, startedMs, form) {
    const bar = $('scan-bar');
    bar.max = total;
    bar.value = done;
    const left = timeLeftMs({ done, total, elapsedMs: performance.now() - startedMs, ...form });
    $('scan-status').textContent = `Проверено ${done} из ${total}, осталось ${formatDuration(left)}`;
  }

  function addFound({ comPort, probe, outcome }) {
    const row = document.createElement('tr');
    row.dataset.address = String(probe.address);
    row.dataset.baud = String(probe.baud);
    const use = document.createElement('button');
    use.type = 'button';
    use.className = 'small scan-use';
    use.textContent = 'Взять';
    use.title = 'Перенести COM-порт, адрес и скорость в параметры связи';
    use.addEventListener('click', () => onUse({ comPort, address: probe.address, baud: probe.baud }));
    row.append(cell('scan-address', String(probe.address)), cell('scan-baud', String(probe.baud)),
      cell('scan-answer', span('', outcome.answer)), cell('', use));
    $('scan-rows').append(row);
    $('scan-empty').hidden = true;
  }

  async function start() {
    if (scan) return;
    let form;
    try {
      form = readForm();
    } catch (e) {
      report('error', 'Поиск не начат', e.message);
      return;
    }
    const { url, companyId, deviceId, line } = connection();
    const probes = scanProbes(form);
    const current = { cancelled: false, found: 0 };
    scan = current;
    $('scan-rows').textContent = '';
    $('scan-empty').hidden = false;
    $('scan-empty').textContent = 'Пока никто не ответил.';
    $('scan-progress').hidden = false;
    showRunning(true);
    const startedMs = performance.now();
    showProgress(0, probes.length, startedMs, form);
    report('busy', 'Поиск устройств…', `COM${form.comPort}, адреса ${form.from}–${form.to}, скорости ${form.speeds.join(', ')}`);

    const ask = (slave, baudRate, fc) => {
      const bridge = new ModbusBridge({ url, companyId, deviceId, comPort: form.comPort, slave, baudRate,
        timeoutMs: form.timeoutMs, line });
      return fc === 3 ? bridge.readHoldingRegisters(0, 1) : bridge.readInputRegisters(0, 1);
    };
    const end = await runScan({
      probes,
      ask,
      tryInput: form.tryInput,
      cancelled: () => current.cancelled,
      onProbe: ({ index, probe, outcome }) => {
        if (current.cancelled) return;
        if (outcome.kind === 'found') {
          current.found++;
          addFound({ comPort: form.comPort, probe, outcome });
        }
        showProgress(index + 1, probes.length, startedMs, form);
      },
    }).catch((error) => ({ status: 'stopped', error }));
    if (scan === current) finish(current, end, probes.length);
  }

  function finish(current, end, total) {
    scan = null;
    showRunning(false);
    const found = `Найдено устройств: ${current.found}.`;
    if (end.status === 'done') {
      $('scan-status').textContent = `Проверено ${total} из ${total}. ${found}`;
      if (current.found === 0) $('scan-empty').textContent = 'Никто не ответил.';
      report('ok', 'Поиск закончен', found);
    } else if (end.status === 'stopped') {
      const e = end.error;
      const why = e instanceof BridgeUnreachableError || !e.kind ? e.message
        : `${e.kind === 'access' ? 'Разрешите эту страницу в окне моста. ' : ''}${e.text} (код ${e.code})`;
      $('scan-status').textContent = `Поиск остановлен после ${end.done} из ${total}. ${found}`;
      report(e.kind === 'access' ? 'advice' : 'error', 'Поиск остановлен', why);
    }
  }

  function cancel() {
    if (!scan) return;
    // Shown at once; the request under way, if any, ends by itself and nothing more is sent.
    const done = Number($('scan-bar').value);
    scan.cancelled = true;
    $('scan-status').textContent = `Поиск прерван после ${done} из ${$('scan-bar').max}. Найдено устройств: ${scan.found}.`;
    report('idle', 'Поиск прерван', 'Больше запросов поиска не будет.');
    scan = null;
    showRunning(false);
  }

  $('scan-start').addEventListener('click', start);
  $('scan-cancel').addEventListener('click', cancel);
  showRunning(false);
  return ['scan-port', 'scan-timeout', 'scan-from', 'scan-to', 'scan-input',
    ...speeds.map((baud) => `${SPEED_PREFIX}${baud}`)];
}

// How the browser scripts run: named steps that each check something, a count of them at the
// end, the programs' output when one fails, and the programs stopped however the script ends.

let passed = 0;

export function fail(message) {
  throw new Error(message);
}

export function check(condition, message) {
  if (!condition) fail(message);
}

export async function step(name, body) {
  process.stdout.write(`- ${name} ... `);
  await body();
  passed++;
  process.stdout.write('ok\n');
}

// Runs main, then cleanUp, and ends the process with the script's status; output() is what the
// programs wrote, shown when a step fails.
export async function runSteps(title, main, cleanUp, output) {
  const interrupted = (signal) => {
    cleanUp().finally(() => process.exit(signal === 'SIGINT' ? 130 : 143));
  };
  process.once('SIGINT', interrupted);
  process.once('SIGTERM', interrupted);

  let failed = false;
  try {
    await main();
    console.log(`${title}: ${passed} checks passed`);
  } catch (e) {
    failed = true;
    console.log('FAILED');
    console.error(e && e.stack ? e.stack : String(e));
    const text = output();
    if (text) console.error(`--- modbus-bridged output ---\n${text}`);
  } finally {
    await cleanUp();
  }
  process.exit(failed ? 1 : 0);
}

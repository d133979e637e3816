// The bridge's fixed port, shared by every browser test. Each checks first that nothing listens
// there: another program would answer in the bridge's place and fail the test with unrelated
// messages, so the test fails at once and names that program instead.
import { execFileSync } from 'node:child_process';
import net from 'node:net';

export const BRIDGE_PORT = 19284;

export function canConnect(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ port, host: '127.0.0.1' });
    socket.once('connect', () => {
      socket.destroy();
      resolve(true);
    });
    socket.once('error', () => resolve(false));
  });
}

function portHolder(port) {
  try {
    const listing = execFileSync('ss', ['-Hltnp', `sport = :${port}`], { encoding: 'utf8' }).trim();
    return listing || 'a program ss does not show';
  } catch {
    return 'a program that ss (iproute2) would name; it is not installed';
  }
}

/** Throws an error that names the holder when a program listens on the port. */
export async function checkPortFree(port = BRIDGE_PORT) {
  if (await canConnect(port)) throw new Error(`port ${port} is taken by ${portHolder(port)}`);
}

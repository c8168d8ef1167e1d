// Shared by the browser tests: Chromium's flags on these machines, free
// addresses, and polling.
import net from 'node:net';

// Debian's Chromium as root, headless, with no traffic of its own (the
// machines have no network but loopback). playwright-core's launch gives it a
// fresh profile folder of its own.
export const chromiumArgs = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

function listens(host, port) {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.once('error', () => resolve(false));
    server.listen({ host, port, exclusive: true }, () => server.close(() => resolve(true)));
  });
}

// A free TCP port on 127.0.0.1.
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// A loopback address 127.0.0.x of our own on which `port` is free, for a
// server that must sit on a fixed port beside other runs of the suite.
export async function freeLoopbackFor(port) {
  for (let i = 0; i < 64; i++) {
    const host = `127.0.0.${2 + Math.floor(Math.random() * 252)}`;
    if (await listens(host, port)) return host;
  }
  throw new Error(`no loopback address with port ${port} free`);
}

// Polls `probe` (sync or async) until it returns a truthy value, which it
// returns; throws the text of `why()` after `ms`.
export async function waitFor(probe, ms, why) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > end) throw new Error(why());
    await new Promise((r) => setTimeout(r, 250));
  }
}

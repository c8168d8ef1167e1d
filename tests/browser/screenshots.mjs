// Takes the console's screenshots for the README as a desk PC's browser
// shows them, in real time (about 80 s): the calls with an urgent and an
// acknowledged ticket, the rooms with their songs, today's figures, and
// the login.
//
//   QUOR_BIN_DIR=build-test/bin QUOR_TEST_BIN_DIR=build-test/tests \
//     node tests/browser/screenshots.mjs docs/screenshots

import path from 'node:path';
import {setTimeout as sleep} from 'node:timers/promises';
import {Venue} from './harness.mjs';

const out = process.argv[2] || 'docs/screenshots';
const venue = await Venue.open({demo: true});
try {
  await venue.browser();
  const rooms = {};
  for (const [name, from] of [['包厢1', '127.0.0.11'], ['包厢3', '127.0.0.13'], ['包厢5', '127.0.0.15'],
    ['包厢8', '127.0.0.18'], ['VIP 2', '127.0.0.22'], ['包厢6', '127.0.0.16']]) {
    rooms[name] = await venue.terminal(from);
  }
  const page = await venue.deskPage({viewport: {width: 1280, height: 800}});
  const post = (url, body) => page.evaluate(async ([u, b]) => {
    const me = await (await fetch('/api/me')).json();
    await fetch(u, {method: 'POST', headers: {'Content-Type': 'application/json', 'X-CSRF-Token': me.csrf},
      body: JSON.stringify(b)});
  }, [url, body]);
  // Staff named two rooms by their PC's address; the others name themselves
  // with their first room request.
  await post('/api/rooms/name', {address: '127.0.0.11', name: '包厢1'});
  await post('/api/rooms/name', {address: '127.0.0.15', name: '包厢5（大）'});
  await rooms['包厢1'].play('10007');
  await rooms['包厢3'].play('10235');
  await rooms['包厢5'].play('10033');
  await rooms['VIP 2'].play('10512');

  // A room that called, was served and went home.
  await rooms['包厢6'].request('包厢6');
  await page.waitForSelector('.call .call-room:text-is("包厢6")');
  await sleep(12000);
  await page.locator('.call', {hasText: '包厢6'}).locator('.done').click();
  await rooms['包厢6'].close();
  venue.terminals = venue.terminals.filter((t) => t !== rooms['包厢6']);

  await rooms['包厢8'].request('包厢8');
  await sleep(5000);
  await rooms['包厢3'].request('包厢3');
  await sleep(20000);
  await page.locator('.call', {hasText: '包厢3'}).locator('.ack').click();
  await rooms['包厢1'].play('10235');
  await sleep(15000);
  await rooms['包厢8'].request('包厢8');
  await sleep(15000);
  await rooms['VIP 2'].request('VIP 2');
  await sleep(9000);
  await page.waitForSelector('.call.urgent');
  await page.screenshot({path: path.join(out, 'console-calls.png')});

  await page.click('#tab-rooms');
  await page.waitForSelector('#offline-rooms tbody tr');
  await page.screenshot({path: path.join(out, 'console-rooms.png')});

  await page.click('#tab-today');
  await page.waitForSelector('#today-answered tbody tr');
  await page.screenshot({path: path.join(out, 'console-today.png')});

  const login = await (await venue.chromium.newContext({viewport: {width: 1280, height: 800}})).newPage();
  await login.goto(venue.url + '/login');
  await login.screenshot({path: path.join(out, 'console-login.png')});
} finally {
  await venue.close();
}

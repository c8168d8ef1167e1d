// The front-desk console in Debian's Chromium: log in, a room request that
// appears without a reload and sounds the alert, a second press, acknowledge
// and done as the desk and the database see them, a hostile room name shown
// as text, and the rooms with the song each started.

import {after, before, describe, it} from 'node:test';
import assert from 'node:assert/strict';
import {STAFF, PASSWORD, Venue} from './harness.mjs';

describe('front-desk console', () => {
  let venue;
  let page;
  let room;
  const dialogs = [];

  before(async () => {
    venue = await Venue.open();
    await venue.browser();
  });
  after(async () => {
    if (venue) await venue.close();
  });

  it('refuses a wrong password and logs staff in', async () => {
    const context = await venue.chromium.newContext({locale: 'zh-CN'});
    const login = await context.newPage();
    await login.goto(venue.url + '/');
    assert.equal(new URL(login.url()).pathname, '/login');
    await login.fill('#login-name', STAFF);
    await login.fill('#login-password', 'not-the-password');
    await login.click('#login-button');
    await login.waitForSelector('#login-error:not([hidden])');
    assert.equal(await login.textContent('#login-error'), '用户名或密码错误');
    await context.close();

    page = await venue.deskPage();
    page.on('dialog', (dialog) => {
      dialogs.push(dialog.message());
      dialog.dismiss();
    });
    assert.equal(await page.textContent('#staff-name'), '值班：' + STAFF);
    assert.equal(await page.textContent('#no-open'), '目前没有待处理的呼叫');
    const cookies = await page.context().cookies();
    const session = cookies.find((c) => c.name === 'quorvod_desk');
    assert.ok(session.httpOnly);
    assert.equal(session.sameSite, 'Strict');
    assert.equal(await page.evaluate(() => document.cookie), '', 'the cookie is out of scripts\' reach');
  });

  it('shows a room request within one second, without a reload, and plays the alert', async () => {
    room = await venue.terminal();
    await page.evaluate(() => { window.loadedAt = performance.timeOrigin; });
    await room.request('包厢8');
    const pressed = Date.now();
    await page.waitForSelector('.call.pending .call-room:text-is("包厢8")', {timeout: 1000});
    const shownAfter = Date.now() - pressed;
    assert.ok(shownAfter < 1000, 'shown after ' + shownAfter + ' ms');
    assert.equal(await page.evaluate(() => window.loadedAt), await page.evaluate(() => performance.timeOrigin),
        'the page was not reloaded');
    await page.waitForFunction(() => Number(document.getElementById('alert-sound').dataset.plays) >= 1,
        null, {timeout: 5000});
    assert.ok(await page.isVisible('#alert-banner'));
    assert.match(await page.textContent('#alert-text'), /包厢8/);
    assert.equal(await page.textContent('#pending-count'), '1');
  });

  it('adds a second press to the open call', async () => {
    await room.request('包厢8');
    await page.waitForSelector('.call .call-presses:has-text("按了 2 次")', {timeout: 1000});
    assert.equal(await page.locator('#open-calls .call').count(), 1);
    assert.equal(venue.sql('select count(*) from roomcall'), '2', 'every press is stored');
    assert.equal(venue.sql('select Presses, State from deskcall'), '2|pending');
  });

  it('acknowledges and finishes the call on the page and in the database', async () => {
    await page.click('.call .ack');
    await page.waitForSelector('.call.acknowledged .badge:text-is("已确认")');
    assert.match(await page.textContent('.call-ack'), new RegExp('^' + STAFF + ' 于 .* 确认'));
    assert.equal(venue.sql('select State, AckBy from deskcall'), 'acknowledged|' + STAFF);
    assert.equal(await page.isVisible('#alert-banner'), false, 'the alert stops once answered');

    await page.click('.call .done');
    await page.waitForSelector('#done-calls tbody tr td.name:text-is("包厢8")');
    assert.equal(await page.locator('#open-calls .call').count(), 0);
    assert.equal(venue.sql('select State, DoneBy from deskcall'), 'done|' + STAFF);
  });

  it('repeats the alert every 30 s and marks a call urgent after 60 s', async () => {
    // A desk page whose clock the test moves on.
    const clocked = await venue.deskPage({clock: true});
    await room.request('包厢8');
    await clocked.waitForSelector('.call.pending');
    await clocked.waitForFunction(() => Number(document.getElementById('alert-sound').dataset.plays) >= 1);
    assert.equal(await clocked.locator('.call.urgent').count(), 0);
    await clocked.clock.fastForward('00:31');
    await clocked.waitForFunction(() => Number(document.getElementById('alert-sound').dataset.plays) >= 2);
    await clocked.clock.fastForward('00:31');
    await clocked.waitForSelector('.call.urgent .badge:text-is("紧急")');
    assert.match(await clocked.textContent('#alert-text'), /^紧急：包厢8（已等待 1分0\d秒）/);
    await clocked.context().close();
  });

  it('shows a room named as a script as that text', async () => {
    const hostile = '<img src=x onerror=alert(1)>';
    await room.request(hostile);
    await page.waitForSelector('.call .call-room:text-is("' + hostile + '")', {timeout: 2000});
    assert.equal(await page.locator('#open-calls img').count(), 0);

    // Staff give the room that name on the rooms list: still text.
    await page.click('#tab-rooms');
    await page.click('#online-rooms .rename');
    await page.fill('.rename-input', '<b>VIP</b>' + hostile);
    await page.click('#online-rooms button.primary');
    await page.waitForSelector('#online-rooms td.name:text-is("<b>VIP</b>' + hostile + '")');
    assert.equal(await page.locator('main img, td.name b').count(), 0);
    await page.waitForTimeout(300);
    assert.deepEqual(dialogs, [], 'no script of a room name ran');
    assert.equal(venue.sql("select Name from deskroom where Address = '127.0.0.1'"), '<b>VIP</b>' + hostile);
  });

  it('lists the connected terminal with the song it started', async () => {
    await page.click('#tab-rooms');
    await page.waitForSelector('#online-rooms tbody tr');
    await room.play('10021');
    await page.waitForSelector('#online-rooms td.song:has-text("10021")', {timeout: 3000});
    assert.match(await page.textContent('#online-rooms td.song'), /^10021 .* - 王菲 · /);
    await page.click('#tab-today');
    await page.waitForSelector('#today-songs tbody tr td:text-is("10021")', {timeout: 5000});
  });
});

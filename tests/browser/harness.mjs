// What the browser tests and the screenshot script share: a venue made of a
// real quorvod-server with its console on loopback ports of its choice, a
// test catalogue, a staff account, room terminals on the real client stack,
// and Debian's Chromium driven by playwright-core.

import {spawn, execFileSync} from 'node:child_process';
import {mkdtempSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import {chromium} from 'playwright-core';

export const STAFF = '张三';
export const PASSWORD = 'desk-pass-1';

const BIN = process.env.QUOR_BIN_DIR;
const TEST_BIN = process.env.QUOR_TEST_BIN_DIR;

// The lines a child process writes, one at a time as they come.
class Lines {
  constructor(stream) {
    this.waiting = [];
    this.lines = [];
    readline.createInterface({input: stream}).on('line', (line) => {
      const next = this.waiting.shift();
      if (next) next(line); else this.lines.push(line);
    });
  }
  next(ms = 20000) {
    if (this.lines.length) return Promise.resolve(this.lines.shift());
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('no line within ' + ms + ' ms')), ms);
      this.waiting.push((line) => { clearTimeout(timer); resolve(line); });
    });
  }
}

function portAfter(line, marker) {
  const at = line.indexOf(marker);
  if (at < 0) throw new Error('unexpected line: ' + line);
  return parseInt(line.slice(at + marker.length), 10);
}

// A room PC: the terminal's data module, datasets and transport, without
// the window. Commands answer "ok" or "error: ...".
export class RoomTerminal {
  // `from`: the loopback address the server sees the room PC at.
  static async connect(port, from) {
    const terminal = new RoomTerminal();
    await terminal.send('connect ' + port + (from ? ' ' + from : ''));
    return terminal;
  }
  constructor() {
    this.child = spawn(path.join(TEST_BIN, 'room_terminal'), [], {stdio: ['pipe', 'pipe', 'inherit']});
    this.out = new Lines(this.child.stdout);
  }
  async send(command) {
    this.child.stdin.write(command + '\n');
    const answer = await this.out.next();
    if (answer !== 'ok') throw new Error(command + ': ' + answer);
  }
  // A press of the room request button.
  request(name) { return this.send('request ' + name); }
  // The player starting a song (its path lookup).
  play(singId) { return this.send('play ' + singId); }
  async close() {
    this.child.stdin.end('quit\n');
    await new Promise((resolve) => this.child.once('exit', resolve));
  }
}

export class Venue {
  // `demo`: the demo builder's catalogue (2,000 songs) instead of the small
  // test catalogue.
  static async open({demo = false} = {}) {
    const venue = new Venue();
    await venue.start(demo);
    return venue;
  }

  async start(demo) {
    if (!BIN || !TEST_BIN) throw new Error('QUOR_BIN_DIR and QUOR_TEST_BIN_DIR must name the build');
    this.folder = mkdtempSync(path.join(tmpdir(), 'quor-browser-'));
    this.db = path.join(this.folder, 'catalogue.db');
    if (demo) {
      execFileSync(path.join(BIN, 'quorvod-make-demo'), [this.folder, '--songs', '2000', '--no-video', '--no-photos'],
          {env: {...process.env, QT_QPA_PLATFORM: 'offscreen'}, stdio: 'ignore'});
    } else {
      execFileSync(path.join(TEST_BIN, 'room_terminal'), ['make-catalogue', this.db]);
    }
    execFileSync(path.join(BIN, 'quorvod-server'), ['--db', this.db, '--add-staff', STAFF],
        {input: PASSWORD + '\n'});
    this.server = spawn(path.join(BIN, 'quorvod-server'),
        ['--db', this.db, '--port', '0', '--bind', '127.0.0.1', '--console', '127.0.0.1:0',
          '--log', path.join(this.folder, 'server.log')],
        {stdio: ['ignore', 'pipe', 'inherit']});
    const out = new Lines(this.server.stdout);
    this.terminalPort = portAfter(await out.next(), 'listening on 127.0.0.1:');
    this.consolePort = portAfter(await out.next(), 'console on http://127.0.0.1:');
    this.url = 'http://127.0.0.1:' + this.consolePort;
    this.terminals = [];
  }

  async terminal(from) {
    const terminal = await RoomTerminal.connect(this.terminalPort, from);
    this.terminals.push(terminal);
    return terminal;
  }

  // A statement's result on the catalogue file, as the sqlite3 shell prints it.
  sql(statement) {
    return execFileSync('sqlite3', [this.db, statement]).toString().trim();
  }

  async browser() {
    this.chromium = await chromium.launch({
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
        // A desk PC's browser is set to play the alert without a click first.
        '--autoplay-policy=no-user-gesture-required'],
    });
    return this.chromium;
  }

  // A page logged in as the staff account, showing the console; with
  // `clock` its clock is the test's to move on.
  async deskPage({clock = false, viewport} = {}) {
    const context = await this.chromium.newContext({locale: 'zh-CN', ...(viewport ? {viewport} : {})});
    const page = await context.newPage();
    if (clock) await page.clock.install();
    await page.goto(this.url + '/');
    await page.fill('#login-name', STAFF);
    await page.fill('#login-password', PASSWORD);
    await page.click('#login-button');
    await page.waitForURL(this.url + '/');
    await page.waitForSelector('#link.up');
    return page;
  }

  async close() {
    for (const terminal of this.terminals) await terminal.close().catch(() => {});
    if (this.chromium) await this.chromium.close();
    if (this.server) {
      const ended = new Promise((resolve) => this.server.once('exit', resolve));
      this.server.kill('SIGTERM');
      await ended;
    }
    rmSync(this.folder, {recursive: true, force: true});
  }
}

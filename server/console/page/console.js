// The front-desk console: calls as tickets, the rooms, today's figures.
//
// The server pushes each part whole as a server-sent event ("calls",
// "rooms", "today", and "clock" with its own time); the page keeps the last
// of each and draws it. Every text that comes from a terminal or from staff
// is put in with textContent, never as HTML.
'use strict';

const ALERT_REPEAT_MS = 30000;  // the alert sounds again while a call waits
const URGENT_MS = 60000;        // a call unanswered this long is urgent

const state = {
  csrf: '',
  offset: 0,  // server clock minus ours
  calls: [],
  rooms: {connected: [], offline: []},
  today: null,
  presses: new Map(),  // call id -> presses seen, to notice new presses
  lastAlert: 0,
  editing: null,  // address whose name is being edited; rooms are not redrawn meanwhile
};

const $ = (id) => document.getElementById(id);

function serverNow() {
  return Date.now() + state.offset;
}

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  return node;
}

function pad(n) {
  return String(n).padStart(2, '0');
}

function clock(ms) {
  if (!ms) return '—';
  const d = new Date(ms);
  return pad(d.getHours()) + ':' + pad(d.getMinutes()) + ':' + pad(d.getSeconds());
}

function duration(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  if (s < 60) return s + '秒';
  const m = Math.floor(s / 60);
  if (m < 60) return m + '分' + pad(s % 60) + '秒';
  return Math.floor(m / 60) + '小时' + pad(m % 60) + '分';
}

function toast(text) {
  const t = $('toast');
  t.textContent = text;
  t.hidden = false;
  clearTimeout(toast.timer);
  toast.timer = setTimeout(() => { t.hidden = true; }, 4000);
}

// Puts one node per item into `parent`, in order, keeping the nodes whose
// item has not changed (a button under the finger stays the same button);
// `refresh` then brings the times in every node up to date.
function reconcile(parent, items, key, signature, build, refresh) {
  const old = new Map();
  for (const node of parent.children) old.set(node.dataset.key, node);
  const nodes = items.map((item) => {
    const k = String(key(item));
    const sig = signature(item);
    let node = old.get(k);
    if (!node || node.dataset.sig !== sig) {
      node = build(item);
      node.dataset.key = k;
      node.dataset.sig = sig;
    }
    if (refresh) refresh(node, item);
    return node;
  });
  nodes.forEach((node, i) => {
    if (parent.children[i] !== node) parent.insertBefore(node, parent.children[i] || null);
  });
  while (parent.children.length > nodes.length) parent.lastElementChild.remove();
}

async function post(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    credentials: 'same-origin',
    headers: {'Content-Type': 'application/json', 'X-CSRF-Token': state.csrf},
    body: JSON.stringify(body || {}),
  });
  if (response.status === 401) {
    window.location.href = '/login';
    return null;
  }
  let answer = null;
  try {
    answer = await response.json();
  } catch (ignored) {
    // no JSON body
  }
  if (!response.ok) {
    toast(answer && answer.error ? answer.error : '操作失败（' + response.status + '）');
    return null;
  }
  return answer;
}

// ---- the alert: sound and banner, again every 30 s while a call waits ----

function pendingCalls() {
  return state.calls.filter((c) => c.state === 'pending');
}

function soundAlert() {
  const audio = $('alert-sound');
  try {
    audio.currentTime = 0;
  } catch (ignored) {
    // not loaded yet
  }
  const playing = audio.play();
  if (playing && playing.catch) {
    playing.then(() => { $('sound-enable').hidden = true; })
        .catch(() => { $('sound-enable').hidden = false; });
  }
}

function alertNow() {
  state.lastAlert = Date.now();
  soundAlert();
  const banner = $('alert-banner');
  banner.classList.remove('flash');
  void banner.offsetWidth;  // restarts the animation
  banner.classList.add('flash');
}

function drawBanner() {
  const pending = pendingCalls();
  const banner = $('alert-banner');
  const count = $('pending-count');
  count.hidden = pending.length === 0;
  count.textContent = String(pending.length);
  document.title = pending.length ? '(' + pending.length + ') 新呼叫 · QuorVOD 前台' : 'QuorVOD 前台';
  if (pending.length === 0) {
    banner.hidden = true;
    return;
  }
  const now = serverNow();
  const urgent = pending.filter((c) => isUrgent(c, now)).sort((a, b) => a.firstAt - b.firstAt);
  const fresh = pending.filter((c) => !isUrgent(c, now)).sort((a, b) => a.firstAt - b.firstAt);
  const parts = [];
  if (urgent.length) {
    parts.push('紧急：' + urgent.map((c) => c.name + '（已等待 ' + duration(now - c.firstAt) + '）').join('、'));
  }
  if (fresh.length) parts.push('新呼叫：' + fresh.map((c) => c.name).join('、'));
  banner.hidden = false;
  banner.classList.toggle('urgent', urgent.length > 0);
  $('alert-text').textContent = parts.join('　');
}

// ---- calls ----

function sortOpen(a, b) {
  if (a.state !== b.state) return a.state === 'pending' ? -1 : 1;
  return a.firstAt - b.firstAt;
}

function isUrgent(call, now) {
  return call.state === 'pending' && now - call.firstAt >= URGENT_MS;
}

function callCard(call) {
  const card = el('article', 'call ' + call.state);
  card.dataset.id = call.id;
  const head = el('div', 'call-head');
  head.append(el('span', 'call-room', call.name), el('span', 'badge'));
  card.append(head);
  card.append(el('div', 'call-meta', '地址 ' + call.address + ' · 首次呼叫 ' + clock(call.firstAt)));
  const wait = el('div', 'call-wait', call.state === 'pending' ? '已等待 ' : '呼叫后已过 ');
  wait.append(el('b', 'age'));
  card.append(wait);
  if (call.presses > 1) {
    card.append(el('div', 'call-presses', '按了 ' + call.presses + ' 次 · 最近 ' + clock(call.lastAt)));
  }
  if (call.state === 'acknowledged') {
    card.append(el('div', 'call-ack', call.ackBy + ' 于 ' + clock(call.ackAt) + ' 确认（响应 ' +
        duration(call.ackAt - call.firstAt) + '）'));
  }
  const actions = el('div', 'call-actions');
  if (call.state === 'pending') {
    const ack = el('button', 'primary ack', '确认');
    ack.addEventListener('click', () => post('/api/calls/' + call.id + '/ack'));
    actions.append(ack);
  }
  const done = el('button', 'done', '完成');
  done.addEventListener('click', () => post('/api/calls/' + call.id + '/done'));
  actions.append(done);
  card.append(actions);
  return card;
}

// The parts of a card that change with the clock.
function refreshCard(card, call) {
  const now = serverNow();
  const urgent = isUrgent(call, now);
  card.classList.toggle('urgent', urgent);
  card.querySelector('.badge').textContent =
      call.state === 'acknowledged' ? '已确认' : urgent ? '紧急' : '待处理';
  card.querySelector('.age').textContent = duration(now - call.firstAt);
}

function drawCalls() {
  const open = state.calls.filter((c) => c.state !== 'done').sort(sortOpen);
  reconcile($('open-calls'), open, (c) => c.id,
      (c) => [c.state, c.name, c.presses, c.lastAt, c.ackBy, c.ackAt].join('|'), callCard, refreshCard);
  $('no-open').hidden = open.length > 0;

  const done = state.calls.filter((c) => c.state === 'done');
  reconcile($('done-calls').tBodies[0], done, (c) => c.id, (c) => c.name, (c) => {
    const row = el('tr');
    row.dataset.id = c.id;
    row.append(el('td', 'name', c.name), el('td', '', clock(c.firstAt)), el('td', '', c.presses),
        el('td', '', (c.ackBy || '') + ' ' + clock(c.ackAt)),
        el('td', '', (c.doneBy || '') + ' ' + clock(c.doneAt)));
    return row;
  });
  $('done-calls').hidden = done.length === 0;
  $('no-done').hidden = done.length > 0;
  drawBanner();
}

function onCalls(calls) {
  let fresh = false;
  const seen = new Map();
  for (const call of calls) {
    seen.set(call.id, call.presses);
    if (call.state !== 'pending') continue;
    const before = state.presses.get(call.id);
    if (before === undefined || call.presses > before) fresh = true;
  }
  state.presses = seen;
  state.calls = calls;
  drawCalls();
  if (fresh) alertNow();
}

// ---- rooms ----

function renameButton(address, current) {
  const button = el('button', 'plain rename', '改名');
  button.addEventListener('click', () => startRename(button.closest('tr'), address, current));
  return button;
}

function startRename(row, address, current) {
  if (!row) return;
  state.editing = address;
  const cell = row.querySelector('td.name');
  row.dataset.sig = 'editing';  // the next drawing builds the row anew
  const input = el('input', 'rename-input');
  input.value = current || '';
  input.maxLength = 64;
  input.placeholder = '留空则使用包厢自报的名称';
  const save = el('button', 'primary', '保存');
  const cancel = el('button', 'plain', '取消');
  const finish = () => {
    state.editing = null;
    drawRooms();
  };
  save.addEventListener('click', async () => {
    const answer = await post('/api/rooms/name', {address, name: input.value.trim()});
    if (answer) finish();
  });
  cancel.addEventListener('click', finish);
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter') save.click();
    if (e.key === 'Escape') finish();
  });
  cell.replaceChildren(input, save, cancel);
  input.focus();
}

function songText(song) {
  if (!song) return '—';
  const title = song.title ? song.title + (song.singer ? ' - ' + song.singer : '') : '（曲库中无此歌曲）';
  return song.singId + ' ' + title + ' · ' + clock(song.at) + ' 开始';
}

function onlineRow(r) {
  const row = el('tr');
  row.dataset.address = r.address;
  row.dataset.peer = r.peer;
  row.append(el('td', 'name', r.name), el('td', '', r.peer), el('td', '', clock(r.connectedAt)),
      el('td', 'activity'), el('td', 'song', songText(r.song)));
  const actions = el('td');
  actions.append(renameButton(r.address, r.staffName));
  row.append(actions);
  return row;
}

function offlineRow(r) {
  const row = el('tr');
  row.dataset.address = r.address;
  row.append(el('td', 'name', r.name), el('td', '', r.address),
      el('td', '', r.lastSeen ? new Date(r.lastSeen).toLocaleString('zh-CN') : '从未连接'));
  const actions = el('td');
  actions.append(renameButton(r.address, r.staffName));
  row.append(actions);
  return row;
}

function drawRooms() {
  if (state.editing) return;  // drawn again when the edit ends
  const online = state.rooms.connected;
  reconcile($('online-rooms').tBodies[0], online, (r) => r.peer,
      (r) => [r.name, r.staffName, r.connectedAt, JSON.stringify(r.song)].join('|'), onlineRow,
      (row, r) => {
        const idle = serverNow() - r.lastActivity;
        row.querySelector('.activity').textContent = idle < 5000 ? '刚刚' : duration(idle) + '前';
      });
  $('online-rooms').hidden = online.length === 0;
  $('no-online').hidden = online.length > 0;
  $('online-count').textContent = String(online.length);

  const offline = state.rooms.offline;
  reconcile($('offline-rooms').tBodies[0], offline, (r) => r.address,
      (r) => [r.name, r.staffName, r.lastSeen].join('|'), offlineRow);
  $('offline-rooms').hidden = offline.length === 0;
  $('no-offline').hidden = offline.length > 0;
}

// ---- today ----

function drawToday() {
  const today = state.today;
  if (!today) return;
  $('today-rooms').tBodies[0].replaceChildren(...today.rooms.map((r) => {
    const row = el('tr');
    row.append(el('td', 'name', r.name), el('td', '', r.calls), el('td', '', r.presses));
    return row;
  }));
  $('today-songs').tBodies[0].replaceChildren(...today.songs.map((s, i) => {
    const row = el('tr');
    row.append(el('td', '', i + 1), el('td', '', s.singId), el('td', '', s.title || '—'),
        el('td', '', s.singer || '—'), el('td', '', s.plays));
    return row;
  }));
  const a = today.answered;
  $('today-answered').hidden = a.count === 0;
  $('answer-summary').textContent = a.count === 0 ? '今日尚无已响应的呼叫' :
      '已响应 ' + a.count + ' 个呼叫：平均 ' + duration(a.averageMs) + ' · 中位 ' +
      duration(a.medianMs) + ' · 最长 ' + duration(a.longestMs);
  $('today-answered').tBodies[0].replaceChildren(...a.calls.map((c) => {
    const row = el('tr');
    row.append(el('td', 'name', c.name), el('td', '', clock(c.firstAt)), el('td', '', c.ackBy),
        el('td', '', duration(c.waitMs)));
    return row;
  }));
}

// ---- the live link ----

function setLink(up) {
  const link = $('link');
  link.textContent = up ? '实时' : '连接中断，正在重连…';
  link.className = 'link ' + (up ? 'up' : 'down');
}

function connect() {
  const events = new EventSource('/api/events');
  events.addEventListener('open', () => setLink(true));
  events.addEventListener('clock', (e) => { state.offset = JSON.parse(e.data).now - Date.now(); });
  events.addEventListener('calls', (e) => onCalls(JSON.parse(e.data).calls));
  events.addEventListener('rooms', (e) => {
    state.rooms = JSON.parse(e.data);
    drawRooms();
  });
  events.addEventListener('today', (e) => {
    state.today = JSON.parse(e.data);
    drawToday();
  });
  events.addEventListener('error', async () => {
    setLink(false);
    // The browser reconnects by itself unless the server refused the
    // stream; a session that ended goes back to the login.
    try {
      const me = await fetch('/api/me', {credentials: 'same-origin'});
      if (me.status === 401) {
        events.close();
        window.location.href = '/login';
        return;
      }
    } catch (ignored) {
      // the server is away; keep trying
    }
    if (events.readyState === EventSource.CLOSED) setTimeout(connect, 3000);
  });
}

function tick() {
  drawCalls();
  if (!state.editing) drawRooms();
  if (pendingCalls().length > 0 && Date.now() - state.lastAlert >= ALERT_REPEAT_MS) alertNow();
}

function showView(name) {
  for (const tab of document.querySelectorAll('.tab')) {
    tab.classList.toggle('active', tab.dataset.view === name);
  }
  for (const view of document.querySelectorAll('.view')) view.hidden = view.id !== 'view-' + name;
}

async function start() {
  const me = await fetch('/api/me', {credentials: 'same-origin'});
  if (!me.ok) {
    window.location.href = '/login';
    return;
  }
  const who = await me.json();
  state.csrf = who.csrf;
  state.offset = who.now - Date.now();
  $('staff-name').textContent = '值班：' + who.name;

  const audio = $('alert-sound');
  audio.addEventListener('playing', () => {
    audio.dataset.plays = String(Number(audio.dataset.plays || '0') + 1);
  });
  $('sound-enable').addEventListener('click', () => soundAlert());
  for (const tab of document.querySelectorAll('.tab')) {
    tab.addEventListener('click', () => showView(tab.dataset.view));
  }
  $('logout').addEventListener('click', async () => {
    await post('/api/logout');
    window.location.href = '/login';
  });
  connect();
  setInterval(tick, 1000);
}

document.addEventListener('DOMContentLoaded', () => {
  start().catch(() => setLink(false));
});

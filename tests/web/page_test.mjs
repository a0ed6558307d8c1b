// The web API's page in Debian's chromium (headless, started here with our own flags and a fresh
// profile, reached through the DevTools protocol on loopback): lists, browsing, playing on the
// first renderer, pause/resume/volume/stop read back over SOAP, a handoff to the second renderer,
// a search across all servers and a merged row played, a merged search paged with its progress, a
// renderer leaving and coming back, paging through the 2,000-item container with a slow page
// cancelled, failing commands' errors in words. Runs in the lab.
import { spawn, execFileSync } from 'node:child_process';
import { chromium } from 'playwright-core';

const env = (name) => {
  const v = process.env[name];
  if (!v) throw new Error('missing ' + name);
  return v;
};
const PAGE_URL = env('PAGE_URL');
const R1 = env('LAB_RENDERER1_NAME');
const R2 = env('LAB_RENDERER2_NAME');
const R1_DESC = env('LAB_RENDERER1_DESC');
const R2_DESC = env('LAB_RENDERER2_DESC');
const SERVER = env('LAB_SERVER_NAME');
const TRACK = 'Rock & Roll <Live>';
const UNICODE = 'Ünïcode Tïtle';
const BULK = parseInt(process.env.LAB_BULK_COUNT || '2000', 10);

const soap = (what, desc = R1_DESC) => execFileSync('python3', [env('SOAP_PROBE'), what, desc]).toString().trim();
const lab = (...args) => execFileSync(env('LAB_SCRIPT'), args, { stdio: 'ignore', timeout: 60000 });
let failures = 0;
const check = (ok, what) => {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
};

async function until(what, fn, ms = 15000) {
  const end = Date.now() + ms;
  for (;;) {
    try {
      if (await fn()) return true;
    } catch (e) { /* not yet */ }
    if (Date.now() > end) {
      check(false, what + ' (timed out)');
      return false;
    }
    await new Promise((r) => setTimeout(r, 200));
  }
}

// Chromium with exactly the flags we choose: no first run, no background traffic, no
// media-router discovery (no SSDP of its own); DevTools on loopback only.
const browserProcess = spawn(env('CHROMIUM'), [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--disable-features=MediaRouter,DialMediaRouteProvider,GlobalMediaControls',
  '--user-data-dir=' + env('PROFILE'), '--remote-debugging-address=127.0.0.1', '--remote-debugging-port=0',
  '--window-size=1280,800', 'about:blank',
], { stdio: ['ignore', 'ignore', 'pipe'] });
const endpoint = await new Promise((resolve, reject) => {
  let text = '';
  const timer = setTimeout(() => reject(new Error('chromium did not start: ' + text)), 20000);
  browserProcess.stderr.on('data', (d) => {
    text += d;
    const m = text.match(/DevTools listening on (ws:\/\/\S+)/);
    if (m) { clearTimeout(timer); resolve(m[1]); }
  });
  browserProcess.on('exit', () => reject(new Error('chromium ended: ' + text)));
});

class Done extends Error {}
let browser;
try {
  browser = await chromium.connectOverCDP(endpoint);
  const context = browser.contexts()[0];
  const page = await context.newPage();
  await page.setViewportSize({ width: 1280, height: 800 });
  // The page may talk to its own library only.
  const origin = new URL(PAGE_URL).origin;
  const foreign = [];
  page.on('request', (r) => { if (!r.url().startsWith(origin)) foreign.push(r.url()); });

  const names = (list) => page.$$eval('#' + list + ' li .name', (els) => els.map((e) => e.textContent));
  const opened = Date.now();
  await page.goto(PAGE_URL);
  await until('servers and renderers shown', async () => {
    const s = await names('servers');
    const r = await names('renderers');
    return s.includes(SERVER) && r.includes(R1) && r.includes(R2);
  }, 30000);
  console.log('time from opening the page to servers and renderers shown: ' + (Date.now() - opened) + ' ms');
  if (process.env.OPEN_ONLY) throw new Done();   // the benchmark's measure ends here

  const row = (list, text) => page.locator('#' + list + ' li').filter({
    has: page.locator('.name', { hasText: new RegExp('^' + text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&') + '$') }) });
  const open = async (title) => {
    await row('browse', title).locator('.name').click();
    await until('container ' + title + ' opened', async () => (await page.textContent('#path')).includes(title));
  };
  await row('servers', SERVER).click();
  await until('server browsed', async () => (await names('browse')).includes('Browse Folders'));
  await open('Browse Folders');
  await until('music listed', async () => (await names('browse')).includes('music'));
  await open('music');
  await until('artists listed', async () => (await names('browse')).includes('Björk Ensemble'));
  await open('Björk Ensemble');
  await until('album listed', async () => (await names('browse')).includes('Second Album'));
  await open('Second Album');
  await until('non-ASCII title shown literally', async () => (await names('browse')).includes(UNICODE));
  await page.click('#path a:nth-of-type(3)');   // back to "music"
  await until('back to music', async () => (await names('browse')).includes('Alpha Artist'));
  await open('Alpha Artist');
  await until('album listed', async () => (await names('browse')).includes('First Album'));
  await open('First Album');
  await until('"&" and "<" shown literally', async () => (await names('browse')).includes(TRACK));
  check(await page.locator('#browse Live').count() === 0, 'no markup made from a title');

  // Play on the first renderer.
  await row('renderers', R1).click();
  await until('renderer selected', async () => (await page.textContent('#renderer-name')) === R1);
  const volumeBefore = soap('volume');
  await row('browse', TRACK).locator('button.play').click();
  await until('PLAYING shown', async () => (await page.textContent('#state')) === 'PLAYING', 20000);
  check(soap('state') === 'PLAYING', 'GetTransportInfo says PLAYING');
  // That track lasts 6 s: the transport commands work on the 30-second one.
  await row('browse', 'Long Tone').locator('button.play').click();
  await until('current item shown', async () => (await page.textContent('#current')) === 'Long Tone', 20000);
  await until('PLAYING shown', async () => (await page.textContent('#state')) === 'PLAYING', 20000);
  await page.screenshot({ path: env('SCREENSHOT') });

  await page.click('#pause');
  await until('PAUSED_PLAYBACK shown', async () => (await page.textContent('#state')) === 'PAUSED_PLAYBACK');
  check(soap('state') === 'PAUSED_PLAYBACK', 'GetTransportInfo says PAUSED_PLAYBACK');
  await page.click('#resume');
  await until('PLAYING again', async () => (await page.textContent('#state')) === 'PLAYING');
  check(soap('state') === 'PLAYING', 'GetTransportInfo says PLAYING after resume');
  const target = volumeBefore === '37' ? 38 : 37;
  await page.$eval('#volume', (el, v) => { el.value = String(v); el.dispatchEvent(new Event('change')); }, target);
  await until('volume read back over SOAP', async () => soap('volume') === String(target));
  await page.click('#stop');
  await until('STOPPED shown', async () => (await page.textContent('#state')) === 'STOPPED');
  check(soap('state') === 'STOPPED', 'GetTransportInfo says STOPPED');
  await page.$eval('#volume', (el, v) => { el.value = String(v); el.dispatchEvent(new Event('change')); },
    parseInt(volumeBefore, 10));

  // Handoff: the 30-second track moves from renderer 1 to renderer 2, which
  // becomes the selected one; renderer 1 stops.
  await row('browse', 'Long Tone').locator('button.play').click();
  await until('PLAYING before the handoff', async () => soap('state') === 'PLAYING', 20000);
  await new Promise((r) => setTimeout(r, 3000));
  await page.selectOption('#handoff-to', { label: R2 });
  await page.click('#handoff-go');
  await until('handoff reported', async () =>
    (await page.textContent('#handoff-report')).startsWith('handed off from "' + R1 + '" to "' + R2 + '"'), 45000);
  check(soap('state', R2_DESC) === 'PLAYING', 'GetTransportInfo on renderer 2 says PLAYING after the handoff');
  check(soap('state') === 'STOPPED', 'renderer 1 stopped after the handoff');
  await until('renderer 2 selected', async () => (await page.textContent('#renderer-name')) === R2);
  await page.click('#stop');
  await until('renderer 2 stopped', async () => soap('state', R2_DESC) === 'STOPPED');

  // A handoff that cannot be: nothing plays on renderer 2; the reason in words.
  await page.selectOption('#handoff-to', { label: R1 });
  await page.click('#handoff-go');
  await until('handoff refusal shown', async () =>
    (await page.textContent('#error')).includes('nothing plays on "' + R2 + '"'), 20000);

  // One search across every server: merged rows with their server, every
  // server's outcome named, a row played from its bookmark on renderer 1.
  await row('renderers', R1).click();
  await until('renderer 1 selected again', async () => (await page.textContent('#renderer-name')) === R1);
  await page.fill('#across-text', 'Tone');
  await page.click('#across-go');
  const merged = 'Long Tone (' + SERVER + ')';
  await until('merged rows shown', async () => (await names('across')).includes(merged), 30000);
  const outcomes = await names('across-servers');
  check(outcomes.some((o) => o.startsWith(SERVER + ': answered (')), 'the lab server answered: ' + outcomes.join('; '));
  check(outcomes.length === (await names('servers')).length, 'every listed server named with its outcome');
  check(/^\d+ of \d+ rows$/.test(await page.textContent('#across-info')), 'the row count shown');
  await row('across', merged).locator('button.play').click();
  await until('merged row PLAYING on renderer 1', async () => soap('state') === 'PLAYING', 20000);
  await page.click('#stop');
  await until('renderer 1 stopped', async () => soap('state') === 'STOPPED');

  // The merged search paged: the 99 bulk tracks 0001-0099 match; the answer is held back
  // a moment so that the servers' progress shows, then the second page
  // comes from the same merged rows.
  const isSearchAll = (url) => new URL(url).pathname === '/nmc/rpc/search_all';
  await page.route(isSearchAll, async (route) => {
    const response = await route.fetch();
    await new Promise((r) => setTimeout(r, 2000));
    await route.fulfill({ response }).catch(() => {});
  });
  await page.fill('#across-text', 'Bulk Track 00');
  await page.click('#across-go');
  const progressText = () => page.textContent('#across-progress .progress-text');
  await until('merged search progress shown', async () => await page.isVisible('#across-progress') &&
    /^search(ing|ed): \d+ rows( so far)?, [1-9]\d* of [1-9]\d* servers answered(, reading the page)?, \d+\.\d s$/.test(await progressText()),
  20000);
  await page.screenshot({ path: env('SCREENSHOT').replace(/\.png$/, '-search.png') });
  await until('first merged page', async () => /^rows 1-50 of \d+$/.test(await page.textContent('#across-page-info')),
    30000);
  await page.unroute(isSearchAll);
  const mergedTotal = parseInt((await page.textContent('#across-page-info')).split(' of ')[1], 10);
  check(mergedTotal >= 99, 'at least the 99 bulk tracks merged (' + mergedTotal + ')');
  const firstRows = await names('across');
  await page.click('#across-next');
  await until('second merged page', async () =>
    (await page.textContent('#across-page-info')) === 'rows 51-' + Math.min(100, mergedTotal) + ' of ' + mergedTotal);
  const secondRows = await names('across');
  check(secondRows.length === Math.min(50, mergedTotal - 50) && secondRows.every((n) => !firstRows.includes(n)),
    'the second merged page holds other rows than the first');
  check([...firstRows, ...secondRows].every((n) => n.startsWith('Bulk Track 00')), 'every merged row matches');
  check(!(await page.isDisabled('#across-prev')), 'the first merged page is one step back');

  // A renderer leaves and comes back; the page follows without a reload. The
  // control point ignores a byebye within a second of an alive, so a stop that
  // met one is tried again.
  let gone = false;
  for (let attempt = 0; attempt < 3 && !gone; attempt++) {
    lab('stop', 'renderer2');
    try {
      const end = Date.now() + 10000;
      while (!gone && Date.now() < end) {
        gone = !(await names('renderers')).includes(R2);
        if (!gone) await new Promise((r) => setTimeout(r, 200));
      }
    } finally {
      lab('start', 'renderer2');
    }
    await until('renderer 2 back', async () => (await names('renderers')).includes(R2), 40000);
    if (!gone) await new Promise((r) => setTimeout(r, 3000));
  }
  check(gone, 'renderer 2 gone after lab.sh stop renderer2');

  // Paging through the bulk container.
  await page.click('#path a:nth-of-type(2)');   // "Browse Folders"
  await until('bulk listed', async () => (await names('browse')).includes('bulk'));
  await open('bulk');
  await until('first page', async () => (await page.textContent('#page-info')) === '1-50 of ' + BULK);

  // A slow page abandoned: its progress shows while it loads, Cancel leaves
  // the page before in place, and the next try goes through.
  const firstPage = await names('browse');
  const isSecondPage = (url) => url.pathname.startsWith('/nmc/rss/') && url.searchParams.get('start') === '50';
  await page.route(isSecondPage, async (route) => {
    await new Promise((r) => setTimeout(r, 8000));
    await route.continue().catch(() => {});   // abandoned by then
  });
  await page.click('#next-page');
  await until('browse progress shown', async () => await page.isVisible('#browse-progress') &&
    /^loading items 51-100 of \d+, \d+\.\d s$/.test(await page.textContent('#browse-progress .progress-text')));
  await page.click('#browse-cancel');
  await until('browse cancelled', async () => (await page.textContent('#browse-note')).includes('cancelled'));
  check(await page.isHidden('#browse-progress'), 'no progress left after Cancel');
  check((await page.textContent('#page-info')) === '1-50 of ' + BULK, 'the page before still shown');
  check(JSON.stringify(await names('browse')) === JSON.stringify(firstPage), 'the list before still shown');
  await page.unroute(isSecondPage);
  await page.click('#next-page');
  await until('next page after a cancel', async () => (await page.textContent('#page-info')) === '51-100 of ' + BULK);
  await page.click('#prev-page');
  await until('back to the first page', async () => (await page.textContent('#page-info')) === '1-50 of ' + BULK);
  const seen = new Set();
  for (let pageNo = 0; ; pageNo++) {
    for (const n of await names('browse')) seen.add(n);
    if (await page.isDisabled('#next-page')) break;
    const before = await page.textContent('#page-info');
    await page.click('#next-page');
    await until('next page', async () => (await page.textContent('#page-info')) !== before);
  }
  check((await page.textContent('#page-info')) === (BULK - 49) + '-' + BULK + ' of ' + BULK, 'paged to the end');
  check(seen.size === BULK, 'every item of the bulk container seen once (' + seen.size + ')');

  // A failing command shows the API's error text.
  await page.evaluate(() => act(commands.stop('uuid:no-such-renderer')));
  await until('error shown', async () => (await page.textContent('#error')).startsWith('stop: '));
  check((await page.textContent('#error')).includes('is no longer listed: it is gone or its bookmark is no longer valid'),
    'the failure said in words: ' + await page.textContent('#error'));
  const infoBefore = await page.textContent('#page-info');
  await page.evaluate(() => browse(0, {server: view.server, search: null,
    path: view.path.concat([{title: 'Vanished', url: '/nmc/rss/server/RBuuid%3Ano-such-server%2C0'}])}));
  await until('browse failure shown', async () => (await page.textContent('#error')).includes(
    'browse failed: server "' + SERVER + '" refused or did not answer the browse of "Vanished"'));
  check((await page.textContent('#page-info')) === infoBefore, 'the list before stays after a failed browse');
  check(foreign.length === 0, 'the page asked nothing of another address ' + foreign.join(' '));
} catch (e) {
  if (!(e instanceof Done)) throw e;
} finally {
  if (browser) await browser.close().catch(() => {});
  // Chromium is gone before its profile is removed.
  if (browserProcess.exitCode === null) {
    const ended = new Promise((resolve) => browserProcess.once('exit', resolve));
    browserProcess.kill('SIGTERM');
    await Promise.race([ended, new Promise((resolve) => setTimeout(resolve, 5000))]);
    if (browserProcess.exitCode === null) browserProcess.kill('SIGKILL');
  }
}
console.log(failures ? failures + ' check(s) failed' : 'all checks passed');
process.exit(failures ? 1 : 0);

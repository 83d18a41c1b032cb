'use strict';
// The line's page in Debian's chromium on a 1366-pixel screen: it loads with Basic
// authentication, shows the seeded fixtures and yields, shows a serial holding markup as
// text, finds panels by a part of their serial at their own address, and a real station
// recording a panel reaches the open page within 2 s, without a reload, and says when it
// stopped.
const assert = require('assert');
const {spawn, execSync} = require('child_process');
const {chromium} = require('playwright-core');

const kLiveMs = 2000;
const env = process.env;

function tile(page, name) {
  return page.locator('#fixtures .tile', {hasText: name});
}

async function main() {
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: ['--no-sandbox']});
  let station = null;
  try {
    const context = await browser.newContext({
      httpCredentials: {username: env.LINE_USER, password: env.LINE_PASSWORD},
      viewport: {width: 1366, height: 768},
    });
    const page = await context.newPage();
    const problems = [];
    page.on('pageerror', e => problems.push(e.message));
    let loads = 0;
    page.on('load', () => ++loads);
    await page.goto(env.LINE_URL + '/');

    await tile(page, 'line-a COM7').waitFor({timeout: 10000});
    assert.match(await tile(page, 'line-a COM7').textContent(), /today 2 passed, 0 failed/);
    // The server fills the page as its script does: the page as served, then the script's own
    // fill of the same moment (how long ago a panel was may tick between the two).
    const kFills = ['fixtures', 'alarms', 'yields', 'cycle-times', 'pareto'];
    const fills = html => html.map(h => h.replace(/\d+ (s|min|h|d) ago/g, 'a while ago'));
    const served = fills(await page.evaluate(async ids => {
      const html = await (await fetch('/')).text();
      const doc = new DOMParser().parseFromString(html, 'text/html');
      if (!doc.querySelector('main[data-filled]')) throw new Error('the server did not fill the page');
      return ids.map(id => doc.getElementById(id).innerHTML);
    }, kFills));
    assert.deepEqual(fills(await page.evaluate(async ids => {
      await refresh();
      return ids.map(id => document.getElementById(id).innerHTML);
    }, kFills)), served);
    // The seeds are minutes old: the yields from an hour ago, whatever today's midnight.
    await page.evaluate(() => {
      const since = new Date(Date.now() - 3600 * 1000 - new Date().getTimezoneOffset() * 60000);
      document.querySelector('input[name=since]').value = since.toISOString().slice(0, 16);
    });
    await page.click('#filter button');
    await page.locator('#yields', {hasText: '66.7 %'}).waitFor({timeout: 5000});
    // The seeded failure has no step recorded.
    assert.equal(await page.locator('#pareto td', {hasText: '(not recorded)'}).count(), 1);

    const markup = '<img src=x onerror=window.forged=1>';
    assert.ok((await tile(page, 'line-a COM8').textContent()).includes(markup));
    assert.equal(await page.locator('#fixtures img').count(), 0);
    assert.equal(await page.evaluate(() => window.forged), undefined);

    station = spawn('sh', ['-c', 'exec ' + env.STATION_COMMAND], {stdio: ['ignore', 'pipe', 'inherit']});
    let output = '';
    const passed = new Promise(resolve => station.stdout.on('data', chunk => {
      output += chunk;
      if (/"state":"pass"/.test(output)) resolve(Date.now());
    }));
    const ours = tile(page, env.STATION_HOST + ' COM1');
    await ours.filter({hasText: 'waiting'}).waitFor({timeout: 20000});
    execSync(env.PANEL_IN);
    const at = await Promise.race([passed, new Promise(r => setTimeout(() => r(null), 60000))]);
    assert.ok(at, 'the station recorded no panel: ' + output);
    await ours.filter({hasText: 'PASS'}).filter({hasText: 'today 1 passed'}).waitFor({timeout: kLiveMs});
    console.log('the page showed the panel ' + (Date.now() - at) + ' ms after the station passed it');
    const shown = await ours.textContent();
    assert.match(shown, /1 panel in the last hour/);
    assert.doesNotMatch(shown, /last pass/i, 'the tile says PASS twice: ' + shown);
    assert.equal(loads, 1, 'the page was reloaded');
    if (env.SCREENSHOT) await page.screenshot({path: env.SCREENSHOT, fullPage: true});

    // A station stopped says so, and when; it is no silent station.
    station.kill('SIGTERM');
    await ours.filter({hasText: /station stopped at \d\d:\d\d/}).waitFor({timeout: 10000});
    assert.doesNotMatch(await page.locator('#alarms').textContent(), /station silent/);
    const widths = await page.locator('#fixtures .tile').evaluateAll(t => t.map(e => e.getBoundingClientRect().width));
    assert.ok(widths.every(w => w === widths[0]), 'tiles of one width: ' + widths);
    assert.deepEqual(problems, []);

    // A part of a serial, in any case, at an address of its own: the panels' attempts,
    // what happened first, the hash short (whole on hover), all within the screen's width.
    const trace = await context.newPage();
    trace.on('pageerror', e => problems.push(e.message));
    await trace.goto(env.LINE_URL + '/trace/sn-000');
    await trace.locator('#trace table').waitFor({timeout: 5000});
    const rows = trace.locator('#trace table tr');
    assert.equal(await rows.count(), 3);
    assert.deepEqual(await rows.nth(0).locator('th').allTextContents(),
                     ['outcome', 'step', 'reason', 'seconds', 'started', 'station', 'fixture', 'file', 'sha256',
                      'serial']);
    const hash = rows.nth(1).locator('td.digest');
    assert.equal(await hash.textContent(), '3f9c2a51b07e');
    assert.equal((await hash.getAttribute('title')).length, 64);
    assert.equal(await rows.nth(1).locator('a').getAttribute('href'), '/trace/SN-0001');
    assert.ok(await trace.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth),
              'the trace is wider than the screen');
    if (env.SCREENSHOT) await trace.screenshot({path: env.SCREENSHOT.replace(/\.png$/, '-trace.png'), fullPage: true});
    assert.deepEqual(problems, []);
  } finally {
    if (station) station.kill('SIGTERM');
    await browser.close();
  }
}

main().catch(e => {
  console.error('line page test: ' + (e.stack || e));
  process.exit(1);
});

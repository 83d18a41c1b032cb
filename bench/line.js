'use strict';
// bench/line's driver.
//   node line.js paint RUNS: the page's first complete paint in Debian's chromium, each run
//     in a fresh browser context (no cache); prints paint_ms=... per run, and where the time
//     went on standard error.
//   node line.js streams COUNT: opens COUNT event streams at once, then runs the command in
//     LINE_CHANGE (a state change on the records server) and prints when each stream heard it.
// LINE_URL, LINE_USER and LINE_PASSWORD name the server and its user.
const http = require('http');
const {execSync} = require('child_process');

const env = process.env;
const kTimeoutMs = 30000;

async function paint(runs) {
  const {chromium} = require('playwright-core');
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: ['--no-sandbox']});
  try {
    // The browser's own first page (its first renderer starting, its fonts loaded, its first
    // text drawn) is not the line page's.
    const warm = await browser.newContext();
    const first = await warm.newPage();
    await first.setContent('<p style="font-family: DejaVu Sans">Torvane <b>line</b></p>');
    await first.evaluate(() => new Promise(drawn => requestAnimationFrame(() => setTimeout(drawn))));
    await warm.close();
    for (let run = 0; run < runs; ++run) {
      // playwright answers a login challenge by pausing every request of the page in its own
      // process (hundreds of ms per page on a busy machine, which no browser spends): the
      // login goes with each request as a browser sends it once challenged.
      // LINE_PAINT_CHALLENGE=1 measures the challenged way.
      const login = env.LINE_PAINT_CHALLENGE === '1'
          ? {httpCredentials: {username: env.LINE_USER, password: env.LINE_PASSWORD}}
          : {extraHTTPHeaders: {Authorization: 'Basic ' +
                                Buffer.from(env.LINE_USER + ':' + env.LINE_PASSWORD).toString('base64')}};
      const context = await browser.newContext({...login, viewport: {width: 1200, height: 900}});
      const page = await context.newPage();
      await page.goto(env.LINE_URL + '/');
      // When the browser presented the first frame that shows the tiles (their names carry
      // elementtiming): the frame's layout, paint and raster all counted.
      const ms = await page.evaluate(timeout => new Promise((resolve, reject) => {
        const seen = [];
        const done = () => resolve(Math.min(...seen));
        new PerformanceObserver(list => {
          for (const e of list.getEntries()) if (e.identifier === 'tile') seen.push(e.renderTime || e.loadTime);
          // Every tile of the first frame reports in one go; later entries are later frames.
          if (seen.length) setTimeout(done, 100);
        }).observe({type: 'element', buffered: true});
        setTimeout(() => reject(new Error('no tile was painted')), timeout);
      }), kTimeoutMs);
      const tiles = await page.locator('#fixtures .tile').count();
      const yields = await page.locator('#yields .figure').count();
      if (!tiles || !yields) throw new Error('the page was painted without tiles or yields');
      const problem = await page.locator('#problem').textContent();
      if (!(await page.locator('#problem').isHidden())) throw new Error('the page shows a problem: ' + problem);
      console.log('paint_ms=' + ms.toFixed(1) + ' tiles=' + tiles);
      // Where the time went, from the navigation's start (on standard error).
      const steps = await page.evaluate(() => {
        const nav = performance.getEntriesByType('navigation')[0];
        const paint = performance.getEntriesByName('first-contentful-paint')[0];
        return {head: nav.responseStart, document: nav.responseEnd, 'first paint': paint ? paint.startTime : NaN,
                filled: document.querySelector('main').hasAttribute('data-filled') ? 1 : 0};
      });
      console.error('paint ' + ms.toFixed(0) + ' ms: ' +
                    Object.entries(steps).map(([k, v]) => k + ' ' + v.toFixed(0)).join(', '));
      await context.close();
    }
  } finally {
    await browser.close();
  }
}

function streams(count) {
  const auth = 'Basic ' + Buffer.from(env.LINE_USER + ':' + env.LINE_PASSWORD).toString('base64');
  const agent = new http.Agent({keepAlive: false, maxSockets: Infinity});
  const url = new URL('/api/events', env.LINE_URL);
  let open = 0, heard = 0, changedAt = 0;
  const delays = [];
  return new Promise((resolve, reject) => {
    const timer = setTimeout(
        () => reject(new Error(`after ${kTimeoutMs} ms: ${open} of ${count} open, ${heard} heard`)), kTimeoutMs);
    const requests = [];
    const change = () => {
      changedAt = performance.now();
      execSync(env.LINE_CHANGE, {stdio: 'inherit'});
    };
    for (let i = 0; i < count; ++i) {
      const req = http.get(url, {agent, headers: {Authorization: auth}}, res => {
        if (res.statusCode !== 200) {
          reject(new Error('stream ' + i + ': HTTP ' + res.statusCode));
          return;
        }
        let text = '', counted = false, done = false;
        res.setEncoding('utf8');
        res.on('data', chunk => {
          text += chunk;
          if (!counted && text.includes('retry:')) {
            counted = true;
            if (++open === count) change();
          }
          if (!done && changedAt && /^data: .*"state"/m.test(text)) {
            done = true;
            delays.push(performance.now() - changedAt);
            if (++heard === count) {
              clearTimeout(timer);
              requests.forEach(r => r.destroy());
              delays.sort((a, b) => a - b);
              resolve(delays);
            }
          }
        });
      });
      req.on('error', e => { if (heard < count) reject(e); });
      requests.push(req);
    }
  }).then(d => {
    console.log(`streams=${count} first_ms=${d[0].toFixed(1)} median_ms=${d[d.length >> 1].toFixed(1)}` +
                ` slowest_ms=${d[d.length - 1].toFixed(1)}`);
  });
}

const [mode, n] = process.argv.slice(2);
(mode === 'paint' ? paint(Number(n) || 5) : mode === 'streams' ? streams(Number(n) || 200)
                                                                : Promise.reject(new Error('paint or streams')))
    .catch(e => {
      console.error('bench/line: ' + (e.stack || e));
      process.exit(1);
    });

'use strict';
// bench/line's driver.
//   node line.js paint RUNS: the page's first complete paint in Debian's chromium, each run
//     in a fresh browser context (no cache, a new login); prints paint_ms=... per run.
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
    for (let run = 0; run < runs; ++run) {
      const context = await browser.newContext({
        httpCredentials: {username: env.LINE_USER, password: env.LINE_PASSWORD},
        viewport: {width: 1200, height: 900},
      });
      const page = await context.newPage();
      await page.goto(env.LINE_URL + '/');
      // The page marks the frame after its first fill of the tiles, yields and tables.
      const ms = await page.waitForFunction(() => {
        const [mark] = performance.getEntriesByName('torvane-filled');
        return mark ? mark.startTime : null;
      }, null, {timeout: kTimeoutMs, polling: 50}).then(h => h.jsonValue());
      const tiles = await page.locator('#fixtures .tile').count();
      const yields = await page.locator('#yields .figure').count();
      if (!tiles || !yields) throw new Error('the page was marked filled without tiles or yields');
      const problem = await page.locator('#problem').textContent();
      if (!(await page.locator('#problem').isHidden())) throw new Error('the page shows a problem: ' + problem);
      console.log('paint_ms=' + ms.toFixed(1) + ' tiles=' + tiles);
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

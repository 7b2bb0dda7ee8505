// The live net page in Debian's chromium, driven by tst_webbrowser: it asks
// the driver for each change on its stdout ("ask <what>") and waits for
// "done" on its stdin. Exit 0: every check held; 77: chromium cannot run.
import puppeteer from 'puppeteer-core';
import readline from 'node:readline';

const [base, net] = process.argv.slice(2);
const lines = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();

async function ask(what) {
  process.stdout.write('ask ' + what + '\n');
  const answer = await lines.next();
  if (answer.done || answer.value !== 'done') throw new Error('the driver did not do ' + what);
}

function check(condition, what) {
  if (!condition) throw new Error('failed: ' + what);
  process.stdout.write('ok ' + what + '\n');
}

// The text of the list's cell in `column` of the row of `call`, or null.
function cellOf(page, call, column) {
  return page.evaluate((c, k) => {
    for (const row of document.querySelectorAll('section.net tbody tr')) {
      if (row.querySelector('td.call').textContent === c) return row.children[k].textContent;
    }
    return null;
  }, call, column);
}

// Waits at most `ms` for `test` and says how long it took.
async function within(page, ms, what, test, ...values) {
  const start = Date.now();
  await page.waitForFunction(test, { timeout: ms, polling: 20 }, ...values);
  const took = Date.now() - start;
  process.stdout.write('ok ' + what + ' in ' + took + ' ms\n');
  return took;
}

const rowHas = (call, column, text) => {
  for (const row of document.querySelectorAll('section.net tbody tr')) {
    if (row.querySelector('td.call').textContent === call) return text === null || row.children[column].textContent === text;
  }
  return false;
};

let browser;
try {
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
  });
} catch (error) {
  process.stdout.write('SKIP chromium cannot run: ' + String(error.message).split('\n')[0] + '\n');
  process.exit(77);
}

try {
  const page = await browser.newPage();
  const dialogs = [];
  page.on('dialog', async (dialog) => { dialogs.push(dialog.message()); await dialog.dismiss(); });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  await page.goto(base + '/', { waitUntil: 'load' });
  await within(page, 5000, 'the banner says live', () => document.getElementById('banner').textContent === 'live');
  await page.evaluate(() => { window.sameDocument = true; });

  await ask('checkin');
  const first = await within(page, 1000, 'a check-in shows', rowHas, 'K7NEW', 7, 'checked in');
  await ask('withdraw');
  await within(page, 1000, 'a withdrawal shows', rowHas, 'K7NEW', 7, 'withdrawn');
  await ask('role');
  await within(page, 1000, 'a role change shows', rowHas, 'K7XSS', 1, 'RC');
  check(await page.evaluate(() => window.sameDocument === true), 'no reload');
  check(await cellOf(page, 'K7XSS', 3) === '<b>x</b>&\'"', 'the name shows as text');
  check(await page.evaluate(() => document.querySelector('section.net tbody b, section.net tbody img') === null),
    'no markup from a name');
  check(await page.evaluate(() => document.querySelectorAll('svg.map circle.dot').length >= 2), 'dots on the map');
  check(await page.evaluate(() => /\(.+ here\)/.test(document.querySelector('.local').textContent)),
    'the start in local time');

  await ask('restart-web');
  await within(page, 10000, 'the page reconnects to a restarted trelvin-web',
    () => document.getElementById('banner').textContent === 'live');
  check(await page.evaluate(() => window.sameDocument === true), 'still no reload');
  await within(page, 2000, 'a check-in made while it was down shows', rowHas, 'K7GAP', 7, 'checked in');

  await ask('stop-pg');
  await within(page, 15000, 'the banner says the club server is offline',
    () => document.getElementById('banner').textContent.startsWith('offline since'));
  await ask('start-pg');
  await within(page, 15000, 'live again after the club server is back',
    () => document.getElementById('banner').textContent === 'live');
  await ask('checkin-after');
  await within(page, 1000, 'a check-in after the club server came back shows', rowHas, 'K7BACK', 7, 'checked in');
  check(dialogs.length === 0, 'no dialog fired');
  check(errors.length === 0, 'no script error: ' + errors.join('; '));

  // Pictures to look at, when asked for: TRELVIN_WEB_SHOTS=<folder>.
  const shots = process.env.TRELVIN_WEB_SHOTS;
  if (shots) await page.screenshot({ path: shots + '/web-light.png', fullPage: true });

  // A phone, in the dark: nothing wider than the screen, the dark colours.
  await page.setViewport({ width: 375, height: 740 });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
  check(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth + 1), 'phone width');
  check(await page.evaluate(() => getComputedStyle(document.body).backgroundColor === 'rgb(18, 18, 18)'),
    'the dark scheme');
  if (shots) await page.screenshot({ path: shots + '/web-phone-dark.png', fullPage: true });

  const plain = await browser.newPage();
  await plain.setJavaScriptEnabled(false);
  await plain.goto(base + '/net/' + net, { waitUntil: 'load' });
  const html = await plain.content();
  check(html.includes('<td class="call">K7BACK</td>'), 'the list without JavaScript');
  check(html.includes('<meta http-equiv="refresh" content="30">'), 'the refresh without JavaScript');
  process.stdout.write('first check-in took ' + first + ' ms\n');
  process.stdout.write('PASS\n');
  await browser.close();
  process.exit(0);
} catch (error) {
  process.stdout.write('FAIL ' + error.message + '\n');
  await browser.close();
  process.exit(1);
}

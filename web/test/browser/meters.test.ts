// Meters reach the device view live: the demo takes its project online and
// plays pink noise at -30 dB through the first of its mapped QA-8.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Browser, Server, eventually, serverAndPage } from './support';

let server: Server;
let browser: Browser;

serverAndPage([], (s, b) => {
  server = s;
  browser = b;
});

test('the device view of the metering amplifier shows its meter change within a few seconds', async () => {
  const { page } = browser;
  await page.locator('svg.canvas[data-ready="true"]').waitFor();
  // Mapped devices are named as the network devices name themselves (QA-8-0007, ...).
  const qa8 = page.locator('svg.canvas g.item.device', { hasText: /^QA-8-\d+$/ });
  await eventually('the mapped QA-8 on the canvas', async () => ((await qa8.count()) >= 2 ? true : undefined));
  const names = (await qa8.locator('text').allTextContents()).sort();
  const item = page.locator('svg.canvas g.item.device', { hasText: new RegExp(`^${names[0]}$`) });
  const box = (await item.locator('rect').boundingBox())!;
  await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
  await page.getByTestId('device-name').filter({ hasText: names[0] }).waitFor();
  await page.getByTestId('device-online').filter({ hasText: /^online$/ }).waitFor({ timeout: 10_000 });

  const meter = page.getByTestId('meter-0');
  const reading = async () => {
    const db = await meter.getAttribute('data-db');
    return db === null ? undefined : Number(db);
  };
  const first = await eventually('a first meter value', reading);
  const second = await eventually('the meter changes', async () => {
    const v = await reading();
    return v !== undefined && v !== first ? v : undefined;
  }, 5_000);
  // Pink noise at -30 dB: both readings near it, and the shown text agrees.
  for (const v of [first, second]) assert.ok(Math.abs(v + 30) < 6, `meter at ${v} dB`);
  assert.match((await meter.textContent())!, /^-\d+\.\d dB$/);
  assert.deepEqual(browser.errors, []);
});

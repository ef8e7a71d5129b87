// Project checks in the page against a real server: the demo project has
// one device offline beside online ones, so "All devices should be online"
// is active; ignoring it from the page sets the flag on the server.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Browser, Server, eventually, qorctl, serverAndPage } from './support';

let server: Server;
let browser: Browser;

serverAndPage([], (s, b) => {
  server = s;
  browser = b;
});

const PARTIAL_ONLINE = 106;

test('an active project check shows; Ignore sets it ignored on the server and moves it to the ignored list', async () => {
  const { page } = browser;
  const check = page.locator(`[data-testid=project-check][data-key="${PARTIAL_ONLINE}"]`);
  await check.waitFor({ timeout: 30_000 });
  assert.equal(await check.locator('.message').textContent(), 'All devices should be online');
  const ids = (await qorctl(server, 'index', 'qor::server::ProjectCheck')).ids as string[];
  let id: string | undefined;
  for (const i of ids) if ((await qorctl(server, 'show', i)).entity.key === 'DEVICES_PARTIAL_ONLINE') id = i;
  assert.ok(id, 'the server has the check');

  await check.getByRole('button', { name: 'Ignore' }).click();
  await eventually('ignored on the server', async () => ((await qorctl(server, 'show', id!)).entity.ignored ? true : undefined));
  await check.waitFor({ state: 'detached' });
  const ignored = page.locator(`[data-testid=ignored-check][data-key="${PARTIAL_ONLINE}"]`);
  await page.getByText(/^Ignored \(1\)$/).click();
  await ignored.getByRole('button', { name: 'Watch again' }).click();
  await check.waitFor();
  assert.equal((await qorctl(server, 'show', id!)).entity.ignored, false);
  assert.deepEqual(browser.errors, []);
});

// The page as a user meets it, against a real server with the simulated
// device network.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { copyFileSync, existsSync, mkdtempSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { Browser, Server, env, openPage, qorctl, startServer } from './support';

let server: Server;
let browser: Browser;
// The server lets clients save only in its projects folder.
const projects = mkdtempSync(join(tmpdir(), 'qor-web-'));

before(async () => {
  server = await startServer(['--projects-folder', projects]);
  browser = await openPage(server.pageUrl);
});

after(async () => {
  await browser?.close();
  await server?.stop();
});

const MASTER_LAYER = 'd5fefc2e-670e-48e6-8353-094e236e95b2';

test('the page loads, connects and draws the canvas without a console error', async () => {
  const { page } = browser;
  await page.locator('svg.canvas[data-ready="true"]').waitFor();
  assert.equal(await page.getByTestId('connection').textContent(), 'connected');
  await page.getByTestId('layer').filter({ hasText: /^Master$/ }).waitFor();
  await page.getByTestId('project-file').filter({ hasText: 'unsaved project' }).waitFor();

  const firstCanvasMs = await page.evaluate(() => performance.getEntriesByName('qor:first-canvas')[0]?.startTime);
  assert.ok(typeof firstCanvasMs === 'number');
  const figures = join(env('QOR_BUILD_DIR'), 'web', 'figures.json');
  writeFileSync(figures, JSON.stringify({ firstCanvasMs }, null, 1));
  console.log(`navigation to first drawn canvas: ${firstCanvasMs.toFixed(1)} ms`);

  const shot = join(env('QOR_BUILD_DIR'), 'web', 'main-view.png');
  await page.screenshot({ path: shot });
  // QOR_UPDATE_SCREENSHOT=1 keeps it as the README's picture.
  if (process.env.QOR_UPDATE_SCREENSHOT === '1') copyFileSync(shot, join(env('QOR_DOCS_DIR'), 'web-main-view.png'));
  assert.deepEqual(browser.errors, []);
});

test('a layer another client adds and selects shows at once', async () => {
  const { page } = browser;
  const added = await qorctl(server, 'call', '/layerAdd');
  assert.equal(added.status, 200);
  await page.getByTestId('layer').filter({ hasText: /^Layer$/ }).waitFor();
  await qorctl(server, 'call', '/layerSelect', `layer=${MASTER_LAYER}`);
  await page.getByTestId('layer').filter({ hasText: /^Master$/ }).waitFor();
  assert.deepEqual(browser.errors, []);
});

test('saving without a file shows the server\'s reason; save as names the project on the server', async () => {
  const { page } = browser;
  await page.getByRole('button', { name: 'Save', exact: true }).click();
  await page.locator('.toast.error', { hasText: 'no file yet' }).waitFor();

  const file = join(projects, 'arena.qor');
  page.once('dialog', (d) => void d.accept(file));
  await page.getByRole('button', { name: 'Save as…' }).click();
  await page.getByTestId('project-file').filter({ hasText: file }).waitFor();
  assert.ok(existsSync(file));
  const info = await qorctl(server, 'project', 'info');
  assert.equal(info.file, file);
});

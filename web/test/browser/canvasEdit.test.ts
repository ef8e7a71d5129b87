// Editing the canvas from the page through the server's selection: clicks
// select on the server, keys run the selection commands; qorctl is the
// second client that checks the server and selects on its own.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { Locator, Page } from 'playwright-core';
import { Browser, Server, eventually, openPage, qorctl, startServer } from './support';

let server: Server;
let browser: Browser;

before(async () => {
  server = await startServer();
  browser = await openPage(server.pageUrl);
  await browser.page.locator('svg.canvas[data-ready="true"]').waitFor();
});

after(async () => {
  await browser?.close();
  await server?.stop();
});

const MASTER_ROOT = 'c3bca550-a3df-4d37-a8e4-bd545d12b0cb';

const deviceIds = async () => (await qorctl(server, 'index', 'Device')).ids as string[];
const entity = async (id: string) => (await qorctl(server, 'show', id)).entity;

// Clicks a point of the item that no other item covers (copies overlap
// their originals).
async function click(page: Page, item: Locator, shift = false): Promise<void> {
  const id = (await item.getAttribute('data-id'))!;
  const box = (await item.locator('rect').boundingBox())!;
  const point = await page.evaluate(
    ({ id, box }) => {
      for (const fy of [0.5, 0.25, 0.75, 0.1, 0.9]) {
        for (const fx of [0.5, 0.25, 0.75, 0.1, 0.9]) {
          const x = box.x + box.width * fx;
          const y = box.y + box.height * fy;
          if (document.elementFromPoint(x, y)?.closest('g[data-id]')?.getAttribute('data-id') === id) return { x, y };
        }
      }
      return undefined;
    },
    { id, box },
  );
  assert.ok(point, `no visible point of item ${id}`);
  if (shift) await page.keyboard.down('Shift');
  await page.mouse.click(point.x, point.y);
  if (shift) await page.keyboard.up('Shift');
}

// A point of the canvas no item covers: its bottom right corner, past the
// margin the view keeps beyond the farthest item.
async function clickEmpty(page: Page): Promise<void> {
  const box = (await page.getByTestId('canvas').boundingBox())!;
  await page.mouse.click(box.x + box.width - 10, box.y + box.height - 10);
}

const deviceItems = (page: Page) => page.locator('svg.canvas g.item.device');
const selectedIds = async (page: Page) =>
  (await page.locator('svg.canvas g.item.selected').evaluateAll((gs) => gs.map((g) => g.getAttribute('data-id')!))).sort();

async function waitForSelection(page: Page, what: string, ids: string[]): Promise<void> {
  const want = [...ids].sort();
  try {
    await eventually(what, async () => (JSON.stringify(await selectedIds(page)) === JSON.stringify(want) ? true : undefined));
  } catch (e) {
    throw new Error(`${(e as Error).message}: selected ${JSON.stringify(await selectedIds(page))}, wanted ${JSON.stringify(want)}`);
  }
}

test('a selection made by another client shows; a click on empty canvas deselects; click, Delete removes the device', async () => {
  const { page } = browser;
  await eventually('five devices on the canvas', async () => ((await deviceItems(page).count()) === 5 ? true : undefined));
  const all = await deviceItems(page).evaluateAll((gs) => gs.map((g) => g.getAttribute('data-id')!));

  await qorctl(server, 'call', '/visualItemSelect', `sessionWindow=${MASTER_ROOT}`, 'all=true');
  await waitForSelection(page, 'everything selected by qorctl', all);
  await clickEmpty(page);
  await waitForSelection(page, 'nothing selected', []);

  // The item of a device the server knows.
  const item = deviceItems(page).nth(2);
  const itemId = (await item.getAttribute('data-id'))!;
  const before = await deviceIds();
  let deviceId: string | undefined;
  for (const id of before) if ((await entity(id)).visualItem === itemId) deviceId = id;
  assert.ok(deviceId, 'the clicked item belongs to a device');

  await click(page, item);
  await waitForSelection(page, 'the clicked item selected alone', [itemId]);
  await page.keyboard.press('Delete');
  await eventually('the device gone on the server', async () => ((await deviceIds()).includes(deviceId!) ? undefined : true));
  await eventually('the item gone from the canvas', async () =>
    (await page.locator(`svg.canvas g[data-id="${itemId}"]`).count()) === 0 ? true : undefined,
  );
  assert.deepEqual((await deviceIds()).sort(), before.filter((id) => id !== deviceId).sort());
  assert.equal(await deviceItems(page).count(), 4);
  assert.deepEqual(browser.errors, []);
});

test('click one item, shift-click another, Ctrl+C, Ctrl+V: two more devices, the copies selected', async () => {
  const { page } = browser;
  const first = deviceItems(page).nth(0);
  const second = deviceItems(page).nth(1);
  const firstId = (await first.getAttribute('data-id'))!;
  const secondId = (await second.getAttribute('data-id'))!;
  const before = await deviceIds();
  const itemsBefore = await deviceItems(page).count();

  await click(page, second);
  await waitForSelection(page, 'the second item selected', [secondId]);
  // A plain click replaces the selection; shift-click adds to it.
  await click(page, first);
  await waitForSelection(page, 'the first item selected alone', [firstId]);
  await click(page, second, true);
  await waitForSelection(page, 'both items selected', [firstId, secondId]);

  await page.keyboard.press('Control+c');
  await page.keyboard.press('Control+v');
  const after = await eventually('two more devices on the server', async () => {
    const ids = await deviceIds();
    return ids.length === before.length + 2 ? ids : undefined;
  });
  assert.ok(before.every((id) => after.includes(id)), 'the originals stay');
  await eventually('two more items on the canvas', async () =>
    (await deviceItems(page).count()) === itemsBefore + 2 ? true : undefined,
  );
  // The copies end selected, the originals not.
  const selected = await eventually('the copies selected', async () => {
    const ids = await selectedIds(page);
    return ids.length === 2 && !ids.includes(firstId) && !ids.includes(secondId) ? ids : undefined;
  });
  const copies = after.filter((id) => !before.includes(id));
  const copyItems = await Promise.all(copies.map(async (id) => (await entity(id)).visualItem as string));
  assert.deepEqual(copyItems.sort(), selected);

  // Shift-click on a selected item takes it out of the selection.
  await click(page, page.locator(`svg.canvas g[data-id="${selected[0]}"]`), true);
  await waitForSelection(page, 'one copy left selected', [selected[1]]);
  assert.deepEqual(browser.errors, []);
});

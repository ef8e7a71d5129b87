// Editing the canvas from the page through the server's selection: clicks
// select on the server, keys run the selection commands; qorctl is the
// second client that checks the server and selects on its own.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Locator, Page } from 'playwright-core';
import { Browser, Server, eventually, qorctl, serverAndPage } from './support';

let server: Server;
let browser: Browser;

serverAndPage([], async (s, b) => {
  server = s;
  browser = b;
  await browser.page.locator('svg.canvas[data-ready="true"]').waitFor();
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

const children = async (id: string) => ((await entity(id)).children ?? []) as string[];

test('click an item, Ctrl+D: a copy of its device on the server, 16 right and down, selected', async () => {
  const { page } = browser;
  const item = deviceItems(page).nth(0);
  const itemId = (await item.getAttribute('data-id'))!;
  const original = await entity(itemId);
  const before = await deviceIds();

  // Selected alone already (by qorctl); the click deselects all and selects
  // it again, and the key pressed at once must wait for that.
  await qorctl(server, 'call', '/visualItemSelect', `sessionWindow=${MASTER_ROOT}`, 'all=true', 'deselect=true');
  await qorctl(server, 'call', '/visualItemSelect', `sessionWindow=${MASTER_ROOT}`, `items=${itemId}`);
  await waitForSelection(page, 'the item selected alone', [itemId]);
  await click(page, item);
  await page.keyboard.press('Control+d');
  const after = await eventually('more devices on the server', async () => {
    const ids = await deviceIds();
    return ids.length > before.length ? ids : undefined;
  });
  assert.equal(after.length, before.length + 1, 'one copy');
  assert.ok(before.every((id) => after.includes(id)), 'the original stays');
  const copyItem = (await entity(after.find((id) => !before.includes(id))!)).visualItem as string;
  const copy = await entity(copyItem);
  assert.deepEqual([copy.x, copy.y, copy.width, copy.height], [original.x + 16, original.y + 16, original.width, original.height]);
  assert.ok((await children(MASTER_ROOT)).includes(copyItem), 'the copy lies on the canvas beside its original');
  await waitForSelection(page, 'the copy selected alone', [copyItem]);
  const drawn = page.locator(`svg.canvas g[data-id="${copyItem}"]`);
  assert.deepEqual([Number(await drawn.getAttribute('data-x')), Number(await drawn.getAttribute('data-y'))], [copy.x, copy.y]);
  assert.deepEqual(browser.errors, []);
});

test('two items selected, Ctrl+G: one group of them on the server, drawn and selected; Ctrl+Shift+G takes it apart', async () => {
  const { page } = browser;
  const first = deviceItems(page).nth(0);
  const second = deviceItems(page).nth(1);
  const firstId = (await first.getAttribute('data-id'))!;
  const secondId = (await second.getAttribute('data-id'))!;
  const rootBefore = await children(MASTER_ROOT);
  assert.ok(rootBefore.includes(firstId) && rootBefore.includes(secondId), 'both lie on the canvas itself');

  await click(page, first);
  await click(page, second, true);
  await waitForSelection(page, 'both items selected', [firstId, secondId]);
  await page.keyboard.press('Control+g');
  const group = await eventually('a new group on the canvas of the server', async () => {
    const added = (await children(MASTER_ROOT)).filter((id) => !rootBefore.includes(id));
    return added.length === 1 ? added[0] : undefined;
  });
  assert.deepEqual((await children(group)).sort(), [firstId, secondId].sort());
  const rootGrouped = await children(MASTER_ROOT);
  assert.ok(!rootGrouped.includes(firstId) && !rootGrouped.includes(secondId), 'the members moved into the group');
  await waitForSelection(page, 'the group selected alone', [group]);
  await page.locator(`svg.canvas g.item.group[data-id="${group}"]`).waitFor();

  await page.keyboard.press('Control+Shift+g');
  await eventually('the group gone on the server', async () => ((await children(MASTER_ROOT)).includes(group) ? undefined : true));
  assert.deepEqual((await children(MASTER_ROOT)).sort(), rootBefore.sort());
  await waitForSelection(page, 'the former members selected', [firstId, secondId]);
  assert.equal(await page.locator(`svg.canvas g[data-id="${group}"]`).count(), 0);
  assert.deepEqual(browser.errors, []);
});

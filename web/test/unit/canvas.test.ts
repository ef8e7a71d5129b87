// Where a dragged item lands, how much of the canvas the view shows, and
// what clicks and keys ask of the server's selection.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Key, dragTarget, keyCommand, selectionForClick, viewBoxFor } from '../../src/ui/canvasView';

test('a dragged item lands on the grid of 8, toward zero, and stays on the 16000 x 10000 canvas', () => {
  assert.deepEqual(dragTarget(13, 23, 128, 64), { x: 8, y: 16 });
  assert.deepEqual(dragTarget(-13, -300, 128, 64), { x: 0, y: 0 });
  assert.deepEqual(dragTarget(15990, 9999, 128, 64), { x: 16000 - 128, y: 10000 - 64 });
});

test('the view shows the canvas from its origin past the farthest item, in the canvas proportions', () => {
  // A few small items near the origin: a close view, not the whole canvas.
  assert.equal(viewBoxFor([{ x: 0, y: 0, w: 128, h: 64 }]), '0 0 2000 1250');
  // An item far down decides the height; the width follows at 16:10.
  assert.equal(viewBoxFor([{ x: 0, y: 3600, w: 128, h: 400 }]), '0 0 7040 4400');
  // Never more than the canvas.
  assert.equal(viewBoxFor([{ x: 15000, y: 9000, w: 1000, h: 1000 }]), '0 0 16000 10000');
});

test('a click selects the item alone, shift-click adds or takes it out, a click on empty canvas deselects all', () => {
  const deselectAll = { items: [], deselect: true, all: true };
  assert.deepEqual(selectionForClick('a', false, false), [deselectAll, { items: ['a'] }]);
  // Clicking the one selected item keeps it selected alone.
  assert.deepEqual(selectionForClick('a', false, true), [deselectAll, { items: ['a'] }]);
  assert.deepEqual(selectionForClick('a', true, false), [{ items: ['a'] }]);
  assert.deepEqual(selectionForClick('a', true, true), [{ items: ['a'], deselect: true }]);
  assert.deepEqual(selectionForClick(undefined, false, false), [deselectAll]);
  assert.deepEqual(selectionForClick(undefined, true, false), []);
});

test('the editing keys of the canvas', () => {
  const key = (k: string, mods: Partial<Key> = {}): Key => ({ key: k, ctrlKey: false, metaKey: false, shiftKey: false, altKey: false, ...mods });
  assert.equal(keyCommand(key('Delete')), '/visualItemDestroySelected');
  assert.equal(keyCommand(key('Backspace')), '/visualItemDestroySelected');
  assert.equal(keyCommand(key('g', { ctrlKey: true })), '/visualItemGroupSelected');
  // With Shift the browser reports the capital letter.
  assert.equal(keyCommand(key('G', { ctrlKey: true, shiftKey: true })), '/visualItemUngroupSelected');
  assert.equal(keyCommand(key('c', { ctrlKey: true })), '/visualItemCopySelected');
  assert.equal(keyCommand(key('v', { metaKey: true })), '/visualItemPaste');
  assert.equal(keyCommand(key('d', { ctrlKey: true })), '/visualItemDuplicateSelected');
  // Letters without Ctrl are typing, not commands; other combinations do nothing.
  for (const k of [key('g'), key('c'), key('v'), key('d'), key('x', { ctrlKey: true }), key('c', { ctrlKey: true, altKey: true }), key('Delete', { shiftKey: true }), key('Enter')]) {
    assert.equal(keyCommand(k), undefined, JSON.stringify(k));
  }
});

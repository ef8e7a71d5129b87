// Where a dragged item lands and how much of the canvas the view shows.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { dragTarget, viewBoxFor } from '../../src/ui/canvasView';

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

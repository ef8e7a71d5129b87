import { test } from 'node:test';
import assert from 'node:assert/strict';
import { FrameScheduler, Throttle } from '../../src/ui/frame';

test('a view asked to redraw many times in one frame draws once', () => {
  const frames: (() => void)[] = [];
  const scheduler = new FrameScheduler((cb) => frames.push(cb), () => 0);
  let canvas = 0;
  let meters = 0;
  const drawCanvas = () => canvas++;
  const drawMeters = () => meters++;
  for (let i = 0; i < 100; i++) scheduler.request(drawMeters);
  scheduler.request(drawCanvas);
  assert.equal(frames.length, 1, 'one frame asked for');
  frames[0]();
  assert.deepEqual([canvas, meters], [1, 1]);
  scheduler.request(drawMeters);
  assert.equal(frames.length, 2);
  frames[1]();
  assert.deepEqual([canvas, meters], [1, 2]);
});

test('a throttle sends the first value at once, then at most one per interval, and always the last', () => {
  const timers: (() => void)[] = [];
  const sent: number[] = [];
  const throttle = new Throttle<number>(50, (v) => sent.push(v), (cb) => {
    timers.push(cb);
    return 0 as unknown as ReturnType<typeof setTimeout>;
  });
  throttle.push(1);
  throttle.push(2);
  throttle.push(3);
  assert.deepEqual(sent, [1]);
  timers.shift()!();
  assert.deepEqual(sent, [1, 3]);
  throttle.push(4);
  assert.deepEqual(sent, [1, 3], 'still inside the interval that sending 3 began');
  timers.shift()!();
  assert.deepEqual(sent, [1, 3, 4]);
  timers.shift()!();
  assert.equal(timers.length, 0, 'quiet: no timer left running');
  throttle.push(5);
  assert.deepEqual(sent, [1, 3, 4, 5]);
});

// Draws at most once per animation frame: views ask for a redraw as often
// as changes arrive, the scheduler runs each asked-for view once.
export class FrameScheduler {
  private readonly dirty = new Set<() => void>();
  private requested = false;
  // Milliseconds of drawing work per frame, newest last (for measurement).
  readonly workTimes: number[] = [];

  constructor(
    private readonly requestFrame: (cb: () => void) => void = (cb) => requestAnimationFrame(() => cb()),
    private readonly now: () => number = () => performance.now(),
  ) {}

  request(draw: () => void): void {
    this.dirty.add(draw);
    if (this.requested) return;
    this.requested = true;
    this.requestFrame(() => this.run());
  }

  private run(): void {
    this.requested = false;
    const start = this.now();
    const draws = [...this.dirty];
    this.dirty.clear();
    for (const draw of draws) {
      try {
        draw();
      } catch (e) {
        console.error('drawing failed', e);
      }
    }
    this.workTimes.push(this.now() - start);
    if (this.workTimes.length > 2000) this.workTimes.splice(0, 1000);
  }
}

// Calls send with the latest value at most once per interval while values
// keep coming, and always with the last one.
export class Throttle<T> {
  private pending: { value: T } | undefined;
  private timer: ReturnType<typeof setTimeout> | undefined;

  constructor(
    private readonly intervalMs: number,
    private readonly send: (value: T) => void,
    private readonly setTimer: (cb: () => void, ms: number) => ReturnType<typeof setTimeout> = (cb, ms) => setTimeout(cb, ms),
  ) {}

  push(value: T): void {
    if (this.timer !== undefined) {
      this.pending = { value };
      return;
    }
    this.send(value);
    this.arm();
  }

  private arm(): void {
    this.timer = this.setTimer(() => {
      this.timer = undefined;
      const next = this.pending;
      this.pending = undefined;
      if (next) {
        this.send(next.value);
        this.arm();
      }
    }, this.intervalMs);
  }
}

// A real qorserver on a free port with the simulated device network, the
// page in Debian's chromium (driven by playwright-core), and qorctl as a
// second client that is no browser.
import { ChildProcess, execFile, spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before } from 'node:test';
import { promisify } from 'node:util';
import { chromium, BrowserContext, Page, ConsoleMessage } from 'playwright-core';

const run = promisify(execFile);

export const env = (name: string): string => {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set (ctest sets it; see web/CMakeLists.txt)`);
  return value;
};

export interface Server {
  pid: number;
  pageUrl: string;
  kspUrl: string;
  output: () => string;
  stop: () => Promise<void>;
}

export async function startServer(extra: string[] = []): Promise<Server> {
  const child: ChildProcess = spawn(env('QORSERVER'), ['--port', '0', '--demo', '--web-root', env('QOR_WEB_ROOT'), ...extra], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let output = '';
  child.stdout!.on('data', (d) => (output += d));
  child.stderr!.on('data', (d) => (output += d));
  const exited = new Promise<void>((resolve) => child.on('exit', () => resolve()));
  const deadline = Date.now() + 60_000;
  for (;;) {
    const ws = /qorserver serving (ws:\/\/\S+)/.exec(output);
    const page = /qorserver browser client at (http:\/\/\S+)/.exec(output);
    if (ws && page) {
      return {
        pid: child.pid!,
        pageUrl: page[1],
        kspUrl: ws[1],
        output: () => output,
        stop: async () => {
          child.kill('SIGTERM');
          await exited;
        },
      };
    }
    if (child.exitCode !== null || Date.now() > deadline) throw new Error(`qorserver did not start:\n${output}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

export interface Browser {
  context: BrowserContext;
  page: Page;
  // Console errors and uncaught page errors seen so far.
  errors: string[];
  close: () => Promise<void>;
}

export async function openPage(url: string): Promise<Browser> {
  const profile = mkdtempSync(join(tmpdir(), 'qor-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1400, height: 860 },
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
  const page = context.pages()[0] ?? (await context.newPage());
  const errors: string[] = [];
  page.on('console', (m: ConsoleMessage) => {
    if (m.type() === 'error') errors.push(m.text());
  });
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(url);
  return {
    context,
    page,
    errors,
    close: async () => {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// The tests of one file share a server (started with the extra options) and
// the page on it: both start before the first test, are handed to ready,
// and close after the last test.
export function serverAndPage(
  extra: string[],
  ready: (server: Server, browser: Browser) => void | Promise<void>,
): void {
  let server: Server | undefined;
  let browser: Browser | undefined;
  before(async () => {
    server = await startServer(extra);
    browser = await openPage(server.pageUrl);
    await ready(server, browser);
  });
  after(async () => {
    await browser?.close();
    await server?.stop();
  });
}

// Runs qorctl against the server; returns its JSON answer.
export async function qorctl(server: Server, ...args: string[]): Promise<any> {
  const { stdout } = await run(process.env.QORCTL ?? join(env('QOR_BUILD_DIR'), 'bin', 'qorctl'), ['--url', server.kspUrl, ...args]);
  return JSON.parse(stdout.trim().split('\n').pop()!);
}

// Polls until check returns a value (not undefined), or fails after a while.
export async function eventually<T>(what: string, check: () => Promise<T | undefined>, ms = 10_000): Promise<T> {
  const end = Date.now() + ms;
  for (;;) {
    const v = await check();
    if (v !== undefined) return v;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 100));
  }
}

export interface FrameFigures {
  frames: number;
  medianIntervalMs: number;
  p95IntervalMs: number;
  maxIntervalMs: number;
  // Intervals longer than 25 ms: at 60 Hz, at least one frame not drawn in time.
  missedFrames: number;
  medianWorkMs: number;
  maxWorkMs: number;
  longTasks: number;
  longestTaskMs: number;
}

// Frame intervals (requestAnimationFrame to requestAnimationFrame) and the
// page's own drawing work per frame over a stretch of time.
export async function measureFrames(page: Page, durationMs: number): Promise<FrameFigures> {
  return page.evaluate(async (duration) => {
    const qor = (window as unknown as { qor: { frames: { workTimes: number[] } } }).qor;
    const workBefore = qor.frames.workTimes.length;
    const longTasks: number[] = [];
    const observer = new PerformanceObserver((list) => list.getEntries().forEach((e) => longTasks.push(e.duration)));
    observer.observe({ type: 'longtask', buffered: false });
    const stamps: number[] = [];
    await new Promise<void>((resolve) => {
      const end = performance.now() + duration;
      const tick = (t: number) => {
        stamps.push(t);
        if (t < end) requestAnimationFrame(tick);
        else resolve();
      };
      requestAnimationFrame(tick);
    });
    observer.disconnect();
    const intervals = stamps.slice(1).map((t, i) => t - stamps[i]).sort((a, b) => a - b);
    const work = qor.frames.workTimes.slice(workBefore).sort((a, b) => a - b);
    const at = (xs: number[], q: number) => (xs.length ? xs[Math.min(xs.length - 1, Math.floor(q * xs.length))] : 0);
    return {
      frames: intervals.length,
      medianIntervalMs: at(intervals, 0.5),
      p95IntervalMs: at(intervals, 0.95),
      maxIntervalMs: intervals[intervals.length - 1] ?? 0,
      missedFrames: intervals.filter((i) => i > 25).length,
      medianWorkMs: at(work, 0.5),
      maxWorkMs: work[work.length - 1] ?? 0,
      longTasks: longTasks.length,
      longestTaskMs: Math.max(0, ...longTasks),
    };
  }, durationMs);
}

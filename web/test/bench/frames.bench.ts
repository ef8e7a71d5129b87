// The page's frame time with many online amplifiers metering at 10 Hz.
// Not a test: it measures and prints, it asserts nothing.
//
//   node --experimental-websocket build/default/web/tests/bench/frames.bench.mjs \
//     [--amplifiers 100] [--seconds 10] [--runs 3]
//
// with QORSERVER, QOR_WEB_ROOT and QOR_BUILD_DIR set as for the browser
// tests. It starts `qorserver --demo` with enough simulated amplifiers,
// puts them into the project through the protocol (a Ksp client of its own,
// built from the page's connection code), takes each online writing and
// turns its signal generator on so its meters move, checks that the meters
// arrive at about 10 Hz per device, then opens the page, focuses one
// metering amplifier in the device view and records the page's frames.
// The figures go to stdout and into build/<preset>/web/figures.json.
import * as flatbuffers from 'flatbuffers';
import { existsSync, readFileSync, writeFileSync } from 'node:fs';
import { setPriority } from 'node:os';
import { join } from 'node:path';
import { FtOnline } from '@wire/qor/server/fbs/ft-online';
import { FtOnlineState } from '@wire/qor/server/fbs/ft-online-state';
import { FtSignalGenerator } from '@wire/qor/server/fbs/ft-signal-generator';
import { KspConnection, Method } from '../../src/ksp/connection';
import { Writes } from '../../src/ksp/writes';
import { EntityClass, LiveModel } from '../../src/model/liveModel';
import { DeviceClass, DiscoveredDeviceClass, OnlineClass, SupermeterClass } from '../../src/model/classes';
import { CANVAS_CLASSES } from '../../src/ui/canvasView';
import { Page } from 'playwright-core';
import { Browser, FrameFigures, Server, env, eventually, measureFrames, openPage, startServer } from '../browser/support';

const option = (name: string, fallback: number): number => {
  const at = process.argv.indexOf(`--${name}`);
  return at > 0 ? Number(process.argv[at + 1]) : fallback;
};
const AMPLIFIERS = option('amplifiers', 100);
const SECONDS = option('seconds', 10);
const RUNS = option('runs', 3);
// With --server-nice N the server runs at that niceness while the page is
// measured with the amplifiers metering: the page then gets the processor
// first, which tells the page's own cost from the server's share of a
// small machine.
const SERVER_NICE = option('server-nice', 0);
const CANVAS_CLASS_NAMES = CANVAS_CLASSES.map((c) => c.name);
const isAmplifier = (physicalId: string | null) => /^QA-[48]-/.test(physicalId ?? '');

function connect(server: Server): { connection: KspConnection; model: LiveModel; writes: Writes } {
  if (typeof WebSocket === 'undefined') throw new Error('run with node --experimental-websocket');
  const connection = new KspConnection(new WebSocket(server.kspUrl));
  return { connection, model: new LiveModel(connection), writes: new Writes(connection) };
}

function payload(build: (b: flatbuffers.Builder) => flatbuffers.Offset): Uint8Array {
  const b = new flatbuffers.Builder(128);
  b.forceDefaults(true);
  b.finish(build(b));
  return b.asUint8Array();
}

function goOnlineWriting(connection: KspConnection, id: string) {
  const bytes = payload((b) => {
    const idOffset = b.createString(id);
    FtOnline.startFtOnline(b);
    FtOnline.addId(b, idOffset);
    FtOnline.addSupposedState(b, FtOnlineState.ONLINE_WRITING);
    return FtOnline.endFtOnline(b);
  });
  return connection.request({ route: 'qor::server::FtOnline', method: Method.Update, payload: bytes });
}

// Pink noise at -30 dB through every channel, as the demo plays on its first amplifier.
function playTestSignal(connection: KspConnection, id: string) {
  const bytes = payload((b) => {
    const idOffset = b.createString(id);
    FtSignalGenerator.startFtSignalGenerator(b);
    FtSignalGenerator.addId(b, idOffset);
    FtSignalGenerator.addActive(b, true);
    FtSignalGenerator.addLevelInDb(b, -30);
    return FtSignalGenerator.endFtSignalGenerator(b);
  });
  return connection.request({ route: 'qor::server::FtSignalGenerator', method: Method.Update, payload: bytes });
}

// Puts AMPLIFIERS amplifiers of the network into the project, online
// writing and metering; returns the mapped amplifiers' device ids.
async function prepare(server: Server): Promise<string[]> {
  const { connection, model, writes } = connect(server);
  await connection.opened;
  await Promise.all([DiscoveredDeviceClass, DeviceClass, OnlineClass].map((c) => model.track(c as EntityClass<unknown>)));
  const mapped = () => model.all(DeviceClass).filter((d) => isAmplifier(d.deviceId()));
  await eventually('the demo project', async () => (mapped().length > 0 ? true : undefined), 60_000);
  const free = () => model.all(DiscoveredDeviceClass).filter((d) => d.visible() && isAmplifier(d.physicalDeviceId()));
  await eventually(`${AMPLIFIERS} amplifiers on the network`, async () =>
    mapped().length + free().length >= AMPLIFIERS ? true : undefined, 60_000);
  // Side by side in rows of ten, right of the demo's own devices; one the
  // server does not add (taken meanwhile) is passed over.
  const wanted = AMPLIFIERS - mapped().length;
  let n = 0;
  for (const d of free()) {
    if (n === wanted) break;
    if (await writes.discoveredDeviceAdd(d.id()!, 1200 + (n % 10) * 320, 200 + Math.floor(n / 10) * 240)) n++;
  }
  const amplifiers = await eventually(`${AMPLIFIERS} amplifiers in the project (${n} of ${wanted} added)`, async () => {
    const all = mapped();
    return all.length >= AMPLIFIERS ? all : undefined;
  }, 120_000);
  await Promise.all(
    amplifiers.map(async (d) => {
      const online = model.get(OnlineClass, d.online());
      if (online?.supposedState() !== FtOnlineState.ONLINE_WRITING) await goOnlineWriting(connection, d.online()!);
    }),
  );
  const onlineCount = () => amplifiers.filter((d) => model.get(OnlineClass, d.online())?.isOnline()).length;
  await eventually('every amplifier online', async () => (onlineCount() === amplifiers.length ? true : undefined), 120_000);
  await Promise.all(amplifiers.map((d) => playTestSignal(connection, d.signalGenerator()!)));
  connection.close();
  return amplifiers.map((d) => d.id()!);
}

// Meter changes the server sends a client that subscribes to every meter
// (devices and channels): per second, and per meter entity per second
// (the 10 Hz the figure is about).
async function meterRate(server: Server): Promise<{ perSecond: number; meters: number; perMeterPerSecond: number }> {
  const { connection, model } = connect(server);
  await connection.opened;
  await model.track(SupermeterClass);
  const seen = new Set<string>();
  let all = 0;
  model.on(SupermeterClass.name, (c) => {
    all++;
    seen.add(c.id);
  });
  const start = Date.now();
  await new Promise((r) => setTimeout(r, 3000));
  const seconds = (Date.now() - start) / 1000;
  connection.close();
  return { perSecond: Math.round(all / seconds), meters: seen.size, perMeterPerSecond: Number((all / seconds / seen.size).toFixed(1)) };
}

// Looks at the device of the canvas item named so, as an engineer would:
// its meters reach the page.
async function focus(page: Page, name: string): Promise<void> {
  const item = page.locator('svg.canvas g.item.device', { hasText: new RegExp(`^${name}$`) });
  const box = (await item.locator('rect').boundingBox())!;
  await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
  await page.getByTestId('device-name').filter({ hasText: name }).waitFor();
  await page.getByTestId('meter-0').and(page.locator('[data-db]')).waitFor({ timeout: 30_000 });
}

interface Stage {
  devicesOnCanvas: number;
  runs: (FrameFigures & Record<string, number>)[];
}

// RUNS stretches of SECONDS each: the frames, the page's own drawing work,
// the changes its model took in, and where the main thread's time went.
async function measure(browser: Browser): Promise<Stage> {
  const { page } = browser;
  const cdp = await browser.context.newCDPSession(page);
  await cdp.send('Performance.enable');
  const metrics = async () => {
    const { metrics } = await cdp.send('Performance.getMetrics');
    return Object.fromEntries(metrics.map((m: { name: string; value: number }) => [m.name, m.value])) as Record<string, number>;
  };
  // Counts the changes the page's model takes in, and those of the classes
  // the canvas redraws for.
  await page.evaluate((canvasClasses) => {
    const w = window as unknown as { qorBench?: { all: number; canvas: number }; qor: { model: LiveModel } };
    if (w.qorBench) return;
    const counts = (w.qorBench = { all: 0, canvas: 0 });
    w.qor.model.onAny((c) => {
      counts.all++;
      if (canvasClasses.includes(c.className)) counts.canvas++;
    });
  }, CANVAS_CLASS_NAMES);
  const runs = [];
  for (let run = 0; run < RUNS; run++) {
    await page.evaluate(() => Object.assign((window as unknown as { qorBench: object }).qorBench, { all: 0, canvas: 0 }));
    const before = await metrics();
    const frames = await measureFrames(page, SECONDS * 1000);
    const after = await metrics();
    const changes = await page.evaluate(() => (window as unknown as { qorBench: { all: number; canvas: number } }).qorBench);
    const perSecond = (name: string) => Number((((after[name] - before[name]) / SECONDS) * 1000).toFixed(1));
    runs.push({
      ...frames,
      changesPerSecond: Math.round(changes.all / SECONDS),
      canvasChangesPerSecond: Math.round(changes.canvas / SECONDS),
      // Milliseconds per second of the main thread: all tasks, and of them script, style and layout.
      taskMsPerSecond: perSecond('TaskDuration'),
      scriptMsPerSecond: perSecond('ScriptDuration'),
      styleMsPerSecond: perSecond('RecalcStyleDuration'),
      layoutMsPerSecond: perSecond('LayoutDuration'),
    });
    console.log(`  run ${run + 1}: ${JSON.stringify(runs[runs.length - 1])}`);
  }
  await cdp.detach();
  return { devicesOnCanvas: await page.locator('svg.canvas g.item.device').count(), runs };
}

async function main() {
  const server = await startServer(['--demo-per-model', String(Math.ceil(AMPLIFIERS / 2))]);
  let browser: Browser | undefined;
  try {
    browser = await openPage(server.pageUrl);
    const { page } = browser;
    await page.locator('svg.canvas[data-ready="true"]').waitFor({ timeout: 60_000 });
    // The demo project: its first QA-8 meters; the baseline looks at it.
    const qa8 = page.locator('svg.canvas g.item.device.online', { hasText: /^QA-8-\d+$/ });
    await eventually('the demo amplifiers online', async () => ((await qa8.count()) >= 2 ? true : undefined), 60_000);
    const name = (await qa8.locator('text').allTextContents()).sort()[0];
    await focus(page, name);
    console.log(`baseline: the demo project, ${name} in the device view`);
    const baseline = await measure(browser);

    const amplifiers = await prepare(server);
    const meters = await meterRate(server);
    console.log(`${amplifiers.length} amplifiers online writing, meters: ${JSON.stringify(meters)}`);
    const online = page.locator('svg.canvas g.item.device.online');
    await eventually('the amplifiers online on the canvas', async () =>
      (await online.count()) >= amplifiers.length ? true : undefined, 60_000);
    await focus(page, name);
    if (SERVER_NICE) setPriority(server.pid, SERVER_NICE);
    console.log(`${amplifiers.length} metering amplifiers, ${name} in the device view, server niceness ${SERVER_NICE}`);
    const loaded = await measure(browser);
    // The same with nothing in the device view: no meter reaches the page,
    // what is left is the machine (the server metering, other processes).
    const canvas = (await page.getByTestId('canvas').boundingBox())!;
    await page.mouse.click(canvas.x + canvas.width - 10, canvas.y + canvas.height - 10);
    await page.getByTestId('device-name').waitFor({ state: 'detached' });
    console.log(`${amplifiers.length} metering amplifiers, nothing in the device view`);
    const unfocused = await measure(browser);
    if (browser.errors.length) console.log(`console errors: ${JSON.stringify(browser.errors)}`);

    const file = join(env('QOR_BUILD_DIR'), 'web', 'figures.json');
    const stored = existsSync(file) ? JSON.parse(readFileSync(file, 'utf8')) : {};
    stored.frames = { amplifiers: amplifiers.length, seconds: SECONDS, serverNice: SERVER_NICE, meters, baseline, loaded, unfocused };
    writeFileSync(file, JSON.stringify(stored, null, 1));
  } finally {
    await browser?.close();
    await server.stop();
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});

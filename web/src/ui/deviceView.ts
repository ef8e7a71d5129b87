// The device view: the focused device's name, online and supposed state,
// and per channel its level fader, mute, delay, output meter and error
// flags. It watches only this device's features, so a hundred metering
// devices cost the page nothing while one of them is shown.
import { FtOnlineState } from '@wire/qor/server/fbs/ft-online-state';
import { LiveModel, EntityClass } from '../model/liveModel';
import {
  AudioClass,
  ChannelStateClass,
  DelayClass,
  DeviceClass,
  DeviceInfoClass,
  DeviceStateClass,
  NIL_ID,
  OnlineClass,
  SupermeterClass,
  idList,
} from '../model/classes';
import { Writes } from '../ksp/writes';
import { FrameScheduler, Throttle } from './frame';
import { h } from './dom';

const METER_FLOOR_DB = -80;
const FADER_INTERVAL_MS = 50;

export function supposedStateText(state: FtOnlineState): string {
  switch (state) {
    case FtOnlineState.ONLINE_READING:
      return 'reading';
    case FtOnlineState.ONLINE_WRITING:
      return 'writing';
    default:
      return 'offline';
  }
}

// The flags that are set, by name.
export function setFlags(names: string[], states: boolean[]): string[] {
  return names.filter((_, i) => states[i]);
}

interface Channel {
  audio?: string;
  delay?: string;
  meter?: string;
  state?: string;
  fader: HTMLInputElement;
  level: HTMLSpanElement;
  mute: HTMLInputElement;
  delayInput: HTMLInputElement;
  meterBar: HTMLDivElement;
  meterText: HTMLSpanElement;
  flags: HTMLSpanElement;
  dragging: boolean;
  throttle: Throttle<number>;
}

export class DeviceView {
  readonly element = h('section', { class: 'device-view', 'data-testid': 'device-view' });
  private deviceId: string | undefined;
  private releases: (() => void)[] = [];
  private channels: Channel[] = [];
  private readonly watched = new Set<string>();
  private readonly drawValues = () => this.drawAll();
  private readonly drawMeters = () => this.drawMeterBars();
  private header = h('div', { class: 'device-header' });
  private generation = 0;

  constructor(
    private readonly model: LiveModel,
    private readonly writes: Writes,
    private readonly frames: FrameScheduler,
  ) {
    this.element.append(h('p', { class: 'hint' }, 'Click a device on the canvas to see its channels.'));
    for (const cls of [AudioClass, DelayClass, OnlineClass, DeviceStateClass, ChannelStateClass, DeviceInfoClass]) {
      model.on(cls.name, (c) => {
        if (this.watched.has(c.id)) frames.request(this.drawValues);
      });
    }
    model.on(SupermeterClass.name, (c) => {
      if (this.watched.has(c.id)) frames.request(this.drawMeters);
    });
  }

  async show(deviceId: string | undefined): Promise<void> {
    const generation = ++this.generation;
    this.releases.forEach((r) => r());
    this.releases = [];
    this.watched.clear();
    this.channels = [];
    this.deviceId = deviceId;
    const device = this.model.get(DeviceClass, deviceId);
    this.element.replaceChildren();
    if (!device) {
      this.element.append(h('p', { class: 'hint' }, 'Click a device on the canvas to see its channels.'));
      return;
    }
    const watch = async <T>(cls: EntityClass<T>, ids: (string | null)[]) => {
      // A feature the device does not have is the nil id (a matrix has no meter).
      const real = ids.filter((id): id is string => !!id && id !== NIL_ID);
      real.forEach((id) => this.watched.add(id));
      this.releases.push(await this.model.watch(cls, real));
    };
    // Device-level features first, then their channels.
    const delays = idList(device.delaysLength(), (i) => device.delays(i));
    await Promise.all([
      watch(OnlineClass, [device.online()]),
      watch(AudioClass, [device.audio()]),
      watch(DelayClass, delays),
      watch(SupermeterClass, [device.supermeter()]),
      watch(DeviceStateClass, [device.deviceState()]),
    ]);
    if (generation !== this.generation) return;
    const audio = this.model.get(AudioClass, device.audio());
    const delay = this.model.get(DelayClass, delays[0]);
    const meter = this.model.get(SupermeterClass, device.supermeter());
    const state = this.model.get(DeviceStateClass, device.deviceState());
    const audioChannels = audio ? idList(audio.childrenLength(), (i) => audio.children(i)) : [];
    const delayChannels = delay ? idList(delay.childrenLength(), (i) => delay.children(i)) : [];
    const meterChannels = meter ? idList(meter.childrenLength(), (i) => meter.children(i)) : [];
    const stateChannels = state ? idList(state.channelStateLength(), (i) => state.channelState(i)) : [];
    await Promise.all([
      watch(AudioClass, audioChannels),
      watch(DelayClass, delayChannels),
      watch(SupermeterClass, meterChannels),
      watch(ChannelStateClass, stateChannels),
    ]);
    if (generation !== this.generation) return;
    this.build(audioChannels, delayChannels, meterChannels, stateChannels);
    this.drawAll();
  }

  private build(audio: string[], delays: string[], meters: string[], states: string[]) {
    const table = h('table', { class: 'channels' });
    table.append(
      h('tr', {}, h('th', {}, 'Ch'), h('th', {}, 'Level'), h('th', {}, 'Mute'), h('th', {}, 'Delay ms'), h('th', {}, 'Output'), h('th', {}, 'Errors')),
    );
    const count = Math.max(audio.length, delays.length, meters.length);
    for (let i = 0; i < count; i++) {
      const fader = h('input', { type: 'range', step: '0.1', 'data-testid': `fader-${i}`, 'aria-label': `Level of channel ${i + 1}` });
      const mute = h('input', { type: 'checkbox', 'data-testid': `mute-${i}`, 'aria-label': `Mute channel ${i + 1}` });
      const delayInput = h('input', { type: 'number', step: '0.01', min: '0', 'data-testid': `delay-${i}`, 'aria-label': `Delay of channel ${i + 1}` });
      const meterBar = h('div', { class: 'meter-bar' });
      const channel: Channel = {
        audio: audio[i],
        delay: delays[i],
        meter: meters[i],
        state: states[i],
        fader,
        level: h('span', { class: 'level', 'data-testid': `level-${i}` }),
        mute,
        delayInput,
        meterBar,
        meterText: h('span', { class: 'meter-text', 'data-testid': `meter-${i}` }),
        flags: h('span', { class: 'flags', 'data-testid': `flags-${i}` }),
        dragging: false,
        throttle: new Throttle(FADER_INTERVAL_MS, (v) => {
          if (channel.audio) this.writes.audioLevel(channel.audio, v).catch((e) => console.warn(e));
        }),
      };
      fader.addEventListener('pointerdown', () => (channel.dragging = true));
      const release = () => {
        channel.dragging = false;
        this.frames.request(this.drawValues);
      };
      fader.addEventListener('pointerup', release);
      fader.addEventListener('change', release);
      fader.addEventListener('input', () => {
        channel.level.textContent = `${Number(fader.value).toFixed(1)} dB`;
        channel.throttle.push(Number(fader.value));
      });
      mute.addEventListener('change', () => {
        if (channel.audio) this.writes.audioMute(channel.audio, mute.checked).catch((e) => console.warn(e));
      });
      delayInput.addEventListener('change', () => {
        if (channel.delay) this.writes.delay(channel.delay, Number(delayInput.value)).catch((e) => console.warn(e));
      });
      this.channels.push(channel);
      table.append(
        h(
          'tr',
          { 'data-testid': `channel-${i}`, 'data-audio': audio[i] ?? '' },
          h('td', {}, String(i + 1)),
          h('td', {}, fader, channel.level),
          h('td', {}, mute),
          h('td', {}, delayInput),
          h('td', {}, h('div', { class: 'meter' }, meterBar), channel.meterText),
          h('td', {}, channel.flags),
        ),
      );
    }
    this.element.replaceChildren(this.header, table);
  }

  private drawAll(): void {
    const device = this.model.get(DeviceClass, this.deviceId);
    if (!device) return;
    const info = this.model.get(DeviceInfoClass, device.deviceInfo());
    const online = this.model.get(OnlineClass, device.online());
    const state = this.model.get(DeviceStateClass, device.deviceState());
    const deviceFlags = state
      ? setFlags(
          idList(state.flagNamesLength(), (i) => state.flagNames(i)),
          idList(state.flagStatesLength(), (i) => !!state.flagStates(i)),
        )
      : [];
    this.header.replaceChildren(
      h('h2', { 'data-testid': 'device-name' }, info?.name() || device.deviceId() || 'Device'),
      h(
        'p',
        {},
        h('span', { class: `online ${online?.isOnline() ? 'yes' : 'no'}`, 'data-testid': 'device-online' }, online?.isOnline() ? 'online' : 'not online'),
        ' · ',
        h('span', { 'data-testid': 'device-supposed' }, online ? supposedStateText(online.supposedState()) : 'offline'),
        deviceFlags.length ? h('span', { class: 'flags error', 'data-testid': 'device-flags' }, ` · ${deviceFlags.join(', ')}`) : '',
      ),
    );
    for (const c of this.channels) {
      const audio = this.model.get(AudioClass, c.audio);
      if (audio) {
        c.fader.min = String(audio.levelInDbMin());
        c.fader.max = String(audio.levelInDbMax());
        if (!c.dragging) {
          c.fader.value = String(audio.levelInDb());
          c.level.textContent = `${audio.levelInDb().toFixed(1)} dB`;
        }
        c.mute.checked = audio.isMuted();
      }
      const delay = this.model.get(DelayClass, c.delay);
      if (delay && document.activeElement !== c.delayInput) c.delayInput.value = String(delay.delayInMs());
      const channelState = this.model.get(ChannelStateClass, c.state);
      if (channelState) {
        const flags = setFlags(
          idList(channelState.flagNamesLength(), (i) => channelState.flagNames(i)),
          idList(channelState.flagStatesLength(), (i) => !!channelState.flagStates(i)),
        );
        c.flags.textContent = flags.join(', ');
      }
    }
    this.drawMeterBars();
  }

  private drawMeterBars(): void {
    for (const c of this.channels) {
      const meter = this.model.get(SupermeterClass, c.meter);
      if (!meter) continue;
      const db = meter.output();
      const fraction = Math.max(0, Math.min(1, (db - METER_FLOOR_DB) / -METER_FLOOR_DB));
      c.meterBar.style.width = `${(fraction * 100).toFixed(1)}%`;
      c.meterText.textContent = `${db.toFixed(1)} dB`;
      // The value as the server sent it, for a tooltip and for tests.
      c.meterText.title = `${db} dB`;
      c.meterText.setAttribute('data-db', String(db));
    }
  }
}

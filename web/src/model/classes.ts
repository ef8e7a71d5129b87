// The entity classes the client reads, each with its generated wire table.
import { Device } from '@wire/qor/server/fbs/device';
import { DiscoveredDevice } from '@wire/qor/server/fbs/discovered-device';
import { FtAudio } from '@wire/qor/server/fbs/ft-audio';
import { FtChannelState } from '@wire/qor/server/fbs/ft-channel-state';
import { FtDelay } from '@wire/qor/server/fbs/ft-delay';
import { FtDeviceInfo } from '@wire/qor/server/fbs/ft-device-info';
import { FtDeviceState } from '@wire/qor/server/fbs/ft-device-state';
import { FtOnline } from '@wire/qor/server/fbs/ft-online';
import { FtSupermeter } from '@wire/qor/server/fbs/ft-supermeter';
import { Layer } from '@wire/qor/server/fbs/layer';
import { ProjectCheck } from '@wire/qor/server/fbs/project-check';
import { SessionWindow } from '@wire/qor/server/fbs/session-window';
import { VisualItem } from '@wire/qor/server/fbs/visual-item';
import { entityClass } from './liveModel';

const cls = (type: string) => `qor::server::${type}`;

export const VisualItemClass = entityClass(cls('VisualItem'), (bb) => VisualItem.getRootAsVisualItem(bb));
export const SessionWindowClass = entityClass(cls('SessionWindow'), (bb) => SessionWindow.getRootAsSessionWindow(bb));
export const LayerClass = entityClass(cls('Layer'), (bb) => Layer.getRootAsLayer(bb));
export const DeviceClass = entityClass(cls('Device'), (bb) => Device.getRootAsDevice(bb));
export const DeviceInfoClass = entityClass(cls('FtDeviceInfo'), (bb) => FtDeviceInfo.getRootAsFtDeviceInfo(bb));
export const OnlineClass = entityClass(cls('FtOnline'), (bb) => FtOnline.getRootAsFtOnline(bb));
export const AudioClass = entityClass(cls('FtAudio'), (bb) => FtAudio.getRootAsFtAudio(bb));
export const DelayClass = entityClass(cls('FtDelay'), (bb) => FtDelay.getRootAsFtDelay(bb));
export const SupermeterClass = entityClass(cls('FtSupermeter'), (bb) => FtSupermeter.getRootAsFtSupermeter(bb));
export const DeviceStateClass = entityClass(cls('FtDeviceState'), (bb) => FtDeviceState.getRootAsFtDeviceState(bb));
export const ChannelStateClass = entityClass(cls('FtChannelState'), (bb) =>
  FtChannelState.getRootAsFtChannelState(bb),
);
export const DiscoveredDeviceClass = entityClass(cls('DiscoveredDevice'), (bb) =>
  DiscoveredDevice.getRootAsDiscoveredDevice(bb),
);
export const ProjectCheckClass = entityClass(cls('ProjectCheck'), (bb) => ProjectCheck.getRootAsProjectCheck(bb));

// Fixed ids of every project.
export const MASTER_ROOT_ID = 'c3bca550-a3df-4d37-a8e4-bd545d12b0cb';
export const NIL_ID = '00000000-0000-0000-0000-000000000000';

// The ids of a one-to-many reference (children, delays, ...).
export function idList<T = string>(length: number, at: (i: number) => T): T[] {
  const ids: T[] = [];
  for (let i = 0; i < length; i++) ids.push(at(i));
  return ids;
}

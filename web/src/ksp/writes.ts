// Requests that change the model: entity updates, livesound commands and
// the host's project route. Tables are built with the generated builders;
// every scalar is written even when it equals its default, as the server
// counts only written fields as present.
import * as flatbuffers from 'flatbuffers';
import { ProjectPathArgs } from '@wire/fennik/wire/project-path-args';
import { ProjectReply } from '@wire/fennik/wire/project-reply';
import { FtAudio } from '@wire/qor/server/fbs/ft-audio';
import { FtDelay } from '@wire/qor/server/fbs/ft-delay';
import { KspConnection, KspError, Method } from './connection';

function builder(): flatbuffers.Builder {
  const b = new flatbuffers.Builder(128);
  b.forceDefaults(true);
  return b;
}

export const LIVESOUND_ROUTE = 'qor::server::Livesound';
export const PROJECT_ROUTE = 'fennik::server::Project';

export class Writes {
  constructor(private readonly connection: KspConnection) {}

  private update(route: string, payload: Uint8Array) {
    return this.connection.request({ route, method: Method.Update, payload });
  }

  audioLevel(id: string, levelInDb: number) {
    const b = builder();
    const idOffset = b.createString(id);
    FtAudio.startFtAudio(b);
    FtAudio.addId(b, idOffset);
    FtAudio.addLevelInDb(b, levelInDb);
    b.finish(FtAudio.endFtAudio(b));
    return this.update('qor::server::FtAudio', b.asUint8Array());
  }

  audioMute(id: string, muted: boolean) {
    const b = builder();
    const idOffset = b.createString(id);
    FtAudio.startFtAudio(b);
    FtAudio.addId(b, idOffset);
    FtAudio.addIsMuted(b, muted);
    b.finish(FtAudio.endFtAudio(b));
    return this.update('qor::server::FtAudio', b.asUint8Array());
  }

  delay(id: string, delayInMs: number) {
    const b = builder();
    const idOffset = b.createString(id);
    FtDelay.startFtDelay(b);
    FtDelay.addId(b, idOffset);
    FtDelay.addDelayInMs(b, delayInMs);
    b.finish(FtDelay.endFtDelay(b));
    return this.update('qor::server::FtDelay', b.asUint8Array());
  }

  command(path: string, payload?: Uint8Array) {
    return this.connection.request({ route: LIVESOUND_ROUTE, method: Method.Custom, path, payload });
  }

  // A project operation; resolves with the state after it, or rejects with
  // the server's reason (ProjectError).
  async project(path: '/projectNew' | '/projectOpen' | '/projectSave' | '/projectSaveAs' | '/projectInfo', file?: string) {
    let payload: Uint8Array | undefined;
    if (file !== undefined) {
      const b = builder();
      const fileOffset = b.createString(file);
      b.finish(ProjectPathArgs.createProjectPathArgs(b, fileOffset));
      payload = b.asUint8Array();
    }
    try {
      const reply = await this.connection.request({ route: PROJECT_ROUTE, method: Method.Custom, path, payload });
      return projectState(reply.payload);
    } catch (e) {
      if (e instanceof KspError && e.payload.length) throw new ProjectError(projectState(e.payload).error || e.message);
      throw e;
    }
  }
}

export class ProjectError extends Error {}

export interface ProjectState {
  file: string;
  open: boolean;
  schemaVersion: string;
  error: string;
}

function projectState(payload: Uint8Array): ProjectState {
  const r = ProjectReply.getRootAsProjectReply(new flatbuffers.ByteBuffer(payload));
  return { file: r.file() ?? '', open: r.open(), schemaVersion: r.schemaVersion() ?? '', error: r.error() ?? '' };
}

// The canvas of the master session window: every visual item under the
// window's root as a rectangle at its position and size, groups dashed,
// the server's selection outlined, only what the selected layer shows.
// Clicks and keys edit through the server's selection: the page keeps no
// selection of its own, so what another client selects shows here too.
// Meter changes never reach this view; it redraws for visual items,
// windows, layers and device names only.
import { VisualItemOrientation } from '@wire/qor/server/fbs/visual-item-orientation';
import { VisualItem } from '@wire/qor/server/fbs/visual-item';
import { FtOnlineState } from '@wire/qor/server/fbs/ft-online-state';
import { LiveModel } from '../model/liveModel';
import {
  DeviceClass,
  DeviceInfoClass,
  LayerClass,
  MASTER_ROOT_ID,
  OnlineClass,
  SessionWindowClass,
  VisualItemClass,
  idList,
} from '../model/classes';
import { SelectionCommand, Writes } from '../ksp/writes';
import { FrameScheduler, Throttle } from './frame';
import { h, svg } from './dom';

export const CANVAS_WIDTH = 16000;
export const CANVAS_HEIGHT = 10000;
export const CANVAS_GRID = 8;
const MOVE_INTERVAL_MS = 50;
// The view shows at least this much of the canvas, from its origin.
const MIN_VIEW_WIDTH = 2000;
const VIEW_MARGIN = 400;

// The classes whose changes redraw the canvas; meters are not among them.
export const CANVAS_CLASSES = [VisualItemClass, SessionWindowClass, LayerClass, DeviceClass, DeviceInfoClass, OnlineClass];

// Where a dragged item lands: on the grid (toward zero) and inside the canvas.
export function dragTarget(x: number, y: number, w: number, hgt: number): { x: number; y: number } {
  const onGrid = (v: number) => Math.trunc(v / CANVAS_GRID) * CANVAS_GRID;
  const clamp = (v: number, max: number) => Math.max(0, Math.min(max, v));
  return { x: clamp(onGrid(x), CANVAS_WIDTH - w), y: clamp(onGrid(y), CANVAS_HEIGHT - hgt) };
}

// The part of the canvas to show: from the origin to beyond the farthest
// item, in the canvas's proportions, never more than the canvas.
export function viewBoxFor(items: { x: number; y: number; w: number; h: number }[]): string {
  let right = 0;
  let bottom = 0;
  for (const i of items) {
    right = Math.max(right, i.x + i.w);
    bottom = Math.max(bottom, i.y + i.h);
  }
  const ratio = CANVAS_WIDTH / CANVAS_HEIGHT;
  const width = Math.min(CANVAS_WIDTH, Math.max(MIN_VIEW_WIDTH, right + VIEW_MARGIN, (bottom + VIEW_MARGIN) * ratio));
  return `0 0 ${Math.round(width)} ${Math.round(width / ratio)}`;
}

// One /visualItemSelect request: the items, or all items of the shown layer.
export interface SelectRequest {
  items: string[];
  deselect?: boolean;
  all?: boolean;
}

// The selection requests of a click on the canvas, in order. A click on an
// item selects it alone; with shift it adds the item, or takes a selected
// one out again. A click on empty canvas deselects everything (with shift
// it changes nothing).
export function selectionForClick(item: string | undefined, shift: boolean, selected: boolean): SelectRequest[] {
  const none: SelectRequest = { items: [], deselect: true, all: true };
  if (!item) return shift ? [] : [none];
  if (!shift) return [none, { items: [item] }];
  return [selected ? { items: [item], deselect: true } : { items: [item] }];
}

export interface Key {
  key: string;
  ctrlKey: boolean;
  metaKey: boolean;
  shiftKey: boolean;
  altKey: boolean;
}

// The canvas operation a key stroke asks for, if any: Delete or Backspace
// deletes the selection; Ctrl (or Cmd) with G groups (with Shift: ungroups),
// with C copies, with V pastes, with D duplicates.
export function keyCommand(k: Key): SelectionCommand | undefined {
  if (k.altKey) return undefined;
  const ctrl = k.ctrlKey || k.metaKey;
  if (!ctrl) return (k.key === 'Delete' || k.key === 'Backspace') && !k.shiftKey ? '/visualItemDestroySelected' : undefined;
  switch (k.key.toLowerCase()) {
    case 'g':
      return k.shiftKey ? '/visualItemUngroupSelected' : '/visualItemGroupSelected';
    case 'c':
      return k.shiftKey ? undefined : '/visualItemCopySelected';
    case 'v':
      return k.shiftKey ? undefined : '/visualItemPaste';
    case 'd':
      return k.shiftKey ? undefined : '/visualItemDuplicateSelected';
    default:
      return undefined;
  }
}

interface Drag {
  id: string;
  pointer: number;
  startX: number;
  startY: number;
  itemX: number;
  itemY: number;
  w: number;
  h: number;
  moved: boolean;
  throttle: Throttle<{ x: number; y: number }>;
}

interface Drawn {
  g: SVGGElement;
  rect: SVGRectElement;
  label: SVGTextElement;
  facing: SVGPathElement;
}

export class CanvasView {
  readonly element = h('div', { class: 'canvas-pane' });
  private readonly svgElement: SVGSVGElement;
  private readonly layerLabel = h('span', { class: 'layer', 'data-testid': 'layer' });
  private readonly drawn = new Map<string, Drawn>();
  private readonly redraw = () => this.draw();
  private firstDrawn = false;
  private order: SVGGElement[] = [];
  private drag: Drag | undefined;
  // The server's selection of the master window, as last drawn.
  private selected = new Set<string>();
  private pending: Promise<unknown> = Promise.resolve();
  // The item whose device the device view shows (this client's own focus).
  focused: string | undefined;
  onFocus: (deviceId: string | undefined) => void = () => undefined;

  constructor(
    private readonly model: LiveModel,
    private readonly frames: FrameScheduler,
    private readonly writes?: Writes,
  ) {
    this.svgElement = svg('svg', {
      viewBox: `0 0 ${CANVAS_WIDTH} ${CANVAS_HEIGHT}`,
      class: 'canvas',
      preserveAspectRatio: 'xMidYMid meet',
      'data-testid': 'canvas',
      // Focusable, so that it takes the editing keys.
      tabindex: 0,
      'aria-label': 'Canvas: click selects, shift-click adds; Delete, Ctrl+G, Ctrl+Shift+G, Ctrl+C, Ctrl+V, Ctrl+D',
    });
    this.svgElement.append(svg('rect', { x: 0, y: 0, width: CANVAS_WIDTH, height: CANVAS_HEIGHT, class: 'area' }));
    this.element.append(h('div', { class: 'canvas-bar' }, 'Layer: ', this.layerLabel), this.svgElement);
    for (const cls of CANVAS_CLASSES) model.on(cls.name, () => frames.request(this.redraw));
    // Press and release without moving focuses; moving drags the item.
    this.svgElement.addEventListener('pointerdown', (ev) => this.startDrag(ev));
    this.svgElement.addEventListener('pointermove', (ev) => this.moveDrag(ev));
    this.svgElement.addEventListener('pointerup', (ev) => this.endDrag(ev));
    this.svgElement.addEventListener('pointercancel', (ev) => this.endDrag(ev));
    this.svgElement.addEventListener('keydown', (ev) => this.key(ev));
  }

  private key(ev: KeyboardEvent): void {
    const path = keyCommand(ev);
    if (!path) return;
    // Also keeps the browser's own meaning of the keys (bookmark, find).
    ev.preventDefault();
    const writes = this.writes;
    if (writes) this.inOrder(() => writes.selectionCommand(path));
  }

  // Runs the canvas's requests one after the other: a key pressed right
  // after a click acts on the selection the click made, not on one that
  // is half changed (a click is two requests).
  private inOrder(job: () => Promise<unknown>): void {
    this.pending = this.pending.then(job).catch((e) => console.warn(e));
  }

  // A click (press and release without moving): selects on the server;
  // a plain click also focuses the item's device for the device view.
  private click(item: string | undefined, shift: boolean): void {
    if (!shift) this.focus(item);
    const requests = selectionForClick(item, shift, !!item && this.selected.has(item));
    const writes = this.writes;
    if (!writes) return;
    this.inOrder(async () => {
      for (const r of requests) await writes.select(MASTER_ROOT_ID, r.items, r);
    });
  }

  private toCanvas(ev: PointerEvent): { x: number; y: number } {
    const m = this.svgElement.getScreenCTM();
    if (!m) return { x: 0, y: 0 };
    const p = new DOMPoint(ev.clientX, ev.clientY).matrixTransform(m.inverse());
    return { x: p.x, y: p.y };
  }

  private startDrag(ev: PointerEvent): void {
    this.svgElement.focus({ preventScroll: true });
    const id = (ev.target as Element).closest('g[data-id]')?.getAttribute('data-id') ?? undefined;
    const item = this.model.get(VisualItemClass, id);
    if (!id || !item) {
      this.click(undefined, ev.shiftKey);
      return;
    }
    const at = this.toCanvas(ev);
    this.svgElement.setPointerCapture?.(ev.pointerId);
    this.drag = {
      id,
      pointer: ev.pointerId,
      startX: at.x,
      startY: at.y,
      itemX: item.x(),
      itemY: item.y(),
      w: item.width(),
      h: item.height(),
      moved: false,
      throttle: new Throttle(MOVE_INTERVAL_MS, (p) => {
        this.writes?.moveItem(id, p.x, p.y).catch((e) => console.warn(e));
      }),
    };
  }

  private dragPosition(ev: PointerEvent) {
    const d = this.drag!;
    const at = this.toCanvas(ev);
    return dragTarget(d.itemX + at.x - d.startX, d.itemY + at.y - d.startY, d.w, d.h);
  }

  private moveDrag(ev: PointerEvent): void {
    const d = this.drag;
    if (!d || ev.pointerId !== d.pointer) return;
    const p = this.dragPosition(ev);
    if (!d.moved && p.x === d.itemX && p.y === d.itemY) return;
    d.moved = true;
    this.place(d.id, p.x, p.y);
    d.throttle.push(p);
  }

  private endDrag(ev: PointerEvent): void {
    const d = this.drag;
    if (!d || ev.pointerId !== d.pointer) return;
    // The last position always goes out (the throttle sends it); the model
    // shows the server's answer from then on.
    if (d.moved && ev.type === 'pointerup') d.throttle.push(this.dragPosition(ev));
    this.drag = undefined;
    if (!d.moved) {
      if (ev.type === 'pointerup') this.click(d.id, ev.shiftKey);
      return;
    }
    this.frames.request(this.redraw);
  }

  // Shows an item at a position before the server confirms it.
  private place(id: string, x: number, y: number): void {
    const d = this.drawn.get(id);
    const item = this.model.get(VisualItemClass, id);
    if (!d || !item) return;
    this.layout(d, item, x, y);
  }

  private layout(d: Drawn, item: VisualItem, x: number, y: number): void {
    const w = item.width();
    const hgt = item.height();
    d.g.setAttribute('data-x', String(x));
    d.g.setAttribute('data-y', String(y));
    setAll(d.rect, { x, y, width: w, height: hgt });
    setAll(d.label, { x: x + 8, y: y + Math.min(hgt - 8, 40) });
    d.facing.setAttribute('d', facingMark(item.orientation(), x, y, w, hgt));
  }

  focus(itemId: string | undefined): void {
    this.focused = itemId;
    this.onFocus(itemId ? this.deviceOf(itemId) : undefined);
    this.frames.request(this.redraw);
  }

  deviceOf(itemId: string): string | undefined {
    for (const device of this.model.all(DeviceClass)) {
      if (device.visualItem() === itemId) return device.id() ?? undefined;
    }
    return undefined;
  }

  private window() {
    return this.model.all(SessionWindowClass).find((w) => w.rootVisualItemId() === MASTER_ROOT_ID);
  }

  // Items under the root, parents before children, ordered by Z among siblings.
  private itemsToDraw(): VisualItem[] {
    const window = this.window();
    const layer = this.model.get(LayerClass, window?.selectedLayer());
    const onLayer = layer ? new Set(idList(layer.visualItemLength(), (i) => layer.visualItem(i))) : undefined;
    const items: VisualItem[] = [];
    const walk = (parent: VisualItem) => {
      const children = idList(parent.childrenLength(), (i) => parent.children(i))
        .map((id) => this.model.get(VisualItemClass, id))
        .filter((c): c is VisualItem => !!c)
        .sort((a, b) => a.z() - b.z());
      for (const child of children) {
        if (!child.visible() || (onLayer && !onLayer.has(child.id()!))) continue;
        items.push(child);
        walk(child);
      }
    };
    const root = this.model.get(VisualItemClass, MASTER_ROOT_ID);
    if (root) walk(root);
    return items;
  }

  private names(): Map<string, { name: string; online: string }> {
    const byItem = new Map<string, { name: string; online: string }>();
    for (const device of this.model.all(DeviceClass)) {
      const info = this.model.get(DeviceInfoClass, device.deviceInfo());
      const online = this.model.get(OnlineClass, device.online());
      const state = !online
        ? 'unknown'
        : online.isOnline()
          ? 'online'
          : online.supposedState() === FtOnlineState.OFFLINE
            ? 'offline'
            : 'connecting';
      byItem.set(device.visualItem() ?? '', { name: info?.name() || device.deviceId() || '', online: state });
    }
    return byItem;
  }

  draw(): void {
    const window = this.window();
    const selected = new Set<string>();
    this.selected = selected;
    if (window) {
      for (let i = 0; i < window.selectedDesignItemLength(); i++) selected.add(window.selectedDesignItem(i));
      for (let i = 0; i < window.selectedDeviceItemLength(); i++) selected.add(window.selectedDeviceItem(i));
    }
    this.layerLabel.textContent = this.model.get(LayerClass, window?.selectedLayer())?.name() ?? '';
    const names = this.names();
    const seen = new Set<string>();
    const order: SVGGElement[] = [];
    const items = this.itemsToDraw();
    for (const item of items) {
      const id = item.id()!;
      seen.add(id);
      let d = this.drawn.get(id);
      if (!d) {
        d = {
          g: svg('g', { 'data-id': id, class: 'item' }),
          rect: svg('rect', {}),
          label: svg('text', {}),
          facing: svg('path', { class: 'facing' }),
        };
        d.g.append(d.rect, d.facing, d.label);
        this.drawn.set(id, d);
      }
      order.push(d.g);
      const isGroup = item.childrenLength() > 0;
      const device = names.get(id);
      d.g.setAttribute('class', `item${isGroup ? ' group' : ''}${selected.has(id) ? ' selected' : ''}${
        this.focused === id ? ' focused' : ''
      }${device ? ` device ${device.online}` : ''}`);
      d.label.textContent = device?.name ?? '';
      // A dragged item stays where the pointer is until it is let go.
      if (this.drag?.id !== id) this.layout(d, item, item.x(), item.y());
    }
    if (!this.drag) {
      this.svgElement.setAttribute(
        'viewBox',
        viewBoxFor(items.map((i) => ({ x: i.x(), y: i.y(), w: i.width(), h: i.height() }))),
      );
    }
    // Document order is drawing order (parents first, then by Z); moved only when it changed.
    if (order.length !== this.order.length || order.some((g, i) => g !== this.order[i])) {
      for (const g of order) this.svgElement.append(g);
      this.order = order;
    }
    for (const [id, d] of this.drawn) {
      if (seen.has(id)) continue;
      d.g.remove();
      this.drawn.delete(id);
    }
    if (!this.firstDrawn && this.model.get(VisualItemClass, MASTER_ROOT_ID)) {
      this.firstDrawn = true;
      performance.mark('qor:first-canvas');
      this.svgElement.setAttribute('data-ready', 'true');
    }
  }
}

function setAll(el: Element, attrs: Record<string, number>) {
  for (const [k, v] of Object.entries(attrs)) el.setAttribute(k, String(v));
}

// A small triangle on the side the item faces.
function facingMark(o: VisualItemOrientation, x: number, y: number, w: number, hgt: number): string {
  const s = Math.max(16, Math.min(w, hgt) / 5);
  switch (o) {
    case VisualItemOrientation.SOUTH:
      return `M${x + w / 2 - s},${y + hgt} L${x + w / 2 + s},${y + hgt} L${x + w / 2},${y + hgt - s} Z`;
    case VisualItemOrientation.WEST:
      return `M${x},${y + hgt / 2 - s} L${x},${y + hgt / 2 + s} L${x + s},${y + hgt / 2} Z`;
    case VisualItemOrientation.NORTH:
      return `M${x + w / 2 - s},${y} L${x + w / 2 + s},${y} L${x + w / 2},${y + s} Z`;
    default:
      return `M${x + w},${y + hgt / 2 - s} L${x + w},${y + hgt / 2 + s} L${x + w - s},${y + hgt / 2} Z`;
  }
}

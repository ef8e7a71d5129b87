// The canvas of the master session window: every visual item under the
// window's root as a rectangle at its position and size, groups dashed,
// the server's selection outlined, only what the selected layer shows.
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
import { FrameScheduler } from './frame';
import { h, svg } from './dom';

export const CANVAS_WIDTH = 16000;
export const CANVAS_HEIGHT = 10000;

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
  // The item whose device the device view shows (this client's own focus).
  focused: string | undefined;
  onFocus: (deviceId: string | undefined) => void = () => undefined;

  constructor(
    private readonly model: LiveModel,
    private readonly frames: FrameScheduler,
  ) {
    this.svgElement = svg('svg', {
      viewBox: `0 0 ${CANVAS_WIDTH} ${CANVAS_HEIGHT}`,
      class: 'canvas',
      preserveAspectRatio: 'xMidYMid meet',
      'data-testid': 'canvas',
    });
    this.svgElement.append(svg('rect', { x: 0, y: 0, width: CANVAS_WIDTH, height: CANVAS_HEIGHT, class: 'area' }));
    this.element.append(h('div', { class: 'canvas-bar' }, 'Layer: ', this.layerLabel), this.svgElement);
    for (const cls of [VisualItemClass, SessionWindowClass, LayerClass, DeviceClass, DeviceInfoClass, OnlineClass]) {
      model.on(cls.name, () => frames.request(this.redraw));
    }
    this.svgElement.addEventListener('click', (ev) => {
      const id = (ev.target as Element).closest('g[data-id]')?.getAttribute('data-id') ?? undefined;
      this.focus(id);
    });
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
    if (window) {
      for (let i = 0; i < window.selectedDesignItemLength(); i++) selected.add(window.selectedDesignItem(i));
      for (let i = 0; i < window.selectedDeviceItemLength(); i++) selected.add(window.selectedDeviceItem(i));
    }
    this.layerLabel.textContent = this.model.get(LayerClass, window?.selectedLayer())?.name() ?? '';
    const names = this.names();
    const seen = new Set<string>();
    const order: SVGGElement[] = [];
    for (const item of this.itemsToDraw()) {
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
      const x = item.x();
      const y = item.y();
      const w = item.width();
      const hgt = item.height();
      const isGroup = item.childrenLength() > 0;
      const device = names.get(id);
      d.g.setAttribute('class', `item${isGroup ? ' group' : ''}${selected.has(id) ? ' selected' : ''}${
        this.focused === id ? ' focused' : ''
      }${device ? ` device ${device.online}` : ''}`);
      d.g.setAttribute('data-x', String(x));
      d.g.setAttribute('data-y', String(y));
      setAll(d.rect, { x, y, width: w, height: hgt });
      d.label.textContent = device?.name ?? '';
      setAll(d.label, { x: x + 40, y: y + Math.min(hgt - 20, 160) });
      d.facing.setAttribute('d', facingMark(item.orientation(), x, y, w, hgt));
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

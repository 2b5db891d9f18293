// The floor plan on a canvas: each player where the window's map places it,
// the ones never placed in rows below. Only what is in sight is drawn, so a
// thousand players pan as smoothly as ten.
import { shortName } from './ui.js';

const W = 132;  // a tile
const H = 44;
const GAP = 8;

// A tile's second line: the state in a word.
const WORDS = { 'WAITING FOR PLAYLIST': 'waiting for a list', 'DOWNLOADING MOVIES': 'downloading', 'NEW PLAYLIST': 'new list' };

// How each kind of state looks: told apart by colour, mark and word, not by colour alone.
function look(p) {
  if (!p.online) return { edge: '#767676', fill: '#ececec', ink: '#4d4d4d', mark: '○', word: 'offline', dash: true };
  if (p.state === 'DEVICE ERROR') return { edge: '#a3001b', fill: '#fde7ea', ink: '#1a1a1a', mark: '⚠', word: 'error' };
  if (p.state !== 'READY') return { edge: '#0b5394', fill: '#e8f0fe', ink: '#1a1a1a', mark: '↓', word: WORDS[p.state] || p.state.toLowerCase() };
  if (p.playback === 'pause') return { edge: '#7a4a00', fill: '#fff4ce', ink: '#1a1a1a', mark: '❚❚', word: 'paused' };
  return { edge: '#1b5e20', fill: '#ffffff', ink: '#1a1a1a', mark: '▶', word: p.playback === 'play' ? 'playing' : p.playback };
}

// The longest middle-shortened form of `name` that fits `width`.
function fit(ctx, name, width) {
  if (ctx.measureText(name).width <= width) return name;
  let max = name.length - 1;
  while (max > 4 && ctx.measureText(shortName(name, max)).width > width) max -= 1;
  return shortName(name, max);
}

export class PlayersMap {
  constructor(box, { selected, choose }) {
    this.box = box;
    this.selected = selected;
    this.choose = choose;
    this.spots = [];
    box.innerHTML = '<div class="map-extent"></div><canvas id="players-map"></canvas>';
    this.extent = box.firstElementChild;
    this.canvas = box.lastElementChild;
    this.canvas.setAttribute('role', 'img');
    let queued = false;
    const soon = () => {
      if (queued) return;
      queued = true;
      requestAnimationFrame(() => { queued = false; this.draw(); });
    };
    box.addEventListener('scroll', soon, { passive: true });
    new ResizeObserver(soon).observe(box);
    this.canvas.addEventListener('click', (e) => {
      const p = this.at(e);
      if (p) this.choose(p);
    });
    this.canvas.addEventListener('mousemove', (e) => {
      const p = this.at(e);
      this.canvas.title = p ? `${p.name || p.id} (${p.id}): ${p.online ? p.state : 'OFFLINE'}, ${p.playback}${p.now_playing ? `, ${p.now_playing}` : ''}` : '';
      this.canvas.style.cursor = p ? 'pointer' : 'default';
    });
  }

  // The player whose tile is under the pointer.
  at(e) {
    const r = this.canvas.getBoundingClientRect();
    const x = e.clientX - r.left + this.box.scrollLeft;
    const y = e.clientY - r.top + this.box.scrollTop;
    for (let i = this.spots.length - 1; i >= 0; i -= 1) {
      const s = this.spots[i];
      if (x >= s.x && x < s.x + W && y >= s.y && y < s.y + H) return s.p;
    }
    return null;
  }

  // Where each player goes; placed ones keep the window's positions
  // (origin bottom left there, top left here).
  set(players) {
    const placed = players.filter((p) => p.map);
    const top = Math.max(0, ...placed.map((p) => p.map.y + H + 16));
    const across = Math.max(1, Math.floor(((this.box.clientWidth || 960) - GAP) / (W + GAP)));
    let free = 0;
    this.spots = players.map((p) => {
      if (p.map) return { p, x: Math.max(0, p.map.x), y: Math.max(0, top - p.map.y - H) };
      const spot = { p, x: GAP + (free % across) * (W + GAP), y: top + GAP + Math.floor(free / across) * (H + GAP) };
      free += 1;
      return spot;
    });
    const width = Math.max(0, ...this.spots.map((s) => s.x + W + GAP));
    const height = Math.max(0, ...this.spots.map((s) => s.y + H + GAP));
    this.extent.style.width = `${width}px`;
    this.extent.style.height = `${height}px`;
    this.canvas.setAttribute('aria-label', `Floor plan: ${players.length} players`);
    this.draw();
  }

  draw() {
    const { canvas, box } = this;
    const ratio = window.devicePixelRatio || 1;
    const w = box.clientWidth;
    const h = box.clientHeight;
    if (canvas.width !== Math.round(w * ratio) || canvas.height !== Math.round(h * ratio)) {
      canvas.width = Math.round(w * ratio);
      canvas.height = Math.round(h * ratio);
      canvas.style.width = `${w}px`;
      canvas.style.height = `${h}px`;
    }
    // The canvas stays where the view is; the extent gives the scrollbars.
    const left = box.scrollLeft;
    const top = box.scrollTop;
    canvas.style.left = `${left}px`;
    canvas.style.top = `${top}px`;
    const ctx = canvas.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, -left * ratio, -top * ratio);
    ctx.clearRect(left, top, w, h);
    ctx.textBaseline = 'middle';
    for (const { p, x, y } of this.spots) {
      if (x + W < left || x > left + w || y + H < top || y > top + h) continue;
      const l = look(p);
      const chosen = this.selected.has(p.id);
      ctx.fillStyle = chosen ? '#dbe8f7' : l.fill;
      ctx.fillRect(x, y, W, H);
      ctx.setLineDash(l.dash ? [4, 3] : []);
      ctx.lineWidth = chosen ? 3 : 2;
      ctx.strokeStyle = chosen ? '#0b5394' : l.edge;
      ctx.strokeRect(x + 1, y + 1, W - 2, H - 2);
      ctx.fillStyle = l.ink;
      ctx.font = 'bold 12px "DejaVu Sans", sans-serif';
      ctx.fillText(fit(ctx, p.name || p.id, W - 12), x + 6, y + 13);
      ctx.font = '11px "DejaVu Sans", sans-serif';
      ctx.fillStyle = l.edge === '#767676' ? l.ink : l.edge;
      ctx.fillText(fit(ctx, `${l.mark} ${l.word}`, W - 12), x + 6, y + 31);
    }
    ctx.setLineDash([]);
  }
}

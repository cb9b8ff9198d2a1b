// The frames in memory: fetched ahead of the playhead, decoded, and kept in a bounded cache.
//
// The cache holds at most `capacity` frames (default 64; ?cache=N in the page's address). It
// wants the frames from `behind` before the playhead to `ahead` after it, in the direction of
// play (wrapping round when the player loops), and fetches the missing ones nearest first,
// `parallel` at a time. When it is full, the frame farthest from the playhead outside that
// window is dropped and its GPU buffers freed. On a long take memory therefore stays at about
// `capacity` frames whatever the length, and a jump with the slider starts a new window there.
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { MeshoptDecoder } from 'three/addons/libs/meshopt_decoder.module.js';

let workersChosen = false;

export class FrameCache {
  // frames: the sequence file's list ({frame, file} or {frame, error}); onChange(index) is
  // called when a frame becomes ready or fails.
  constructor(frames, { capacity = 64, ahead = 40, behind = 8, parallel = 4, onChange } = {}) {
    this.frames = frames;
    this.capacity = Math.max(capacity, 2);
    this.ahead = Math.min(ahead, this.capacity - 1);
    this.behind = Math.min(behind, this.capacity - 1 - this.ahead);
    this.parallel = parallel;
    this.onChange = onChange || (() => {});
    this.entries = new Map();  // index -> {state: 'loading'|'ready'|'error', scene, error, ...}
    this.inFlight = 0;
    this.playhead = 0;
    this.direction = 1;
    this.loop = false;
    // With cores to spare, frames decode on worker threads (up to 4, leaving two cores to the
    // page and the browser's drawing), so that playing and drawing do not wait for them. With
    // fewer than 4 cores a worker only competes with them: on 2 cores it played no faster and
    // took 80 MB more, and frames decode on the page's thread.
    const cores = navigator.hardwareConcurrency || 2;
    if (!workersChosen && cores >= 4) MeshoptDecoder.useWorkers(Math.min(4, cores - 2));
    workersChosen = true;
    this.loader = new GLTFLoader().setMeshoptDecoder(MeshoptDecoder);
    this.stats = { loaded: 0, failed: 0, evicted: 0, bytes: 0, fetchMs: 0, decodeMs: 0 };
  }

  get(index) { return this.entries.get(index); }

  // Moves the window to the playhead and starts the fetches it needs.
  update(playhead, direction = 1, loop = false) {
    this.playhead = playhead;
    this.direction = direction;
    this.loop = loop;
    this._pump();
  }

  // The indices the cache wants, most wanted first.
  _wanted() {
    const n = this.frames.length, out = [];
    const add = (i) => {
      if (this.loop) i = ((i % n) + n) % n;
      if (i >= 0 && i < n && !out.includes(i)) out.push(i);
    };
    add(this.playhead);
    for (let k = 1; k <= Math.max(this.ahead, this.behind); ++k) {
      if (k <= this.ahead) add(this.playhead + k * this.direction);
      if (k <= this.behind) add(this.playhead - k * this.direction);
    }
    return out;
  }

  _pump() {
    const wanted = this._wanted();
    for (const i of wanted) {
      if (this.inFlight >= this.parallel) break;
      if (!this.entries.has(i)) this._load(i);
    }
    this._evict(new Set(wanted));
  }

  _evict(wanted) {
    if (this.entries.size <= this.capacity) return;
    const n = this.frames.length;
    const distance = (i) => {
      const d = Math.abs(i - this.playhead);
      return this.loop ? Math.min(d, n - d) : d;
    };
    const candidates = [...this.entries.keys()]
      .filter((i) => !wanted.has(i) && this.entries.get(i).state !== 'loading')
      .sort((a, b) => distance(b) - distance(a));
    for (const i of candidates) {
      if (this.entries.size <= this.capacity) break;
      dispose(this.entries.get(i).scene);
      this.entries.delete(i);
      this.stats.evicted++;
    }
  }

  async _load(index) {
    const info = this.frames[index];
    const entry = { state: 'loading' };
    this.entries.set(index, entry);
    if (!info.file) {
      this._fail(index, entry, `frame ${info.frame}: ${info.error || 'no file'}`);
      return;
    }
    this.inFlight++;
    try {
      const t0 = performance.now();
      const response = await fetch(info.file);
      if (!response.ok) throw new Error(`${response.status} ${response.statusText}`.trim());
      const bytes = await response.arrayBuffer();
      const t1 = performance.now();
      const gltf = await this.loader.parseAsync(bytes, '');
      entry.decodeMs = performance.now() - t1;
      entry.fetchMs = t1 - t0;
      entry.bytes = bytes.byteLength;
      entry.scene = gltf.scene;
      entry.state = 'ready';
      Object.assign(this.stats, {
        loaded: this.stats.loaded + 1, bytes: this.stats.bytes + entry.bytes,
        fetchMs: this.stats.fetchMs + entry.fetchMs, decodeMs: this.stats.decodeMs + entry.decodeMs,
      });
    } catch (e) {
      this.inFlight--;
      this._fail(index, entry, `frame ${info.frame}: cannot load ${info.file}: ${e.message || e}`);
      return;
    }
    this.inFlight--;
    if (this.entries.get(index) !== entry) {  // dropped while loading (cannot happen today)
      dispose(entry.scene);
      return;
    }
    this.onChange(index);
    this._pump();
  }

  _fail(index, entry, message) {
    entry.state = 'error';
    entry.error = message;
    this.stats.failed++;
    console.warn(message);
    this.onChange(index);
    this._pump();
  }
}

// Frees the GPU buffers and textures of a frame's scene.
export function dispose(scene) {
  if (!scene) return;
  scene.traverse((o) => {
    if (o.geometry) o.geometry.dispose();
    for (const m of [].concat(o.material || [])) {
      if (m.map) m.map.dispose();
      m.dispose();
    }
  });
}

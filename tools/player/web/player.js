// The player: plays the folder's frames (sequence.json, frames/*.glb) among the studio's cameras
// (cameras.json). Playback shows every frame in order, at most at the sequence's rate: a frame
// still loading holds the playhead, a frame that failed is shown as failed (its error on the
// screen, nothing drawn) for one frame's time, and playback goes on.
//
// Address options: ?frame=N starts at frame number N, ?camera=I looks through camera I, ?cache=N
// keeps N frames in memory (default 64), ?play=1 starts playing, ?antialias=0 or 1 turns
// antialiasing off or on (default: on, unless WebGL is drawn in software).
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import { FrameCache } from './frame_cache.js';
import { makeFrusta, lookThrough, cameraGeometry } from './studio_cameras.js';

const params = new URLSearchParams(location.search);
const $ = (id) => document.getElementById(id);
const ui = {
  play: $('play'), slider: $('slider'), frame: $('frame'), message: $('message'),
  surface: $('surface'), wireframe: $('wireframe'), points: $('points'), cameras: $('show-cameras'),
  loop: $('loop'), viewpoint: $('viewpoint'), cache: $('cache'),
};
const BACKGROUND = new THREE.Color(0x202028);

async function fetchJson(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot load ${url}: ${response.status} ${response.statusText}`);
  return response.json();
}

// ---- Scene, renderer, free camera ----
// Antialiasing unless WebGL is drawn in software (SwiftShader, llvmpipe), where multisampling
// takes most of a frame's time (?antialias=0 or 1 decides).
function softwareWebGL() {
  const gl = document.createElement('canvas').getContext('webgl2');
  const info = gl && gl.getExtension('WEBGL_debug_renderer_info');
  const name = info ? String(gl.getParameter(info.UNMASKED_RENDERER_WEBGL)) : '';
  if (gl) gl.getExtension('WEBGL_lose_context')?.loseContext();
  return /swiftshader|llvmpipe|softpipe|software/i.test(name);
}
const antialias = params.has('antialias') ? params.get('antialias') !== '0' : !softwareWebGL();
const renderer = new THREE.WebGLRenderer({ antialias });
renderer.setPixelRatio(window.devicePixelRatio);
$('view').appendChild(renderer.domElement);
const scene = new THREE.Scene();
scene.background = BACKGROUND;
const camera = new THREE.PerspectiveCamera(40, 1, 0.01, 100);
const controls = new OrbitControls(camera, renderer.domElement);
const frameGroup = new THREE.Group();  // the displayed frame's objects
scene.add(frameGroup);
let frusta = null;

// Shared materials of the wireframe and point views.
const wireMaterial = new THREE.MeshBasicMaterial({ color: 0x99ccff, wireframe: true });
const pointMaterials = {
  coloured: new THREE.PointsMaterial({ size: 0.01, vertexColors: true }),
  plain: new THREE.PointsMaterial({ size: 0.01, color: 0xbbbbbb }),
};

const state = {
  sequence: null, cameras: [], index: 0, shown: -1, playing: false, nextDue: 0,
  view: -1,            // -1: free view, else the camera looked through
  centre: new THREE.Vector3(), radius: 1, framed: false,
  shownLog: [],        // [time ms, frame number] of every frame shown (for tests and benches)
  dirty: true,         // the picture must be drawn again
};
let cache = null;

function setMessage(text, loading = false) {
  ui.message.textContent = text;
  ui.message.classList.toggle('loading', loading);
}

// ---- Frame display ----
// A frame made of one mesh or point set (every frame make_player converts, and a textured
// frame) is drawn by three objects that stay from frame to frame: its surface, a wireframe and
// points over the same geometry. Showing a frame swaps their geometry (and the surface's
// material for a frame with its own texture), so that playing creates no scene objects per frame
// and every untextured frame shares one material and its compiled shader. A frame of several
// meshes gets objects of its own.
const surfaceMaterials = {  // unlit and two-sided, as the frames' own material
  coloured: new THREE.MeshBasicMaterial({ vertexColors: true, side: THREE.DoubleSide }),
  plain: new THREE.MeshBasicMaterial({ side: THREE.DoubleSide }),
};
const views = {
  surface: new THREE.Mesh(undefined, surfaceMaterials.coloured),
  wire: new THREE.Mesh(undefined, wireMaterial),
  points: new THREE.Points(undefined, pointMaterials.coloured),
};
for (const m of Object.values(surfaceMaterials)) keepWireInFront(m);
for (const o of Object.values(views)) o.matrixAutoUpdate = false;

// Keeps the wireframe in front of its own surface.
function keepWireInFront(material) {
  material.polygonOffset = true;
  material.polygonOffsetFactor = 1;
  material.polygonOffsetUnits = 1;
}

// The objects with geometry in a loaded frame's scene (its matrices brought up to date).
function frameParts(entry) {
  if (!entry.parts) {
    entry.scene.updateMatrixWorld(true);
    entry.parts = [];
    entry.scene.traverse((o) => { if (o.geometry) entry.parts.push(o); });
  }
  return entry.parts;
}

// The surface material of a part: the shared one unless the frame's own has a texture or is
// not the plain unlit one (a textured frame, or a file from elsewhere).
function surfaceMaterial(part) {
  const m = part.material;
  if (Array.isArray(m) || !m.isMeshBasicMaterial || m.map || m.color.getHex() !== 0xffffff) {
    for (const each of [].concat(m)) keepWireInFront(each);
    return m;
  }
  return surfaceMaterials[part.geometry.attributes.color ? 'coloured' : 'plain'];
}

// Shows a one-part frame through the lasting objects.
function showPart(part) {
  const coloured = !!part.geometry.attributes.color;
  const pointsOnly = !!part.isPoints;
  views.points.material = pointMaterials[coloured ? 'coloured' : 'plain'];
  views.surface.material = pointsOnly ? surfaceMaterials.plain : surfaceMaterial(part);
  const shown = [[views.points, pointsOnly || ui.points.checked],
    [views.surface, !pointsOnly && ui.surface.checked],
    [views.wire, !pointsOnly && ui.wireframe.checked]];
  for (const [o, on] of shown) {
    o.geometry = part.geometry;
    o.matrix.copy(part.matrixWorld);
    if (on) frameGroup.add(o);
  }
}

// Objects of their own for each part of a frame of several.
function partObjects(parts) {
  const out = [];
  const placed = (object, node) => {
    object.matrixAutoUpdate = false;
    object.matrix.copy(node.matrixWorld);
    return object;
  };
  for (const o of parts) {
    const points = placed(new THREE.Points(o.geometry, pointMaterials[o.geometry.attributes.color ? 'coloured' : 'plain']), o);
    if (o.isPoints) {
      out.push(points);
      continue;
    }
    if (ui.surface.checked) out.push(placed(new THREE.Mesh(o.geometry, surfaceMaterial(o)), o));
    if (ui.wireframe.checked) out.push(placed(new THREE.Mesh(o.geometry, wireMaterial), o));
    if (ui.points.checked) out.push(points);
  }
  return out;
}

function display(index) {
  state.dirty = true;
  frameGroup.clear();
  const entry = cache.get(index);
  const info = state.sequence.frames[index];
  if (entry && entry.state === 'ready') {
    const parts = frameParts(entry);
    if (parts.length === 1) showPart(parts[0]);
    else for (const o of partObjects(parts)) frameGroup.add(o);
    if (!state.framed) frameScene(entry.scene);
    if (ui.message.textContent) setMessage('');
  } else if (entry && entry.state === 'error') {
    setMessage(entry.error);
  }
  state.shown = index;
  state.shownLog.push([performance.now(), info.frame]);
  if (state.shownLog.length > 20000) state.shownLog.splice(0, 10000);
  ui.frame.textContent = String(info.frame);
  ui.slider.value = String(index);
}

// Sets the playhead; the frame appears as soon as it is loaded.
function seek(index) {
  const n = state.sequence.frames.length;
  state.index = Math.max(0, Math.min(n - 1, index));
  cache.update(state.index, 1, ui.loop.checked);
  const entry = cache.get(state.index);
  if (entry && entry.state !== 'loading') {
    display(state.index);
  } else {
    ui.frame.textContent = String(state.sequence.frames[state.index].frame);
    setMessage(`loading frame ${state.sequence.frames[state.index].frame}`, true);
  }
}

function onFrameChange(index) {
  if (index === state.index && state.shown !== index) display(index);
  updateCacheLabel();
}

function updateCacheLabel() {
  let ready = 0, loading = 0;
  for (const e of cache.entries.values()) e.state === 'loading' ? loading++ : ready++;
  ui.cache.textContent = `cache ${ready}/${cache.capacity}` + (loading ? ` (+${loading})` : '');
}

// ---- Framing and views ----
function frameScene(gltfScene) {
  const box = new THREE.Box3().setFromObject(gltfScene);
  if (box.isEmpty()) return;
  const sphere = box.getBoundingSphere(new THREE.Sphere());
  state.centre.copy(sphere.center);
  state.radius = Math.max(sphere.radius, 1e-6);
  state.framed = true;
  const size = state.radius * 0.008;
  pointMaterials.coloured.size = pointMaterials.plain.size = size;
  if (state.cameras.length && !frusta) {
    // Frusta a quarter of the way from each camera to the object.
    const distance = state.cameras.reduce((s, c) =>
      s + cameraGeometry(c, 1).centre.distanceTo(state.centre), 0) / state.cameras.length;
    state.frustumDepth = 0.25 * distance;
    frusta = makeFrusta(state.cameras, state.frustumDepth);
    frusta.visible = ui.cameras.checked;
    scene.add(frusta);
  }
  if (state.view >= 0) setView(state.view);
  else freeView(true);
}

// The world's up: opposite to the cameras' mean image "down" (most studios keep cameras
// upright); +y without cameras.
function worldUp() {
  const up = new THREE.Vector3();
  for (const c of state.cameras) up.sub(cameraGeometry(c, 1).down);
  return up.lengthSq() > 0 ? up.normalize() : new THREE.Vector3(0, 1, 0);
}

function nearFar() {
  let far = state.radius * 4;
  for (const c of state.cameras) {
    far = Math.max(far, cameraGeometry(c, 1).centre.distanceTo(state.centre) + 2 * state.radius);
  }
  far = Math.max(far, camera.position.distanceTo(state.centre) + 2 * state.radius);
  return [far * 1e-4, far * 2];
}

function freeView(reset) {
  state.view = -1;
  ui.viewpoint.value = 'free';
  camera.fov = 40;
  if (reset) {
    // A three-quarter view: from camera 0's side (or the front) turned 35 degrees about the
    // up direction, and from above.
    const up = worldUp();
    let dir = new THREE.Vector3(0, 0, 1);
    if (state.cameras.length) dir = cameraGeometry(state.cameras[0], 1).centre.sub(state.centre);
    dir.addScaledVector(up, -dir.dot(up)).normalize().applyAxisAngle(up, THREE.MathUtils.degToRad(35));
    dir.addScaledVector(up, 0.45).normalize();
    camera.up.copy(up);
    camera.position.copy(state.centre).addScaledVector(dir, state.radius * 3.2);
    controls.target.copy(state.centre);
    camera.lookAt(state.centre);
  }
  [camera.near, camera.far] = nearFar();
  resize();
  if (frusta) frusta.visible = ui.cameras.checked;
}

// The whole studio from above and outside the ring of cameras, on camera 0's side.
function overview() {
  freeView(true);
  if (!state.cameras.length) return;
  const up = worldUp();
  const ring = state.cameras.reduce((s, c) =>
    s + cameraGeometry(c, 1).centre.distanceTo(state.centre), 0) / state.cameras.length;
  const dir = cameraGeometry(state.cameras[0], 1).centre.sub(state.centre);
  dir.addScaledVector(up, -dir.dot(up)).normalize().addScaledVector(up, 1.1).normalize();
  camera.position.copy(state.centre).addScaledVector(dir, 2.2 * ring);
  camera.lookAt(state.centre);
  ui.viewpoint.value = 'overview';
  [camera.near, camera.far] = nearFar();
  resize();
}

// Looks through camera i (its position in cameras.json).
function setView(i) {
  const c = state.cameras[i];
  state.view = i;
  ui.viewpoint.value = String(i);
  const [near, far] = nearFar();
  lookThrough(camera, c, near, far);
  // Orbiting away from here turns about the point on the optical axis nearest the object.
  const g = cameraGeometry(c, 1);
  const along = Math.max(state.centre.clone().sub(g.centre).dot(g.forward), state.radius);
  controls.target.copy(g.centre).addScaledVector(g.forward, along);
  resize();
}

// The part of the canvas that shows the picture: all of it in the free view, the largest
// rectangle of the camera's image shape when looking through a camera.
function viewport() {
  const w = renderer.domElement.clientWidth, h = renderer.domElement.clientHeight;
  if (state.view < 0) return [0, 0, w, h];
  const c = state.cameras[state.view];
  const s = Math.min(w / c.width, h / c.height);
  const vw = c.width * s, vh = c.height * s;
  return [(w - vw) / 2, (h - vh) / 2, vw, vh];
}

function resize() {
  state.dirty = true;
  const w = window.innerWidth, h = window.innerHeight;
  renderer.setSize(w, h, false);
  if (state.view < 0) {
    camera.aspect = w / Math.max(h, 1);
    camera.updateProjectionMatrix();
  }
}

function render() {
  if (state.view < 0 && state.framed) {
    // Keep the object between the clipping planes however far the view has moved.
    const [near, far] = nearFar();
    if (near !== camera.near || far !== camera.far) {
      [camera.near, camera.far] = [near, far];
      camera.updateProjectionMatrix();
    }
  }
  const [x, y, w, h] = viewport();
  renderer.setScissorTest(false);
  renderer.setClearColor(0x000000);
  renderer.clear();
  renderer.setViewport(x, y, w, h);
  renderer.setScissor(x, y, w, h);
  renderer.setScissorTest(true);
  renderer.render(scene, camera);
}

// ---- Playback ----
function setPlaying(on) {
  state.playing = on;
  ui.play.textContent = on ? 'Pause' : 'Play';
  if (on) {
    if (state.index >= state.sequence.frames.length - 1 && !ui.loop.checked) seek(0);
    state.nextDue = performance.now() + 1000 / state.sequence.fps;
  }
}

function advance(now) {
  const n = state.sequence.frames.length;
  const period = 1000 / state.sequence.fps;
  if (!state.playing || now < state.nextDue) return;
  const current = cache.get(state.index);
  if (state.shown !== state.index || !current || current.state === 'loading') return;  // stall
  let next = state.index + 1;
  if (next >= n) {
    if (!ui.loop.checked) {
      setPlaying(false);
      return;
    }
    next = 0;
  }
  seek(next);
  // Keep to the rate; after a stall start counting again rather than rushing to catch up.
  state.nextDue = Math.max(state.nextDue + period, now + period * 0.5);
}

// Draws only when something changed: with software WebGL a redraw of an unchanged picture
// takes the processor time that loading the next frames needs.
function tick(now) {
  advance(now);
  if (state.dirty) {
    state.dirty = false;
    render();
  }
  requestAnimationFrame(tick);
}

// ---- Input ----
function bindInput() {
  ui.play.addEventListener('click', () => setPlaying(!state.playing));
  ui.slider.addEventListener('input', () => {
    setPlaying(false);
    seek(Number(ui.slider.value));
  });
  for (const box of [ui.surface, ui.wireframe, ui.points]) {
    box.addEventListener('change', () => { if (state.shown >= 0) display(state.shown); });
  }
  ui.cameras.addEventListener('change', () => {
    if (frusta) frusta.visible = ui.cameras.checked;
    state.dirty = true;
  });
  ui.loop.addEventListener('change', () => cache.update(state.index, 1, ui.loop.checked));
  ui.viewpoint.addEventListener('change', () => {
    if (ui.viewpoint.value === 'free') freeView(false);
    else if (ui.viewpoint.value === 'overview') overview();
    else setView(Number(ui.viewpoint.value));
  });
  window.addEventListener('keydown', (e) => {
    if (e.key === 'ArrowRight' || e.key === 'ArrowLeft') {
      setPlaying(false);
      seek(state.index + (e.key === 'ArrowRight' ? 1 : -1));
      e.preventDefault();
    } else if (e.key === ' ') {
      setPlaying(!state.playing);
      e.preventDefault();
    } else if (e.key === 'Escape' && state.view >= 0) {
      freeView(false);
    }
  });
  // Orbiting, panning or zooming leaves a camera's view for the free view from there.
  controls.addEventListener('change', () => {
    if (state.view >= 0) freeView(false);
    state.dirty = true;
  });
  // A click (not a drag) on a frustum looks through that camera.
  let down = null;
  renderer.domElement.addEventListener('pointerdown', (e) => { down = [e.clientX, e.clientY]; });
  renderer.domElement.addEventListener('pointerup', (e) => {
    if (!down || Math.hypot(e.clientX - down[0], e.clientY - down[1]) > 4) return;
    const i = pickCamera(e.clientX, e.clientY);
    if (i >= 0) setView(i);
  });
  window.addEventListener('resize', () => (state.view >= 0 ? setView(state.view) : resize()));
}

// The camera whose frustum is under the page position (x, y), or -1.
function pickCamera(x, y) {
  if (!frusta || !frusta.visible) return -1;
  const [vx, vy, vw, vh] = viewport();
  const ndc = new THREE.Vector2(((x - vx) / vw) * 2 - 1, 1 - ((y - vy) / vh) * 2);
  const ray = new THREE.Raycaster();
  ray.setFromCamera(ndc, camera);
  const hits = ray.intersectObjects(frusta.children.filter((o) => o.userData.camera !== undefined));
  const own = state.view;
  const hit = hits.find((h) => h.object.userData.camera !== own);
  return hit ? hit.object.userData.camera : -1;
}

// ---- Start ----
async function start() {
  try {
    [state.sequence, { cameras: state.cameras }] =
      await Promise.all([fetchJson('sequence.json'), fetchJson('cameras.json')]);
  } catch (e) {
    setMessage(String(e.message || e));
    throw e;
  }
  document.title = `${state.sequence.title} - tervik player`;
  const frames = state.sequence.frames;
  ui.slider.max = String(frames.length - 1);
  state.cameras.forEach((c, i) => ui.viewpoint.add(new Option(`camera ${c.index}`, String(i))));
  const capacity = Math.max(2, Number(params.get('cache')) || 64);
  cache = new FrameCache(frames, {
    capacity, ahead: Math.min(40, capacity - 8), behind: Math.min(8, capacity >> 2),
    onChange: onFrameChange,
  });
  bindInput();
  resize();
  const startFrame = params.has('frame') ?
    Math.max(0, frames.findIndex((f) => f.frame === Number(params.get('frame')))) : 0;
  if (params.has('camera')) {
    const i = state.cameras.findIndex((c) => c.index === Number(params.get('camera')));
    if (i >= 0) state.view = i;
  }
  seek(startFrame);
  requestAnimationFrame(tick);
  if (params.get('play') === '1') setPlaying(true);
}

// What tests and benches use: the state, and pictures of the canvas alone.
window.player = {
  ready: start(),
  state: () => ({
    index: state.index, frame: state.sequence.frames[state.index].frame, shown: state.shown,
    playing: state.playing, view: state.view, message: ui.message.textContent,
    shownLog: state.shownLog, stats: cache ? { ...cache.stats, held: cache.entries.size } : null,
    framed: state.framed,
  }),
  seek, setPlaying, setView, freeView, overview,
  frames: () => state.sequence.frames.length,
  entry: (i) => cache.get(i),
  // Renders now and returns the canvas as a PNG data URL. mask: the frame's surface white on
  // black, without cameras, as the tools' coverage images show an object.
  snapshot({ mask = false } = {}) {
    const saved = [scene.background, scene.overrideMaterial, frusta && frusta.visible];
    if (mask) {
      scene.background = new THREE.Color(0x000000);
      scene.overrideMaterial = new THREE.MeshBasicMaterial({ color: 0xffffff, side: THREE.DoubleSide });
      if (frusta) frusta.visible = false;
    }
    render();
    const url = renderer.domElement.toDataURL('image/png');
    [scene.background, scene.overrideMaterial] = saved;
    if (frusta) frusta.visible = saved[2];
    return url;
  },
  // For benches: the mean milliseconds to show each of the loaded frames `indices` (the
  // JavaScript of the swap) and to draw it with the picture read back (the upload of its
  // geometry and the rasteriser's work); with `redraw`, the first is shown and drawn again
  // `indices.length` times (the rasteriser alone).
  measureDraw(indices, redraw = false) {
    const gl = renderer.getContext();
    const pixel = new Uint8Array(4);
    let showMs = 0, drawMs = 0;
    display(indices[0]);
    render();
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
    for (const i of indices) {
      const t0 = performance.now();
      if (!redraw) display(i);
      const t1 = performance.now();
      render();
      gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
      drawMs += performance.now() - t1;
      showMs += t1 - t0;
    }
    return { showMs: showMs / indices.length, drawMs: drawMs / indices.length };
  },
  // The camera nearest the viewer whose frustum's middle is on the page (width x height), or -1.
  pickableCamera(width, height) {
    let best = -1, bestDistance = Infinity;
    state.cameras.forEach((c, i) => {
      const [x, y] = window.player.frustumPoint(i);
      const d = cameraGeometry(c, 1).centre.distanceTo(camera.position);
      const onCanvas = document.elementFromPoint(x, y) === renderer.domElement;
      if (onCanvas && x < width && y < height && d < bestDistance) [best, bestDistance] = [i, d];
    });
    return best;
  },
  // Page position of camera i's frustum (the middle of its image rectangle), for clicking.
  frustumPoint(i) {
    const c = state.cameras[i];
    camera.updateMatrixWorld();
    const p = cameraGeometry(c, 1).at(c.width / 2, c.height / 2, state.frustumDepth)
      .project(camera);
    const [vx, vy, vw, vh] = viewport();
    return [vx + (p.x + 1) / 2 * vw, vy + (1 - p.y) / 2 * vh];
  },
};

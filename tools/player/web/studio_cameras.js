// The studio's cameras: frusta to draw and click, and the view through a camera.
//
// cameras.json gives each camera's K, R and t (world to camera: x right, y down, z forward;
// pixels with (0, 0) the top-left corner of the image). three.js cameras look down -z with y
// up, so the view matrix is diag(1, -1, -1) [R | t], and the projection maps a pixel (u, v) to
// x = 2 u / W - 1, y = 1 - 2 v / H: what the tools draw at pixel (u, v) is drawn there too.
import * as THREE from 'three';

// World-space centre, axes (right, down, forward) and frustum corners of a camera.
export function cameraGeometry(c, depth) {
  const R = c.R, t = c.t, K = c.K;
  const row = (i) => new THREE.Vector3(R[3 * i], R[3 * i + 1], R[3 * i + 2]);
  const [right, down, forward] = [row(0), row(1), row(2)];
  // C = -R^T t
  const centre = new THREE.Vector3()
    .addScaledVector(right, -t[0]).addScaledVector(down, -t[1]).addScaledVector(forward, -t[2]);
  // A pixel (u, v) at depth d: camera coordinates d K^-1 (u, v, 1), then world.
  const fx = K[0], s = K[1], cx = K[2], fy = K[4], cy = K[5];
  const at = (u, v, d) => {
    const yc = (v - cy) / fy, xc = (u - cx - s * yc) / fx;
    return centre.clone().addScaledVector(right, xc * d).addScaledVector(down, yc * d)
      .addScaledVector(forward, d);
  };
  const corners = [at(0, 0, depth), at(c.width, 0, depth), at(c.width, c.height, depth),
    at(0, c.height, depth)];
  return { centre, right, down, forward, corners, at };
}

// A group with every camera's frustum (lines, a faint surface to click, the camera number);
// each pickable surface carries userData.camera = its position in the list.
export function makeFrusta(cameras, depth) {
  const group = new THREE.Group();
  const lineMaterial = new THREE.LineBasicMaterial({ color: 0xffcc33 });
  const faceMaterial = new THREE.MeshBasicMaterial({
    color: 0xffcc33, transparent: true, opacity: 0.08, side: THREE.DoubleSide, depthWrite: false,
  });
  cameras.forEach((c, n) => {
    const g = cameraGeometry(c, depth);
    const [a, b, cc, d] = g.corners;
    // Apex to corners, the image rectangle, and a tick above the top edge marking "up".
    const top = g.at(c.width / 2, -0.15 * c.height, depth);
    const lines = [g.centre, a, g.centre, b, g.centre, cc, g.centre, d, a, b, b, cc, cc, d, d, a,
      a, top, top, b];
    group.add(new THREE.LineSegments(new THREE.BufferGeometry().setFromPoints(lines),
      lineMaterial));
    const faces = [g.centre, a, b, g.centre, b, cc, g.centre, cc, d, g.centre, d, a, a, b, cc,
      a, cc, d];
    const pick = new THREE.Mesh(new THREE.BufferGeometry().setFromPoints(faces), faceMaterial);
    pick.userData.camera = n;
    group.add(pick);
    group.add(label(String(c.index), top, depth * 0.25));
  });
  return group;
}

function label(text, position, size) {
  const canvas = document.createElement('canvas');
  canvas.width = canvas.height = 64;
  const ctx = canvas.getContext('2d');
  ctx.fillStyle = '#ffcc33';
  ctx.font = 'bold 44px sans-serif';
  ctx.textAlign = 'center';
  ctx.textBaseline = 'middle';
  ctx.fillText(text, 32, 34);
  const texture = new THREE.CanvasTexture(canvas);
  texture.colorSpace = THREE.SRGBColorSpace;
  const sprite = new THREE.Sprite(new THREE.SpriteMaterial({ map: texture, depthWrite: false }));
  sprite.position.copy(position);
  sprite.scale.setScalar(size);
  return sprite;
}

// Puts `camera` (a THREE.PerspectiveCamera) at the studio camera's pose with its exact
// projection, near and far planes in world units.
export function lookThrough(camera, c, near, far) {
  const g = cameraGeometry(c, 1);
  camera.position.copy(g.centre);
  const up = g.down.clone().negate(), back = g.forward.clone().negate();
  camera.quaternion.setFromRotationMatrix(new THREE.Matrix4().makeBasis(g.right, up, back));
  camera.updateMatrixWorld(true);
  const K = c.K, W = c.width, H = c.height;
  const P = camera.projectionMatrix;
  P.set(2 * K[0] / W, -2 * K[1] / W, 1 - 2 * K[2] / W, 0,
    0, 2 * K[4] / H, 2 * K[5] / H - 1, 0,
    0, 0, -(far + near) / (far - near), -2 * far * near / (far - near),
    0, 0, -1, 0);
  camera.projectionMatrixInverse.copy(P).invert();
}

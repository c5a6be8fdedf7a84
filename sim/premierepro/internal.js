'use strict';
// Plumbing shared by the simulated `premierepro` classes: the link from an API object to
// the model record behind it, the model base class with its snapshot/restore (which makes
// transactions atomic and gives undo), and the errors the simulated host raises.

const { compareVersions } = require('./since');

const TPS = 254016000000n;
const TICKS_PER_SECOND = 254016000000;

/** API object → model record. API objects are thin views, created afresh on every call. */
const MODELS = new WeakMap();

function view(Class, model) {
  const obj = Object.create(Class.prototype);
  MODELS.set(obj, model);
  return obj;
}

/** The model behind an API object, checked against the expected model class. */
function modelOf(obj, ModelClass, what) {
  const m = obj !== null && typeof obj === 'object' ? MODELS.get(obj) : undefined;
  if (!m || (ModelClass && !(m instanceof ModelClass))) {
    throw new TypeError(`Illegal argument: expected ${what}`);
  }
  return m;
}

function peekModel(obj) {
  return obj !== null && typeof obj === 'object' ? MODELS.get(obj) : undefined;
}

/** Constructors of host objects cannot be called from script. */
function illegalConstructor() {
  throw new TypeError('Illegal constructor');
}

/** An edit that Premiere refuses: the transaction that carries it reports false. */
class SimReject extends Error {
  constructor(message) {
    super(message);
    this.name = 'SimReject';
  }
}

/**
 * Base class of model records. Own keys starting with "_" are bookkeeping (back
 * references, locks, history) and are left alone by snapshots.
 */
class Model {}

function cloneValue(v, visit) {
  if (v instanceof Model) {
    if (visit) visit(v);
    return v;
  }
  if (Array.isArray(v)) return v.map((x) => cloneValue(x, visit));
  if (v !== null && typeof v === 'object' && Object.getPrototypeOf(v) === Object.prototype) {
    const o = {};
    for (const k of Object.keys(v)) o[k] = cloneValue(v[k], visit);
    return o;
  }
  return v;
}

/** Saves the state of every model record reachable from `root`. */
function snapshot(root) {
  const saved = new Map();
  const visit = (obj) => {
    if (saved.has(obj)) return;
    const copy = {};
    saved.set(obj, copy);
    for (const k of Object.keys(obj)) {
      if (k.startsWith('_')) continue;
      copy[k] = cloneValue(obj[k], visit);
    }
  };
  visit(root);
  return saved;
}

/** Puts every record of a snapshot back in place (same objects, old contents). */
function restore(saved) {
  for (const [obj, copy] of saved) {
    for (const k of Object.keys(obj)) if (!k.startsWith('_')) delete obj[k];
    for (const k of Object.keys(copy)) obj[k] = cloneValue(copy[k], null);
  }
}

/**
 * Premiere 26.3 enforces that actions are built inside Project.lockedAccess (its changelog:
 * "enforced consistently for the first time"); older versions let them be built anywhere.
 */
function requireLock(project, what) {
  if (!project || project._lockDepth > 0) return;
  if (project._app && compareVersions(project._app.version, '26.3') < 0) return;
  throw new Error(`${what}: actions must be created inside project.lockedAccess() (enforced since Premiere 26.3)`);
}

function toBig(ticks) {
  return typeof ticks === 'bigint' ? ticks : BigInt(ticks);
}

module.exports = {
  TPS, TICKS_PER_SECOND, view, modelOf, peekModel, illegalConstructor, SimReject, Model,
  snapshot, restore, requireLock, toBig,
};

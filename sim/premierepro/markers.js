'use strict';
// Markers on sequences and on clip project items: the Markers collection, Marker, and
// their actions.

const { view, modelOf, peekModel, illegalConstructor, SimReject } = require('./internal');
const { SequenceModel, ItemModel, MarkerModel } = require('./records');
const { Guid, Color, bigOf, fromBig } = require('./values');

// Premiere's marker type names (as ExtendScript's Marker.type shows them).
const TYPES = { COMMENT: 'Comment', CHAPTER: 'Chapter', WEBLINK: 'WebLink', FLVCUEPOINT: 'FlashCuePoint' };
const KNOWN_TYPES = new Set(Object.values(TYPES).concat(['Segmentation']));

// The marker colours of Premiere's marker dialog, by index.
const COLORS = [
  [0.38, 0.78, 0.27], [0.9, 0.25, 0.25], [0.7, 0.35, 0.85], [0.95, 0.55, 0.15],
  [0.95, 0.85, 0.2], [1, 1, 1], [0.25, 0.5, 0.95], [0.2, 0.8, 0.85],
];

function install(api, app) {
  const ownerModel = (obj) => {
    const m = peekModel(obj);
    if (m instanceof SequenceModel) return m;
    if (m instanceof ItemModel && m.kind === 'clip') return m;
    throw new TypeError('Illegal argument: expected Sequence or ClipProjectItem');
  };
  const live = (owner) => {
    const p = owner.project;
    if (!app.projects.includes(p)) throw new Error('The project has been closed');
    return p;
  };
  const ownerOfMarker = (mk) => {
    for (const p of app.projects) {
      for (const s of p.sequences) if (s.markers.includes(mk)) return s;
      for (const i of p.items()) if (i.markers.includes(mk)) return i;
    }
    return null;
  };
  const markerOf = (obj) => modelOf(obj, MarkerModel, 'Marker');
  const sorted = (list) => list.slice().sort((a, b) => (a.start < b.start ? -1 : a.start > b.start ? 1 : 0));

  api.Markers = class Markers {
    constructor() { illegalConstructor(); }

    static async getMarkers(markerOwnerObject) {
      const owner = ownerModel(markerOwnerObject);
      live(owner);
      return view(api.Markers, owner);
    }

    getMarkers(filters = undefined) {
      const owner = modelOf(this, null, 'Markers');
      const want = Array.isArray(filters) && filters.length ? new Set(filters.map(String)) : null;
      return sorted(owner.markers).filter((m) => !want || want.has(m.type)).map((m) => view(api.Marker, m));
    }

    createAddMarkerAction(Name, markerType = undefined, startTime = undefined, duration = undefined, comments = undefined) {
      const owner = modelOf(this, null, 'Markers');
      const fields = {
        name: String(Name),
        type: markerType === undefined ? TYPES.COMMENT : String(markerType),
        start: startTime === undefined ? 0n : bigOf(startTime),
        duration: duration === undefined ? 0n : bigOf(duration),
        comments: comments === undefined ? '' : String(comments),
      };
      return api.action(owner.project, 'Markers.createAddMarkerAction', () => {
        if (!KNOWN_TYPES.has(fields.type)) throw new SimReject(`Unknown marker type '${fields.type}'`);
        if (fields.start < 0n) throw new SimReject('A marker cannot start before zero');
        if (fields.duration < 0n) throw new SimReject('A marker duration cannot be negative');
        owner.markers.push(new MarkerModel(fields));
      });
    }

    createRemoveMarkerAction(marker) {
      const owner = modelOf(this, null, 'Markers');
      const mk = markerOf(marker);
      return api.action(owner.project, 'Markers.createRemoveMarkerAction', () => {
        const i = owner.markers.indexOf(mk);
        if (i < 0) throw new SimReject('The marker is not in this collection');
        owner.markers.splice(i, 1);
      });
    }

    createMoveMarkerAction(marker, tickTime) {
      const owner = modelOf(this, null, 'Markers');
      const mk = markerOf(marker);
      const t = bigOf(tickTime);
      return api.action(owner.project, 'Markers.createMoveMarkerAction', () => {
        if (!owner.markers.includes(mk)) throw new SimReject('The marker is not in this collection');
        if (t < 0n) throw new SimReject('A marker cannot start before zero');
        mk.start = t;
      });
    }
  };

  const markerAction = (obj, what, change) => {
    const mk = markerOf(obj);
    const owner = ownerOfMarker(mk);
    return api.action(owner && owner.project, what, () => {
      if (!ownerOfMarker(mk)) throw new SimReject('The marker has been removed');
      change(mk);
    });
  };

  api.Marker = class Marker {
    constructor() { illegalConstructor(); }
    getColor() {
      const c = COLORS[markerOf(this).colorIndex] || COLORS[0];
      return new Color(c[0], c[1], c[2], 1);
    }
    getColorIndex() { return markerOf(this).colorIndex; }
    getComments() { return markerOf(this).comments; }
    getDuration() { return fromBig(markerOf(this).duration); }
    getName() { return markerOf(this).name; }
    getUrl() { return markerOf(this).url; }
    getTarget() { return markerOf(this).target; }
    getType() { return markerOf(this).type; }
    getStart() { return fromBig(markerOf(this).start); }
    createSetColorByIndexAction(colorIndex) {
      return markerAction(this, 'Marker.createSetColorByIndexAction', (mk) => {
        if (!Number.isInteger(colorIndex) || colorIndex < 0 || colorIndex >= COLORS.length) throw new SimReject(`Marker colour index ${colorIndex} is out of range (0-${COLORS.length - 1})`);
        mk.colorIndex = colorIndex;
      });
    }
    createSetNameAction(name) { const v = String(name); return markerAction(this, 'Marker.createSetNameAction', (mk) => { mk.name = v; }); }
    createSetDurationAction(tickTime) {
      const d = bigOf(tickTime);
      return markerAction(this, 'Marker.createSetDurationAction', (mk) => {
        if (d < 0n) throw new SimReject('A marker duration cannot be negative');
        mk.duration = d;
      });
    }
    createSetTypeAction(markerType) {
      const v = String(markerType);
      return markerAction(this, 'Marker.createSetTypeAction', (mk) => {
        if (!KNOWN_TYPES.has(v)) throw new SimReject(`Unknown marker type '${v}'`);
        mk.type = v;
      });
    }
    createSetCommentsAction(comments) { const v = String(comments); return markerAction(this, 'Marker.createSetCommentsAction', (mk) => { mk.comments = v; }); }
    get guid() { return Guid.fromString(markerOf(this).guid); }
    static get MARKER_TYPE_COMMENT() { return TYPES.COMMENT; }
    static get MARKER_TYPE_CHAPTER() { return TYPES.CHAPTER; }
    static get MARKER_TYPE_FLVCUEPOINT() { return TYPES.FLVCUEPOINT; }
    static get MARKER_TYPE_WEBLINK() { return TYPES.WEBLINK; }
  };
}

module.exports = { install, MARKER_TYPES: TYPES, MARKER_COLORS: COLORS };

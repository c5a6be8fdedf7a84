'use strict';
// The simulated `premierepro` module: one per simulated application.

const { AppModel } = require('./model');
const values = require('./values');
const { Constants } = require('./constants');
const since = require('./since');

// Value classes are shared by every simulated application, so no version may take a
// member away from them; a row of since.js that tried to would be a bug here.
const SHARED = new Set(['Color', 'FrameRate', 'Guid', 'PointF', 'RectF', 'TickTime', 'TimeDisplay', 'Constants']);

/**
 * Removes what the simulated version does not have yet, as the since.js table says: whole
 * classes (member "*") and single members, static or on the prototype.
 */
function gate(ppro, version) {
  for (const row of since.SINCE) {
    if (since.compareVersions(version, row.since) >= 0 || !(row.class in ppro)) continue;
    if (SHARED.has(row.class)) throw new Error(`since.js: ${row.class} is shared by all versions and cannot be gated`);
    if (row.member === '*') {
      delete ppro[row.class];
      continue;
    }
    const owner = row.static ? ppro[row.class] : ppro[row.class].prototype;
    if (Object.prototype.hasOwnProperty.call(owner, row.member)) delete owner[row.member];
  }
  for (const row of since.PROMISE_UNTIL) {
    if (since.compareVersions(version, row.until) >= 0 || !(row.class in ppro)) continue;
    const owner = row.static ? ppro[row.class] : ppro[row.class].prototype;
    const sync = owner[row.member];
    if (typeof sync !== 'function') continue;
    // Same parameters, same errors (as rejections), the old Promise-returning shape.
    const older = { [row.member](...args) { return new Promise((resolve) => { resolve(sync.apply(this, args)); }); } }[row.member];
    Object.defineProperty(older, 'length', { value: sync.length });
    Object.defineProperty(owner, row.member, { value: older, writable: true, configurable: true, enumerable: false });
  }
  return ppro;
}

/**
 * Builds the module object that `require("premierepro")` returns inside the simulator.
 * @param {AppModel} app
 */
function createPremiere(app) {
  const api = {};
  require('./project').install(api, app);
  require('./items').install(api, app);
  require('./sequence').install(api, app);
  require('./events').install(api, app);
  require('./effects').install(api, app);
  require('./markers').install(api, app);
  require('./export').install(api, app);

  const ppro = {
    Action: api.Action,
    AddTransitionOptions: api.AddTransitionOptions,
    AudioClipTrackItem: api.AudioClipTrackItem,
    AudioComponentChain: api.AudioComponentChain,
    AudioFilterComponent: api.AudioFilterComponent,
    AudioFilterFactory: api.AudioFilterFactory,
    AudioTrack: api.AudioTrack,
    ClipProjectItem: api.ClipProjectItem,
    CloseProjectOptions: api.CloseProjectOptions,
    Color: values.Color,
    Component: api.Component,
    ComponentParam: api.ComponentParam,
    CompoundAction: api.CompoundAction,
    EncoderManager: api.EncoderManager,
    EventManager: api.EventManager,
    Exporter: api.Exporter,
    FolderItem: api.FolderItem,
    FrameRate: values.FrameRate,
    Guid: values.Guid,
    Keyframe: api.Keyframe,
    Marker: api.Marker,
    Markers: api.Markers,
    Media: api.Media,
    Metadata: api.Metadata,
    OpenProjectOptions: api.OpenProjectOptions,
    PointF: values.PointF,
    Project: api.Project,
    ProjectClosedEvent: api.ProjectClosedEvent,
    ProjectConverter: api.ProjectConverter,
    ProjectEvent: api.ProjectEvent,
    ProjectItem: api.ProjectItem,
    RectF: values.RectF,
    Sequence: api.Sequence,
    SequenceEditor: api.SequenceEditor,
    SequenceSettings: api.SequenceSettings,
    SequenceUtils: api.SequenceUtils,
    SourceMonitor: api.SourceMonitor,
    TextSegments: api.TextSegments,
    TickTime: values.TickTime,
    TimeDisplay: values.TimeDisplay,
    TrackItemSelection: api.TrackItemSelection,
    TransitionFactory: api.TransitionFactory,
    Transcript: api.Transcript,
    VideoClipTrackItem: api.VideoClipTrackItem,
    VideoComponentChain: api.VideoComponentChain,
    VideoFilterComponent: api.VideoFilterComponent,
    VideoFilterFactory: api.VideoFilterFactory,
    VideoTrack: api.VideoTrack,
    VideoTransition: api.VideoTransition,
    WorkAreaUtils: api.WorkAreaUtils,
    Constants,
  };
  return Object.freeze(gate(ppro, app.version));
}

module.exports = { createPremiere, AppModel, since };

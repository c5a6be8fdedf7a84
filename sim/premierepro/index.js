'use strict';
// The simulated `premierepro` module: one per simulated application.

const { AppModel } = require('./model');
const values = require('./values');
const { Constants } = require('./constants');

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
    Constants,
  };
  return Object.freeze(ppro);
}

module.exports = { createPremiere, AppModel };

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

  const ppro = {
    Action: api.Action,
    AudioClipTrackItem: api.AudioClipTrackItem,
    AudioComponentChain: api.AudioComponentChain,
    AudioTrack: api.AudioTrack,
    ClipProjectItem: api.ClipProjectItem,
    CloseProjectOptions: api.CloseProjectOptions,
    Color: values.Color,
    Component: api.Component,
    ComponentParam: api.ComponentParam,
    CompoundAction: api.CompoundAction,
    EventManager: api.EventManager,
    FolderItem: api.FolderItem,
    FrameRate: values.FrameRate,
    Guid: values.Guid,
    Keyframe: api.Keyframe,
    Media: api.Media,
    Metadata: api.Metadata,
    OpenProjectOptions: api.OpenProjectOptions,
    PointF: values.PointF,
    Project: api.Project,
    ProjectClosedEvent: api.ProjectClosedEvent,
    ProjectEvent: api.ProjectEvent,
    ProjectItem: api.ProjectItem,
    RectF: values.RectF,
    Sequence: api.Sequence,
    SequenceEditor: api.SequenceEditor,
    SequenceSettings: api.SequenceSettings,
    SequenceUtils: api.SequenceUtils,
    TextSegments: api.TextSegments,
    TickTime: values.TickTime,
    TimeDisplay: values.TimeDisplay,
    TrackItemSelection: api.TrackItemSelection,
    Transcript: api.Transcript,
    VideoClipTrackItem: api.VideoClipTrackItem,
    VideoComponentChain: api.VideoComponentChain,
    VideoTrack: api.VideoTrack,
    Constants,
  };
  return Object.freeze(ppro);
}

module.exports = { createPremiere, AppModel };

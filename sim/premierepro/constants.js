'use strict';
// `premierepro.Constants`. Premiere does not publish the values behind these names, so
// the simulator picks its own: numbers in declaration order, except event names, which
// are the same strings the classes' EVENT_* statics carry.

function numbered(...names) {
  const o = {};
  names.forEach((n, i) => { o[n] = i; });
  return Object.freeze(o);
}

const EVENTS = Object.freeze({
  PROJECT_OPENED: 'ProjectEvent.opened',
  PROJECT_CLOSED: 'ProjectEvent.closed',
  PROJECT_DIRTY: 'ProjectEvent.dirty',
  PROJECT_ACTIVATED: 'ProjectEvent.activated',
  PROJECT_ITEM_SELECTION_CHANGED: 'ProjectEvent.itemSelectionChanged',
  SEQUENCE_ACTIVATED: 'SequenceEvent.activated',
  SEQUENCE_CLOSED: 'SequenceEvent.closed',
  SEQUENCE_SELECTION_CHANGED: 'SequenceEvent.selectionChanged',
  RENDER_COMPLETE: 'EncoderEvent.renderComplete',
  RENDER_ERROR: 'EncoderEvent.renderError',
  RENDER_CANCEL: 'EncoderEvent.renderCancel',
  RENDER_QUEUE: 'EncoderEvent.renderQueue',
  RENDER_PROGRESS: 'EncoderEvent.renderProgress',
  IMPORT_MEDIA_COMPLETE: 'OperationCompleteEvent.importMediaComplete',
  EXPORT_MEDIA_COMPLETE: 'OperationCompleteEvent.exportMediaComplete',
  EFFECT_DROP_COMPLETE: 'OperationCompleteEvent.effectDropComplete',
  EFFECT_DRAG_OVER: 'OperationCompleteEvent.effectDragOver',
  CLIP_EXTEND_REACHED: 'OperationCompleteEvent.clipExtendReached',
  GENERATIVE_EXTEND_COMPLETE: 'OperationCompleteEvent.generativeExtendComplete',
});

const Constants = Object.freeze({
  AAFExportAudioFormat: numbered('AIFF', 'WAV'),
  AudioChannelType: numbered('MONO', 'STEREO', 'SURROUND_51', 'MULTI'),
  AudioDisplayFormatType: numbered('SAMPLE_RATE', 'MILLISECONDS'),
  ContentType: numbered('ANY', 'SEQUENCE', 'MEDIA'),
  EncoderEvent: Object.freeze({
    RENDER_COMPLETE: EVENTS.RENDER_COMPLETE,
    RENDER_ERROR: EVENTS.RENDER_ERROR,
    RENDER_CANCEL: EVENTS.RENDER_CANCEL,
    RENDER_QUEUE: EVENTS.RENDER_QUEUE,
    RENDER_PROGRESS: EVENTS.RENDER_PROGRESS,
  }),
  ExportType: numbered('QUEUE_TO_AME', 'QUEUE_TO_APP', 'IMMEDIATELY'),
  // The same codes as the Keyframe.INTERPOLATION_MODE_* statics (Adobe's keyframe sample
  // lists them: 0 linear, 4 hold, 5 bezier, 6 time, 7/8 time-transition start/end).
  InterpolationMode: Object.freeze({ BEZIER: 5, HOLD: 4, LINEAR: 0, TIME: 6, TIME_TRANSITION_END: 8, TIME_TRANSITION_START: 7 }),
  MarkerColor: numbered('GREEN', 'RED', 'MAGNETA', 'ORANGE', 'YELLOW', 'BLUE', 'CYAN'),
  MediaType: numbered('ANY', 'DATA', 'VIDEO', 'AUDIO'),
  MetadataType: numbered('INTEGER', 'REAL', 'TEXT', 'BOOLEAN'),
  OperationCompleteEvent: Object.freeze({
    CLIP_EXTEND_REACHED: EVENTS.CLIP_EXTEND_REACHED,
    EFFECT_DROP_COMPLETE: EVENTS.EFFECT_DROP_COMPLETE,
    EFFECT_DRAG_OVER: EVENTS.EFFECT_DRAG_OVER,
    EXPORT_MEDIA_COMPLETE: EVENTS.EXPORT_MEDIA_COMPLETE,
    GENERATIVE_EXTEND_COMPLETE: EVENTS.GENERATIVE_EXTEND_COMPLETE,
    IMPORT_MEDIA_COMPLETE: EVENTS.IMPORT_MEDIA_COMPLETE,
  }),
  OperationCompleteState: numbered('SUCCESS', 'CANCELLED', 'FAILED'),
  ProjectEvent: Object.freeze({
    OPENED: EVENTS.PROJECT_OPENED,
    CLOSED: EVENTS.PROJECT_CLOSED,
    DIRTY: EVENTS.PROJECT_DIRTY,
    ACTIVATED: EVENTS.PROJECT_ACTIVATED,
    PROJECT_ITEM_SELECTION_CHANGED: EVENTS.PROJECT_ITEM_SELECTION_CHANGED,
  }),
  ProjectItemColorLabel: numbered('VIOLET', 'IRIS', 'LAVENDER', 'CERULEAN', 'FOREST', 'ROSE', 'MANGO',
    'PURPLE', 'BLUE', 'TEAL', 'MAGENTA', 'TAN', 'GREEN', 'BROWN', 'YELLOW'),
  SequenceEvent: Object.freeze({
    ACTIVATED: EVENTS.SEQUENCE_ACTIVATED,
    CLOSED: EVENTS.SEQUENCE_CLOSED,
    SELECTION_CHANGED: EVENTS.SEQUENCE_SELECTION_CHANGED,
  }),
  TrackItemType: numbered('EMPTY', 'CLIP', 'TRANSITION', 'PREVIEW', 'FEEDBACK'),
  TransitionPosition: numbered('START', 'END'),
  VideoFieldType: numbered('PROGRESSIVE', 'UPPER_FIRST', 'LOWER_FIRST'),
});

module.exports = { Constants, EVENTS };

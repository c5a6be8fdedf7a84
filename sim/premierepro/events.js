'use strict';
// EventManager and the event-name statics of ProjectEvent / ProjectClosedEvent.

const { illegalConstructor, peekModel } = require('./internal');
const { EVENTS } = require('./constants');

function install(api, app) {
  const targetOf = (target) => {
    const m = peekModel(target);
    if (!m) throw new TypeError('Illegal argument: expected a Project, Sequence, track or EncoderManager');
    return m;
  };
  const checkHandler = (h) => {
    if (typeof h !== 'function') throw new TypeError('Illegal argument: eventHandler must be a function');
  };
  // Project event payloads carry the project as an API object.
  const wrap = (handler) => (payload) => {
    if (payload && payload.project && typeof payload.project === 'object' && !(payload.project instanceof api.Project)) {
      payload = Object.assign({}, payload, { project: require('./internal').view(api.Project, payload.project) });
    }
    handler(payload);
  };

  api.EventManager = class EventManager {
    constructor() { illegalConstructor(); }
    static addEventListener(target, eventName, eventHandler, inCapturePhase = undefined) {
      checkHandler(eventHandler);
      app.listeners.push({ target: targetOf(target), name: eventName, handler: wrap(eventHandler), original: eventHandler });
    }
    static removeEventListener(target, eventName, eventHandler) {
      const t = targetOf(target);
      app.listeners = app.listeners.filter((l) => !(l.target === t && l.name === eventName && l.original === eventHandler));
    }
    static addGlobalEventListener(eventName, eventHandler, inCapturePhase = undefined) {
      checkHandler(eventHandler);
      app.listeners.push({ target: null, name: eventName, handler: wrap(eventHandler), original: eventHandler });
    }
    static removeGlobalEventListener(eventName, eventHandler) {
      app.listeners = app.listeners.filter((l) => !(l.target === null && l.name === eventName && l.original === eventHandler));
    }
  };

  api.ProjectEvent = class ProjectEvent {
    constructor() { illegalConstructor(); }
    static get EVENT_OPENED() { return EVENTS.PROJECT_OPENED; }
    static get EVENT_ACTIVATED() { return EVENTS.PROJECT_ACTIVATED; }
    static get EVENT_DIRTY() { return EVENTS.PROJECT_DIRTY; }
  };

  api.ProjectClosedEvent = class ProjectClosedEvent {
    constructor() { illegalConstructor(); }
    static get EVENT_CLOSED() { return EVENTS.PROJECT_CLOSED; }
  };
}

module.exports = { install };

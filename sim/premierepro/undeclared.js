'use strict';
// Members the simulator offers although the 26.3 declarations (@adobe/premierepro) do not
// list them, each with where Adobe documents it (at some modelled version; see since.js). The API fidelity check accepts exactly
// these and reports them.

module.exports = [
  {
    className: 'Transcript', member: 'transcribeClipProjectItem', static: true, kind: 'method', promise: true,
    source: "Adobe's live Transcript reference page: transcribeClipProjectItem(clipProjectItem, options?) → Promise<boolean>",
  },
  {
    className: 'WorkAreaUtils', member: '*', static: true, kind: 'class',
    source: 'AdobeDocs/uxp-premiere-pro-samples sample-panels/premiere-api/src/workAreaUtils.ts (commit a9d762f, 26.5 beta declarations): get/setWorkAreaInPoint, get/setWorkAreaOutPoint, setWorkAreaInOutPoints; offered from 26.5 (since.js)',
  },
  {
    className: 'Media', member: 'getStart', static: false, kind: 'method', promise: false,
    source: 'AdobeDocs/uxp-premiere-pro-samples commit b6b0fba: `media.getStart()` (synchronous, TickTime) with the 26.5.0 beta declarations; offered from 26.5 (since.js)',
  },
  {
    className: 'Media', member: 'getDuration', static: false, kind: 'method', promise: false,
    source: 'AdobeDocs/uxp-premiere-pro-samples commit b6b0fba: `media.getDuration()` (synchronous, TickTime); offered from 26.5 (since.js)',
  },
];

'use strict';
// Members the simulator offers although the 26.3 declarations (@adobe/premierepro) do not
// list them, each with where Adobe documents it. The API fidelity check accepts exactly
// these and reports them.

module.exports = [
  {
    className: 'Transcript', member: 'transcribeClipProjectItem', static: true, kind: 'method', promise: true,
    source: "Adobe's live Transcript reference page: transcribeClipProjectItem(clipProjectItem, options?) → Promise<boolean>",
  },
];

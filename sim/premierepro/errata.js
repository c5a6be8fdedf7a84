'use strict';
// Where Adobe's reference and the 26.3 declarations (@adobe/premierepro) disagree, the
// simulator, the type check and the API-shape check follow the reference. One row per
// member: { class, member, static, kind, promise, declared, reference, source }.
// (Markers.getMarkers, static, is already a Promise in the 26.3 declarations, as in the
// reference, and needs no row.)
//
//  - kind "property" with promise true: reading the property yields a Promise, although
//    the declarations give the bare value; the plug-in must await the read.
//  - kind "method" with promise true: the method returns a Promise, although declared
//    synchronous; the plug-in must await the call.
//
// The plug-in sees the corrected types through types/premierepro-errata.d.ts (one entry
// there per row here; tests/js/api-check.test.js keeps the two in step).

module.exports = [
  {
    class: 'Media', member: 'start', kind: 'property', promise: true,
    declared: 'TickTime', reference: 'Promise<TickTime>',
    source: "ppro-reference/classes/media; Adobe's sample changed to `await media.duration` in commit 9b09c45 (Sep 2025) and typed both as Promise<TickTime>; deprecated for getStart() in 26.5",
  },
  {
    class: 'Media', member: 'duration', kind: 'property', promise: true,
    declared: 'TickTime', reference: 'Promise<TickTime>',
    source: 'ppro-reference/classes/media; AdobeDocs/uxp-premiere-pro-samples commit 9b09c45 ("await for media duration"); deprecated for getDuration() in 26.5',
  },
  {
    class: 'Application', member: 'version', kind: 'property', promise: true,
    declared: 'string', reference: 'Promise<string>',
    source: 'ppro-reference/classes/application (version: Promise<string>)',
  },
];

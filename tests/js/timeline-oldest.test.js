'use strict';
// The timeline verbs again, against the oldest Premiere the plug-in's manifest admits
// (setSelection still answers a Promise there, and tracks cannot be renamed).
process.env.CUTRELAY_PREMIERE_VERSION = require('../../sim/premierepro/since').OLDEST;
require('./timeline.test.js');

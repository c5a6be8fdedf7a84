'use strict';
// The same, against the oldest Premiere the plug-in's manifest admits.
process.env.CUTRELAY_PREMIERE_VERSION = require('../../sim/premierepro/since').OLDEST;
require('./premiere-patterns.test.js');

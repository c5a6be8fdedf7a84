'use strict';
// Faults on request: the simulator can lie about the transactions of named verbs, the way a
// real Premiere sometimes does (a transaction that answers success and changes nothing, a
// compound action of which only part applies, an action gone stale). The simulator knows
// which verb runs from the call messages it delivers to the plug-ins: a transaction made
// while a faulted verb is in flight gets that verb's fault.

const FAULT_MODES = ['noop', 'partial', 'stale'];

/** A verb as the plug-ins receive it: the bridge's "premiere_" prefix is optional. */
function verbName(v) {
  return String(v).trim().replace(/^premiere_/, '');
}

/**
 * Reads the faults asked for: `{noop: ['add_marker'], partial: 'trim_clip'}` or a list of
 * texts such as "noop=add_marker,move_clip" (the command line's --fault). Throws on a mode
 * it does not know or a fault without verbs.
 * @returns {Map<string, string>} verb → mode
 */
function parseFaults(asked) {
  const out = new Map();
  if (asked === undefined || asked === null) return out;
  const add = (mode, verbs) => {
    if (!FAULT_MODES.includes(mode)) throw new Error(`unknown fault "${mode}" (one of ${FAULT_MODES.join(', ')})`);
    const list = (Array.isArray(verbs) ? verbs : String(verbs).split(',')).map(verbName).filter((v) => v !== '');
    if (list.length === 0) throw new Error(`fault "${mode}" names no verb`);
    for (const v of list) out.set(v, mode);
  };
  if (typeof asked === 'string' || Array.isArray(asked)) {
    for (const text of typeof asked === 'string' ? [asked] : asked) {
      const eq = String(text).indexOf('=');
      if (eq < 0) throw new Error(`--fault takes MODE=VERB[,VERB…], not "${text}"`);
      add(String(text).slice(0, eq).trim(), String(text).slice(eq + 1));
    }
  } else {
    for (const [mode, verbs] of Object.entries(asked)) add(mode, verbs);
  }
  return out;
}

/** The verbs in flight and the faults asked for. */
class FaultPlan {
  constructor(asked) {
    this.byVerb = parseFaults(asked);
    this.inFlight = new Map(); // token → verb
    this.nextToken = 1;
  }

  /** Replaces the faults asked for (tests change them between calls). */
  set(asked) { this.byVerb = parseFaults(asked); }

  /** A call message was delivered to a plug-in. @returns {number} its token */
  begin(verb) {
    const token = this.nextToken++;
    this.inFlight.set(token, verbName(verb));
    return token;
  }

  end(token) { this.inFlight.delete(token); }

  /** The fault of the verbs in flight, or null. */
  current() {
    if (this.byVerb.size === 0) return null;
    for (const verb of this.inFlight.values()) {
      const mode = this.byVerb.get(verb);
      if (mode) return mode;
    }
    return null;
  }
}

module.exports = { FaultPlan, parseFaults, FAULT_MODES };

// Corrections to Adobe's 26.3 declarations (@adobe/premierepro) where Adobe's reference
// pages say otherwise; each type here carries the class's own name, so the API check sees
// the corrected member as belonging to that class. One entry per row of
// sim/premierepro/errata.js, whose rows give the sources.
//
// - Media.start / Media.duration: Promise<TickTime> (declared TickTime).
// - Media.getStart / Media.getDuration: added in 26.5 (synchronous, TickTime); optional
//   here because older versions lack them.
// - Application.version: Promise<string> (declared string).
import type { Media as DeclaredMedia, Application as DeclaredApplication, TickTime } from "@adobe/premierepro";

export type Media = Omit<DeclaredMedia, "start" | "duration"> & {
  readonly start: Promise<TickTime>;
  readonly duration: Promise<TickTime>;
  getStart?: () => TickTime;
  getDuration?: () => TickTime;
};

export type Application = Omit<DeclaredApplication, "version"> & {
  readonly version: Promise<string>;
};

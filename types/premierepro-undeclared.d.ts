// Members of the `premierepro` module that the plug-in uses but that the 26.3 declarations
// (@adobe/premierepro) do not list. Each is feature-tested before use, and reached through
// a cast to this type so that the declared surface stays Adobe's own.
//
// - Transcript.transcribeClipProjectItem: on Adobe's live Transcript reference page
//   ("transcribeClipProjectItem(clipProjectItem, options?)", Promise<boolean>).
// - WorkAreaUtils: used by Adobe's premiere-api sample panel (workAreaUtils.ts) with a
//   ts-expect-error; synchronous calls returning boolean.
import type { ClipProjectItem, Sequence, TickTime } from "@adobe/premierepro";

export type UndeclaredPremiere = {
  Transcript?: {
    transcribeClipProjectItem?: (
      clipProjectItem: ClipProjectItem,
      options?: { languageCode?: string }
    ) => Promise<boolean>;
  };
  WorkAreaUtils?: {
    getWorkAreaInPoint(sequence: Sequence): TickTime;
    getWorkAreaOutPoint(sequence: Sequence): TickTime;
    setWorkAreaInPoint(sequence: Sequence, inPoint: TickTime): boolean;
    setWorkAreaOutPoint(sequence: Sequence, outPoint: TickTime): boolean;
    setWorkAreaInOutPoints(sequence: Sequence, inPoint: TickTime, outPoint: TickTime): boolean;
  };
};

// Globals of the UXP runtime that the plug-in uses and that @adobe/cc-ext-uxp-types does
// not declare. Only documented runtime facts go here.

// WebSocket event handlers (UXP network guide; the typings declare the class without them).
interface WebSocket {
  onopen: ((event?: any) => void) | null;
  onmessage: ((event: { data: any }) => void) | null;
  onerror: ((event?: any) => void) | null;
  onclose: ((event?: any) => void) | null;
}

// Timers and console are globals of every UXP host.
declare function setTimeout(handler: () => void, timeout?: number): any;
declare function clearTimeout(handle: any): void;
declare var console: { log(...args: any[]): void; error(...args: any[]): void };

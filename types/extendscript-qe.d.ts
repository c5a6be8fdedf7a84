// The QE DOM ("Quality Engineering") as cep-helper/host.jsx uses it. Adobe publishes no
// declarations for it and does not support it; these follow the members public scripts
// and Adobe's PProPanel sample call. The standard `app` DOM comes from types-for-adobe.

declare interface QETime {
  ticks: string
  secs: number
  frames: number
  timecode: string
}

declare interface QETrackItem {
  /** "Clip", or "Empty" for a gap between clips. */
  readonly type: string
  readonly name: string
  readonly start: QETime
  readonly end: QETime
  readonly duration: QETime
  readonly speed: number
  readonly reversed: boolean
  /** speed 1 = 100 %; duration '' lets Premiere derive it from the speed. */
  setSpeed(speed: number, duration: string, reverse: boolean, ripple: boolean, maintainPitch: boolean): boolean
}

declare interface QETrack {
  readonly name: string
  readonly index: number
  /** Items including the "Empty" gaps between clips. */
  readonly numItems: number
  getItemAt(index: number): QETrackItem | null
  razor(timecode: string, ...rest: any[]): any
  isLocked(): boolean
  setLock(locked: boolean): any
}

declare interface QESequence {
  readonly name: string
  readonly guid: string
  readonly numVideoTracks: number
  readonly numAudioTracks: number
  readonly CTI: QETime
  getVideoTrackAt(index: number): QETrack
  getAudioTrackAt(index: number): QETrack
  addTracks(numVideo: number, videoInsertIndex: number, numAudio: number, audioChannelType: number,
    audioInsertIndex: number, numSubmix: number, submixChannelType: number, submixInsertIndex: number): boolean
  removeVideoTrack(index: number): any
  removeAudioTrack(index: number): any
  razor(timecode: string, ...rest: any[]): any
  exportFramePNG(timecode: string, outputPath: string): any
}

declare interface QEProject {
  getActiveSequence(): QESequence | null
  readonly numSequences: number
  getSequenceAt(index: number): QESequence | null
}

/** Present after app.enableQE(). */
declare var qe: { project: QEProject }

// types-for-adobe replaces the standard library (noLib) and lacks this utility type, which
// the compiler needs once any declaration uses `keyof`.
type Extract<T, U> = T extends U ? T : never

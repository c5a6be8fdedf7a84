'use strict';
// Interchange files of a sequence model: OpenTimelineIO (JSON) and Final Cut Pro XML
// (xmeml version 4, what Premiere's "Final Cut Pro XML" export writes).
//
// Times are at the sequence's video frame rate. OTIO keeps rational times (value at rate);
// xmeml counts whole frames. Tracks are listed video first (V1 up), then audio.
// Transitions and effects are not written.

const { pathToFileURL } = require('url');

const TPS = 254016000000;

function rateOf(seq) {
  const fps = TPS / seq.settings.tpf;
  const nominal = Math.round(fps);
  return { fps, nominal, ntsc: Math.abs(fps - nominal) > 0.001 };
}

function fileUrl(p) {
  try { return pathToFileURL(p).href; } catch (e) { return 'file://' + encodeURI(p); }
}

// -- OpenTimelineIO ---------------------------------------------------------------------

function writeOtio(seq) {
  const { fps } = rateOf(seq);
  const tpf = seq.settings.tpf;
  const rt = (ticks) => ({ OTIO_SCHEMA: 'RationalTime.1', rate: fps, value: Number(ticks) / tpf });
  const range = (start, dur) => ({ OTIO_SCHEMA: 'TimeRange.1', start_time: rt(start), duration: rt(dur) });
  const base = (schema, name) => ({ OTIO_SCHEMA: schema, metadata: {}, name });

  const clip = (ti) => {
    const item = ti.source;
    const out = Object.assign(base('Clip.2', ti.name), {
      source_range: range(ti.inPoint, ti.end - ti.start),
      effects: [],
      markers: [],
      enabled: !ti.disabled,
      active_media_reference_key: 'DEFAULT_MEDIA',
    });
    let ref;
    if (item && item.media) {
      ref = Object.assign(base('ExternalReference.1', item.name), {
        target_url: fileUrl(item.media.path),
        available_range: range(0n, BigInt(item.media.durationTicks)),
        available_image_bounds: null,
      });
    } else {
      ref = Object.assign(base('MissingReference.1', item ? item.name : ti.name), { available_range: null, available_image_bounds: null });
      if (ti.graphic) ref.metadata = { template: ti.graphic.template };
    }
    out.media_references = { DEFAULT_MEDIA: ref };
    return out;
  };

  const track = (t, kind) => {
    const children = [];
    let cursor = 0n;
    for (const ti of t.items) {
      if (ti.start > cursor) {
        children.push(Object.assign(base('Gap.1', ''), { source_range: range(0n, ti.start - cursor), effects: [], markers: [], enabled: true }));
      }
      children.push(clip(ti));
      cursor = ti.end;
    }
    return Object.assign(base('Track.1', t.name), { source_range: null, effects: [], markers: [], enabled: !t.muted, kind, children });
  };

  const markers = seq.markers.map((m) => Object.assign(base('Marker.2', m.name), {
    marked_range: range(m.start, m.duration),
    color: ['GREEN', 'RED', 'PURPLE', 'ORANGE', 'YELLOW', 'WHITE', 'BLUE', 'CYAN'][m.colorIndex] || 'GREEN',
    comment: m.comments,
  }));

  const timeline = Object.assign(base('Timeline.1', seq.name), {
    global_start_time: rt(seq.zeroPoint),
    tracks: Object.assign(base('Stack.1', 'tracks'), {
      source_range: null,
      effects: [],
      markers,
      enabled: true,
      children: seq.video.map((t) => track(t, 'Video')).concat(seq.audio.map((t) => track(t, 'Audio'))),
    }),
  });
  return JSON.stringify(timeline, null, 4);
}

// -- Final Cut Pro XML (xmeml 4) --------------------------------------------------------

function esc(s) {
  return String(s).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&apos;' }[c]));
}

function writeFcpXml(seq) {
  const { nominal, ntsc } = rateOf(seq);
  const tpf = seq.settings.tpf;
  const frames = (ticks) => Math.round(Number(ticks) / tpf);
  const rate = (ind) => `${ind}<rate>\n${ind}  <timebase>${nominal}</timebase>\n${ind}  <ntsc>${ntsc ? 'TRUE' : 'FALSE'}</ntsc>\n${ind}</rate>`;
  const files = new Map();
  let clipId = 0;
  const lines = [];
  const push = (s) => lines.push(s);

  const fileXml = (item, ind) => {
    if (files.has(item.id)) return `${ind}<file id="${files.get(item.id)}"/>`;
    const id = `file-${files.size + 1}`;
    files.set(item.id, id);
    const m = item.media;
    const media = [];
    if (m.hasVideo) media.push(`${ind}    <video>\n${ind}      <samplecharacteristics>\n${ind}        <width>${m.width}</width>\n${ind}        <height>${m.height}</height>\n${ind}      </samplecharacteristics>\n${ind}    </video>`);
    if (m.hasAudio) media.push(`${ind}    <audio>\n${ind}      <channelcount>${m.audioChannels || 2}</channelcount>\n${ind}    </audio>`);
    return [
      `${ind}<file id="${id}">`,
      `${ind}  <name>${esc(item.name)}</name>`,
      `${ind}  <pathurl>${esc(fileUrl(m.path))}</pathurl>`,
      rate(ind + '  '),
      `${ind}  <duration>${frames(BigInt(m.durationTicks))}</duration>`,
      `${ind}  <media>`,
      ...media,
      `${ind}  </media>`,
      `${ind}</file>`,
    ].join('\n');
  };

  const trackXml = (t, ind) => {
    push(`${ind}<track>`);
    for (const ti of t.items) {
      clipId += 1;
      const dur = ti.source && ti.source.media ? frames(BigInt(ti.source.media.durationTicks)) : frames(ti.end - ti.start);
      push(`${ind}  <clipitem id="clipitem-${clipId}">`);
      push(`${ind}    <name>${esc(ti.name)}</name>`);
      push(`${ind}    <enabled>${ti.disabled ? 'FALSE' : 'TRUE'}</enabled>`);
      push(`${ind}    <duration>${dur}</duration>`);
      push(rate(ind + '    '));
      push(`${ind}    <start>${frames(ti.start)}</start>`);
      push(`${ind}    <end>${frames(ti.end)}</end>`);
      push(`${ind}    <in>${frames(ti.inPoint)}</in>`);
      push(`${ind}    <out>${frames(ti.outPoint)}</out>`);
      if (ti.source && ti.source.media) push(fileXml(ti.source, ind + '    '));
      push(`${ind}  </clipitem>`);
    }
    push(`${ind}  <enabled>${t.muted ? 'FALSE' : 'TRUE'}</enabled>`);
    push(`${ind}</track>`);
  };

  push('<?xml version="1.0" encoding="UTF-8"?>');
  push('<!DOCTYPE xmeml>');
  push('<xmeml version="4">');
  push(`  <sequence id="sequence-1">`);
  push(`    <uuid>${esc(seq.guid)}</uuid>`);
  push(`    <duration>${frames(seq.endTime())}</duration>`);
  push(rate('    '));
  push(`    <name>${esc(seq.name)}</name>`);
  push('    <media>');
  push('      <video>');
  push('        <format>');
  push('          <samplecharacteristics>');
  push(rate('            '));
  push(`            <width>${seq.settings.width}</width>`);
  push(`            <height>${seq.settings.height}</height>`);
  push('          </samplecharacteristics>');
  push('        </format>');
  for (const t of seq.video) trackXml(t, '        ');
  push('      </video>');
  push('      <audio>');
  for (const t of seq.audio) trackXml(t, '        ');
  push('      </audio>');
  push('    </media>');
  for (const m of seq.markers) {
    push('    <marker>');
    push(`      <name>${esc(m.name)}</name>`);
    push(`      <comment>${esc(m.comments)}</comment>`);
    push(`      <in>${frames(m.start)}</in>`);
    push(`      <out>${m.duration > 0n ? frames(m.start + m.duration) : -1}</out>`);
    push('    </marker>');
  }
  push('  </sequence>');
  push('</xmeml>');
  return lines.join('\n') + '\n';
}

module.exports = { writeOtio, writeFcpXml };

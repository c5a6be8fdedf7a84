'use strict';
// Just enough of the panel's document for the plug-in: the elements that index.html
// gives an id, with className and textContent.

function createDocument(html) {
  const elements = new Map();
  const re = /<(\w+)([^>]*?)\sid="([^"]+)"([^>]*)>([^<]*)/g;
  let m;
  while ((m = re.exec(html)) !== null) {
    const attrs = m[2] + ' ' + m[4];
    const cls = /class="([^"]*)"/.exec(attrs);
    elements.set(m[3], { id: m[3], tagName: m[1].toUpperCase(), className: cls ? cls[1] : '', textContent: m[5] });
  }
  return {
    elements,
    getElementById(id) { return elements.get(String(id)) || null; },
  };
}

module.exports = { createDocument };

#!/usr/bin/env node
'use strict';
// Holds cep-helper/host.jsx to ExtendScript's dialect, ES3: the file must parse as ES3
// (no let/const, arrow functions, template strings, getters in literals …) and must not
// use what ES5 and later added to the library, which Premiere's ExtendScript lacks (JSON,
// Object.keys, Array.isArray, forEach/map/filter ..., trim, bind, Date.now). It must also be
// ASCII, since ExtendScript may read a file without a byte-order mark in the system's
// encoding.
//
// Usage: node tests/js/tools/check-es3.js [file …]   (exit status 1 on any finding)

const fs = require('fs');
const path = require('path');
const acorn = require('acorn');

const ROOT = path.resolve(__dirname, '..', '..', '..');
const DEFAULT_FILES = [path.join(ROOT, 'cep-helper', 'host.jsx')];

const LATER_GLOBALS = new Set(['JSON', 'Promise', 'Map', 'Set', 'WeakMap', 'Symbol', 'Proxy', 'Reflect', 'globalThis']);
const LATER_STATICS = {
  Object: new Set(['keys', 'create', 'defineProperty', 'defineProperties', 'getPrototypeOf', 'freeze', 'assign', 'entries', 'values']),
  Array: new Set(['isArray', 'from', 'of']),
  Date: new Set(['now']),
  Number: new Set(['isInteger', 'isFinite', 'isNaN']),
};
// Methods that only arrays (or functions) gained after ES3. indexOf is left out: strings
// have had it since ES1.
const LATER_METHODS = new Set(['forEach', 'map', 'filter', 'reduce', 'reduceRight', 'some', 'every', 'trim', 'bind',
  'includes', 'startsWith', 'endsWith', 'find', 'findIndex', 'padStart', 'padEnd', 'repeat']);

function walk(node, visit, parent) {
  if (!node || typeof node.type !== 'string') return;
  visit(node, parent);
  for (const key of Object.keys(node)) {
    const v = node[key];
    if (Array.isArray(v)) for (const c of v) walk(c, visit, node);
    else if (v && typeof v.type === 'string') walk(v, visit, node);
  }
}

/** Findings for one script text: [{line, message}]. */
function checkText(text) {
  let ast;
  try {
    ast = acorn.parse(text, { ecmaVersion: 3, locations: true });
  } catch (e) {
    return [{ line: e.loc ? e.loc.line : 0, message: `not ES3: ${e.message.replace(/ \(\d+:\d+\)$/, '')}` }];
  }
  const found = [];
  text.split('\n').forEach((line, i) => {
    // ExtendScript may read a file without a byte-order mark in the system's encoding.
    if (/[^\x00-\x7f]/.test(line)) found.push({ line: i + 1, message: 'non-ASCII character: write it as a \\u escape' });
  });
  const declared = new Set();
  walk(ast, (n) => {
    if (n.type === 'FunctionDeclaration' && n.id) declared.add(n.id.name);
    if (n.type === 'VariableDeclarator') declared.add(n.id.name);
  });
  walk(ast, (n, parent) => {
    const line = n.loc.start.line;
    if (n.type === 'Identifier' && LATER_GLOBALS.has(n.name) && !declared.has(n.name)) {
      const isProperty = parent && parent.type === 'MemberExpression' && parent.property === n && !parent.computed;
      const isKey = parent && parent.type === 'Property' && parent.key === n;
      if (!isProperty && !isKey) found.push({ line, message: `${n.name} does not exist in ExtendScript` });
    }
    if (n.type === 'MemberExpression' && !n.computed && n.property.type === 'Identifier') {
      const prop = n.property.name;
      if (n.object.type === 'Identifier' && LATER_STATICS[n.object.name] && LATER_STATICS[n.object.name].has(prop)) {
        found.push({ line, message: `${n.object.name}.${prop} does not exist in ExtendScript` });
      } else if (LATER_METHODS.has(prop) && parent && parent.type === 'CallExpression' && parent.callee === n) {
        found.push({ line, message: `.${prop}() does not exist in ExtendScript (ES3)` });
      }
    }
  });
  return found;
}

function main(files) {
  let bad = 0;
  for (const file of files) {
    for (const f of checkText(fs.readFileSync(file, 'utf8'))) {
      bad += 1;
      process.stderr.write(`${path.relative(ROOT, file)}:${f.line}: ${f.message}\n`);
    }
  }
  if (bad > 0) {
    process.stderr.write(`${bad} ExtendScript problem(s)\n`);
    process.exit(1);
  }
  process.stdout.write(`ES3 check: ${files.map((f) => path.relative(ROOT, f)).join(', ')} ok\n`);
}

if (require.main === module) main(process.argv.length > 2 ? process.argv.slice(2).map((f) => path.resolve(f)) : DEFAULT_FILES);

module.exports = { checkText };
